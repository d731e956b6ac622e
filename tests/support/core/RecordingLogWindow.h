// A log window that records what an operation does with it, for tests that
// drive an operation through the scripted answerer:
//     ScriptedInteraction ui;
//     LogWindows windows(ui);   // ui.openLogWindow() now makes recorded ones
//     ... windows.last().lines ...
#pragma once

#include "ScriptedInteraction.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qv::test {

class RecordingLogWindow : public LogWindow {
public:
    std::string caption;
    // The pane's lines, progress lines among them, since the last clearLines().
    std::vector<std::string> lines;
    // Every call in order: "caption:TEXT", "clear", "line:TEXT",
    // "progressLine:TEXT", "stop:0|1", "close:0|1", "show", "progress:D/T",
    // "hideProgress", "discard" (repaints are not recorded).
    std::vector<std::string> trail;
    bool shown = false;
    bool discarded = false;
    bool stopVisible = false;
    bool closeEnabled = true;
    // What stopPressed() answers, asked each time; unset: never pressed.
    std::function<bool()> stopWhen;

    void setCaptionFromTemplate(const std::string &archiveName) override
    {
        setCaption("Zawartość archiwum " + archiveName);
    }
    void setCaption(const std::string &text) override
    {
        caption = text;
        trail.push_back("caption:" + text);
    }
    void clearLines() override
    {
        lines.clear();
        trail.push_back("clear");
    }
    void addLine(const std::string &line) override
    {
        lines.push_back(line);
        trail.push_back("line:" + line);
    }
    void addProgressLine(const std::string &line) override
    {
        lines.push_back(line);
        trail.push_back("progressLine:" + line);
    }
    void repaintPane() override {}
    void setStopVisible(bool visible) override
    {
        stopVisible = visible;
        trail.push_back(visible ? "stop:1" : "stop:0");
    }
    void setCloseEnabled(bool enabled) override
    {
        closeEnabled = enabled;
        trail.push_back(enabled ? "close:1" : "close:0");
    }
    bool stopPressed() const override { return stopWhen && stopWhen(); }
    void showModeless() override
    {
        shown = true;
        trail.push_back("show");
    }
    void setProgress(std::int64_t done, std::int64_t total) override
    {
        trail.push_back("progress:" + std::to_string(done) + "/" + std::to_string(total));
    }
    void hideProgress() override { trail.push_back("hideProgress"); }
    void discard() override
    {
        discarded = true;
        trail.push_back("discard");
    }
};

// The log windows an answerer opens, kept for the test to read; it must
// outlive the answerer's use.
class LogWindows {
public:
    LogWindows(const LogWindows &) = delete;
    LogWindows &operator=(const LogWindows &) = delete;
    explicit LogWindows(ScriptedInteraction &ui)
    {
        ui.logWindowFactory = [this] {
            windows_.push_back(std::make_unique<RecordingLogWindow>());
            if (onOpen)
                onOpen(*windows_.back());
            return windows_.back().get();
        };
    }
    // Called with each new window before the operation gets it (to set stopWhen, say).
    std::function<void(RecordingLogWindow &)> onOpen;
    std::size_t count() const { return windows_.size(); }
    RecordingLogWindow &operator[](std::size_t i) { return *windows_.at(i); }
    RecordingLogWindow &last() { return *windows_.at(windows_.size() - 1); }

private:
    std::vector<std::unique_ptr<RecordingLogWindow>> windows_;
};

}  // namespace qv::test
