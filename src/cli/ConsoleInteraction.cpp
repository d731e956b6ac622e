// The console's log windows live until the run ends: the operations keep
// their pointers as they keep a window's, which the user closes later.
#include "cli/ConsoleInteraction.h"

#include "cli/Console.h"
#include "platform/console.h"

#include <QCoreApplication>
#include <QStringList>

#include <chrono>
#include <optional>

namespace qv::cli {

namespace {

class ConsoleLogWindow : public LogWindow {
public:
    ConsoleLogWindow(Console &console, const ConsoleInteraction::Clock &clock) : console_(console), clock_(clock) {}

    // The caption names the archive (a generated name included): the log
    // file keeps it above the window's lines; the console shows none.
    void setCaptionFromTemplate(const QString &archiveName) override
    {
        caption_ = QStringLiteral("Zawartość archiwum %1").arg(archiveName);
    }
    void setCaption(const QString &caption) override { caption_ = caption; }
    void clearLines() override
    {
        pending_.clear();
        endProgressLines(false);
    }
    void addLine(const QString &line) override
    {
        endProgressLines(true);
        print(line);
    }
    void addProgressLine(const QString &line) override
    {
        const qint64 now = clock_();
        if (lastProgressAt_ && now - *lastProgressAt_ < ConsoleInteraction::kProgressLineEveryMs) {
            heldProgress_ = line;
            return;
        }
        heldProgress_.clear();
        lastProgressAt_ = now;
        print(line);
    }
    void repaintPane() override {}
    void setStopVisible(bool) override {}
    void setCloseEnabled(bool) override {}
    bool stopPressed() const override { return InterruptRequested(); }
    void showModeless() override
    {
        shown_ = true;
        if (!caption_.isEmpty())
            console_.logOnly(QStringLiteral("=== %1").arg(caption_));
        for (const QString &line : std::as_const(pending_))
            console_.out(line);
        pending_.clear();
    }
    void setProgress(qint64 done, qint64 total) override { console_.progress(done, total); }
    void hideProgress() override { console_.endProgress(); }
    void discard() override
    {
        pending_.clear();
        endProgressLines(false);
    }

private:
    void print(const QString &line)
    {
        if (shown_)
            console_.out(line);
        else
            pending_ << line;
    }

    // Another line ends a run of progress lines: the count it last reached
    // comes first, and the next run starts with a line at once.
    void endProgressLines(bool showHeld)
    {
        if (showHeld && !heldProgress_.isEmpty())
            print(heldProgress_);
        heldProgress_.clear();
        lastProgressAt_.reset();
    }

    Console &console_;
    const ConsoleInteraction::Clock &clock_;
    std::optional<qint64> lastProgressAt_;  // when the last progress line was printed
    QString heldProgress_;                  // the newest one not printed
    bool shown_ = false;
    QString caption_;
    QStringList pending_;
};

}  // namespace

ConsoleInteraction::ConsoleInteraction(Console &console, Clock clock) : console_(console), clock_(std::move(clock))
{
    if (!clock_)
        clock_ = [] {
            return static_cast<qint64>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now().time_since_epoch())
                                           .count());
        };
}

ConsoleInteraction::~ConsoleInteraction() = default;

void ConsoleInteraction::setConsent(bool consent, const QString &whenDeclined)
{
    consent_ = consent;
    whenDeclined_ = whenDeclined;
}

LogWindow *ConsoleInteraction::openLogWindow()
{
    windows_.push_back(std::make_unique<ConsoleLogWindow>(console_, clock_));
    return windows_.back().get();
}

MsgResult ConsoleInteraction::message(QWidget *, const MessageRequest &request)
{
    console_.err(request.text);
    if (request.buttons != MsgButtons::YesNo)
        return MsgResult::Ok;
    const MsgResult answer = consent_ ? MsgResult::Yes : request.defaultButton == MsgResult::Yes ? MsgResult::Yes
                                                                                                  : MsgResult::No;
    if (answer == MsgResult::Yes)
        console_.err(QStringLiteral("Odpowiedź: Tak"));
    else
        console_.err(whenDeclined_.isEmpty() ? QStringLiteral("Odpowiedź: Nie")
                                             : QStringLiteral("Odpowiedź: Nie - %1").arg(whenDeclined_));
    return answer;
}

void ConsoleInteraction::processEvents() { QCoreApplication::processEvents(); }

}  // namespace qv::cli
