// The narrow port through which the operations (create, list, test, restore,
// upload) talk to the user: message boxes, the system beep, the standard
// dialogs, log windows and the window system's pending events. Each front end
// brings its own: the Qt window, the command line's console, and the tests'
// scripted answerer, which records every message text, caption, icon and
// default button. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace qv {

enum class MsgIcon { None, Error, Question, Warning, Information };
enum class MsgButtons { Ok, YesNo };
enum class MsgResult { Ok, Yes, No, Cancel };

struct MessageRequest {
    std::string text;  // \r separates lines, as the program's own texts do
    std::string caption;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    MsgResult defaultButton = MsgResult::Ok;
};

struct OpenFileRequest {
    std::string title;
    std::string filter;  // "Description (*.ext)|*.ext|..." pairs
    std::string defaultSuffix;
    std::string initialFolder;
    std::string initialName;
};

// A log window as the long operations see it: a caption, a fixed-pitch pane of
// lines, a close button, a STOP button and a progress bar under the pane.
class LogWindow {
public:
    virtual ~LogWindow() = default;

    // Fills the window's own caption template "Zawartość archiwum %s".
    virtual void setCaptionFromTemplate(const std::string &archiveName) = 0;
    virtual void setCaption(const std::string &caption) = 0;
    virtual void clearLines() = 0;
    virtual void addLine(const std::string &line) = 0;
    // A line that only tells how far an operation has got, of which many
    // come in a row: a window shows each, a log may keep fewer.
    virtual void addProgressLine(const std::string &line) { addLine(line); }
    virtual void repaintPane() = 0;
    virtual void setStopVisible(bool visible) = 0;
    virtual void setCloseEnabled(bool enabled) = 0;
    virtual bool stopPressed() const = 0;
    virtual void showModeless() = 0;
    // Shows the progress bar with done out of total; hideProgress() removes it.
    virtual void setProgress(std::int64_t done, std::int64_t total) = 0;
    virtual void hideProgress() = 0;
    // Releases a window that was never shown (an operation that failed first).
    virtual void discard() = 0;
};

class Interaction {
public:
    virtual ~Interaction() = default;

    // A new log window, owned by the window system: it is released when the
    // user closes it, which it refuses while its close button is disabled.
    virtual LogWindow *openLogWindow() = 0;

    virtual MsgResult message(const MessageRequest &request) = 0;
    virtual void beep() = 0;
    virtual void processEvents() = 0;
    // Runs work that blocks in the system (flushing to disk, renaming
    // thousands of files, reading a whole archive back) on a thread of its
    // own, and lets the events through meanwhile, so that the windows repaint
    // and a close or STOP is heard at every stage; afterEvents runs on this
    // thread after each pass. `work` must not touch a window; its exception
    // passes to the caller.
    virtual void runBlocking(const std::function<void()> &work, const std::function<void()> &afterEvents = {});
    // The system folder browser; empty when cancelled.
    virtual std::optional<std::string> browseFolder(const std::string &prompt, const std::string &startFolder) = 0;
    // The standard open-file dialog; empty when cancelled.
    virtual std::optional<std::string> openFile(const OpenFileRequest &request) = 0;
    // A file date and time of day in the user's regional short date and long
    // time formats (the listing's); the system's own unless a front end
    // knows the user's formats better.
    virtual std::string regionalDate(int year, int month, int day);
    virtual std::string regionalTime(int hour, int minute, int second);
};

// The application title used as the caption of plain messages: the program
// file's name up to its first full stop, every letter after the first in
// lower case.
std::string ApplicationTitle();
std::string ApplicationTitleFor(const std::string &programFileName);

// The text of the program's general error report for an exception's text: a
// full stop appended when its last character sorts after ".".
std::string ExceptionReportText(const std::string &message);

}  // namespace qv
