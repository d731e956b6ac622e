#include "app/model/LogWindowModel.h"

#include "app/model/WindowTexts.h"
#include "platform/text.h"

#include <algorithm>

namespace qv {

LogWindowModel::LogWindowModel(LogWindowView &view) : view_(view), caption_(text::kLogFirstCaption) {}

void LogWindowModel::setCaptionFromTemplate(const std::string &archiveName)
{
    setCaption(Format(text::kLogCaptionTemplate, {archiveName}));
}

void LogWindowModel::setCaption(const std::string &caption)
{
    caption_ = caption;
    view_.captionChanged();
}

void LogWindowModel::clearLines()
{
    pending_.clear();
    shown_.clear();
    view_.linesCleared();
}

bool LogWindowModel::paintDue() const
{
    return !painted_ ||
           std::chrono::steady_clock::now() - lastPaint_ >= std::chrono::milliseconds(kPaintIntervalMs);
}

void LogWindowModel::flush()
{
    if (timerRunning_) {
        timerRunning_ = false;
        view_.stopFlushTimer();
    }
    if (!pending_.empty()) {
        std::vector<std::string> lines;
        lines.swap(pending_);
        shown_.insert(shown_.end(), lines.begin(), lines.end());
        view_.appendLines(lines);
    }
    if (pendingProgress_ >= 0) {
        shownProgress_ = pendingProgress_;
        pendingProgress_ = -1;
        view_.progressChanged();
    }
    painted_ = true;
    lastPaint_ = std::chrono::steady_clock::now();
}

void LogWindowModel::addLine(const std::string &line)
{
    pending_.push_back(line);
    if (paintDue())
        flush();
    else if (!timerRunning_) {
        timerRunning_ = true;
        view_.startFlushTimer(kPaintIntervalMs);
    }
}

void LogWindowModel::repaintPane()
{
    if (!paintDue())
        return;  // the timer brings the lines in
    flush();
    view_.paintPane();
}

void LogWindowModel::setStopVisible(bool visible)
{
    stopVisible_ = visible;
    view_.buttonsChanged();
}

void LogWindowModel::setCloseEnabled(bool enabled)
{
    closeEnabled_ = enabled;
    view_.buttonsChanged();
}

void LogWindowModel::showModeless()
{
    flush();
    view_.showWindow();
}

// The bar appears at once and reaches its end at once; between, it moves
// no more often than the lines come in.
void LogWindowModel::setProgress(std::int64_t done, std::int64_t total)
{
    const int value = total > 0 ? static_cast<int>(std::clamp<std::int64_t>(done, 0, total) * kProgressMax / total)
                                : kProgressMax;
    if (!progressVisible_ || value == kProgressMax || paintDue()) {
        pendingProgress_ = value;
        const bool appears = !progressVisible_;
        progressVisible_ = true;
        flush();
        if (appears)
            view_.progressChanged();
        return;
    }
    if (value == shownProgress_)
        return;
    pendingProgress_ = value;
    if (!timerRunning_) {
        timerRunning_ = true;
        view_.startFlushTimer(kPaintIntervalMs);
    }
}

void LogWindowModel::hideProgress()
{
    pendingProgress_ = -1;
    flush();
    progressVisible_ = false;
    view_.progressChanged();
}

void LogWindowModel::discard() { view_.release(); }

std::vector<std::string> LogWindowModel::lines() const
{
    std::vector<std::string> all = shown_;
    all.insert(all.end(), pending_.begin(), pending_.end());
    return all;
}

void LogWindowModel::pressStop()
{
    stopPressed_ = true;
    view_.buttonsChanged();
}

}  // namespace qv
