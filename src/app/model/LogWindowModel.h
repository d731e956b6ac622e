// What a log window does, without the window: its caption, its lines (which
// reach the pane a few times a second, so that a run of thousands of files
// is not spent drawing), the progress bar, STOP and the close rules. The
// operations write to it as a LogWindow; each window (Qt's, the native one)
// implements LogWindowView and shows what it is told.
#pragma once

#include "archive/Interaction.h"

#include <chrono>
#include <string>
#include <vector>

namespace qv {

class LogWindowView {
public:
    virtual ~LogWindowView() = default;
    virtual void captionChanged() = 0;
    // Lines for the end of the pane, in order; linesCleared empties it.
    virtual void appendLines(const std::vector<std::string> &lines) = 0;
    virtual void linesCleared() = 0;
    // STOP's visibility or enabled state, or the close button's, changed.
    virtual void buttonsChanged() = 0;
    // The bar's visibility or value changed.
    virtual void progressChanged() = 0;
    // Shown without taking the user's input away from other windows; raised.
    virtual void showWindow() = 0;
    // Paints the pane now, not at the next pass of the event loop.
    virtual void paintPane() = 0;
    // Calls LogWindowModel::flush after ms milliseconds, once; a later call
    // replaces an earlier one that has not fired.
    virtual void startFlushTimer(int ms) = 0;
    virtual void stopFlushTimer() = 0;
    // The window was never shown and is not needed: release it.
    virtual void release() = 0;
};

class LogWindowModel : public LogWindow {
public:
    explicit LogWindowModel(LogWindowView &view);

    // LogWindow
    void setCaptionFromTemplate(const std::string &archiveName) override;
    void setCaption(const std::string &caption) override;
    void clearLines() override;
    void addLine(const std::string &line) override;
    void repaintPane() override;
    void setStopVisible(bool visible) override;
    void setCloseEnabled(bool enabled) override;
    bool stopPressed() const override { return stopPressed_; }
    void showModeless() override;
    void setProgress(std::int64_t done, std::int64_t total) override;
    void hideProgress() override;
    void discard() override;

    const std::string &caption() const { return caption_; }
    // Every line written, those not yet in the pane included.
    std::vector<std::string> lines() const;
    bool stopVisible() const { return stopVisible_; }
    bool stopEnabled() const { return !stopPressed_; }
    bool closeEnabled() const { return closeEnabled_; }
    bool progressVisible() const { return progressVisible_; }
    // 0..kProgressMax, as the bar shows it.
    int progressValue() const { return shownProgress_; }
    static constexpr int kProgressMax = 1000;

    // The STOP button, or a stop asked for elsewhere (the main window
    // closing during the run).
    void pressStop();
    // A running operation keeps its window: while STOP shows, and while the
    // close button is disabled, so no operation ever writes to a released
    // window. Escape and the close button close a window that may close.
    bool mayClose() const { return !stopVisible_ && closeEnabled_; }
    // Brings what waits into the pane and the bar now.
    void flush();

    static constexpr int kPaintIntervalMs = 100;

private:
    bool paintDue() const;

    LogWindowView &view_;
    std::string caption_;
    std::vector<std::string> shown_;
    std::vector<std::string> pending_;
    int pendingProgress_ = -1;
    int shownProgress_ = 0;
    bool progressVisible_ = false;
    bool stopVisible_ = false;
    bool stopPressed_ = false;
    bool closeEnabled_ = true;
    bool timerRunning_ = false;
    bool painted_ = false;
    std::chrono::steady_clock::time_point lastPaint_;
};

}  // namespace qv
