// The narrow port through which windows and operations talk to the user:
// message boxes, the system beep, the standard dialogs and the message loop.
// The program uses QtInteraction; tests use a scripted answerer.
#pragma once

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace qv {

enum class MsgIcon { None, Error, Question, Warning, Information };
enum class MsgButtons { Ok, YesNo };
enum class MsgResult { Ok, Yes, No, Cancel };

struct MessageRequest {
    QString text;      // \r separates lines, as the program's own texts do
    QString caption;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    MsgResult defaultButton = MsgResult::Ok;
};

struct OpenFileRequest {
    QString title;
    QString filter;        // "Description (*.ext)|*.ext|..." pairs
    QString defaultSuffix;
    QString initialFolder;
    QString initialName;
};

// A log window as the long operations see it: a caption, a fixed-pitch pane of
// lines, a close button, a STOP button and a progress bar under the pane.
class LogWindow {
public:
    virtual ~LogWindow() = default;

    // Fills the window's own caption template "Zawartość archiwum %s".
    virtual void setCaptionFromTemplate(const QString &archiveName) = 0;
    virtual void setCaption(const QString &caption) = 0;
    virtual void clearLines() = 0;
    virtual void addLine(const QString &line) = 0;
    // A line that only tells how far an operation has got, of which many
    // come in a row: a window shows each, a log may keep fewer.
    virtual void addProgressLine(const QString &line) { addLine(line); }
    virtual void repaintPane() = 0;
    virtual void setStopVisible(bool visible) = 0;
    virtual void setCloseEnabled(bool enabled) = 0;
    virtual bool stopPressed() const = 0;
    virtual void showModeless() = 0;
    // Shows the progress bar with done out of total; hideProgress() removes it.
    virtual void setProgress(qint64 done, qint64 total) = 0;
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

    virtual MsgResult message(QWidget *parent, const MessageRequest &request) = 0;
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
    virtual std::optional<QString> browseFolder(QWidget *parent, const QString &prompt,
                                                const QString &startFolder) = 0;
    // The standard open-file dialog; empty when cancelled.
    virtual std::optional<QString> openFile(QWidget *parent, const OpenFileRequest &request) = 0;
};

// The real thing: Qt message boxes and dialogs, QApplication::beep().
// The program supplies openLogWindow().
class QtInteraction : public Interaction {
public:
    MsgResult message(QWidget *parent, const MessageRequest &request) override;
    void beep() override;
    void processEvents() override;
    std::optional<QString> browseFolder(QWidget *parent, const QString &prompt,
                                        const QString &startFolder) override;
    std::optional<QString> openFile(QWidget *parent, const OpenFileRequest &request) override;
};

// The application title used as the caption of plain messages: the program
// file's name up to its first full stop, every letter after the first in
// lower case.
QString ApplicationTitle();
QString ApplicationTitleFor(const QString &programFileName);

// The text of the program's general error report for an exception's text: a
// full stop appended when its last character sorts after ".".
QString ExceptionReportText(const QString &message);

}  // namespace qv
