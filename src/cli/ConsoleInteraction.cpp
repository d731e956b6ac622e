// The console's log windows live until the run ends: the operations keep
// their pointers as they keep a window's, which the user closes later.
#include "cli/ConsoleInteraction.h"

#include "cli/Console.h"
#include "platform/console.h"

#include <chrono>
#include <optional>

namespace qv::cli {

namespace {

class ConsoleLogWindow : public LogWindow {
public:
    ConsoleLogWindow(Console &console, const ConsoleInteraction::Clock &clock) : console_(console), clock_(clock) {}

    // The caption names the archive (a generated name included): the log
    // file keeps it above the window's lines; the console shows none.
    void setCaptionFromTemplate(const std::string &archiveName) override
    {
        caption_ = "Zawartość archiwum " + archiveName;
    }
    void setCaption(const std::string &caption) override { caption_ = caption; }
    void clearLines() override
    {
        pending_.clear();
        endProgressLines(false);
    }
    void addLine(const std::string &line) override
    {
        endProgressLines(true);
        print(line);
    }
    void addProgressLine(const std::string &line) override
    {
        const std::int64_t now = clock_();
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
        if (!caption_.empty())
            console_.logOnly("=== " + caption_);
        for (const std::string &line : pending_)
            console_.out(line);
        pending_.clear();
    }
    void setProgress(std::int64_t done, std::int64_t total) override { console_.progress(done, total); }
    void hideProgress() override { console_.endProgress(); }
    void discard() override
    {
        pending_.clear();
        endProgressLines(false);
    }

private:
    void print(const std::string &line)
    {
        if (shown_)
            console_.out(line);
        else
            pending_.push_back(line);
    }

    // Another line ends a run of progress lines: the count it last reached
    // comes first, and the next run starts with a line at once.
    void endProgressLines(bool showHeld)
    {
        if (showHeld && !heldProgress_.empty())
            print(heldProgress_);
        heldProgress_.clear();
        lastProgressAt_.reset();
    }

    Console &console_;
    const ConsoleInteraction::Clock &clock_;
    std::optional<std::int64_t> lastProgressAt_;  // when the last progress line was printed
    std::string heldProgress_;                  // the newest one not printed
    bool shown_ = false;
    std::string caption_;
    std::vector<std::string> pending_;
};

}  // namespace

ConsoleInteraction::ConsoleInteraction(Console &console, Clock clock) : console_(console), clock_(std::move(clock))
{
    if (!clock_)
        clock_ = [] {
            return static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now().time_since_epoch())
                                           .count());
        };
}

ConsoleInteraction::~ConsoleInteraction() = default;

void ConsoleInteraction::setConsent(bool consent, const std::string &whenDeclined)
{
    consent_ = consent;
    whenDeclined_ = whenDeclined;
}

LogWindow *ConsoleInteraction::openLogWindow()
{
    windows_.push_back(std::make_unique<ConsoleLogWindow>(console_, clock_));
    return windows_.back().get();
}

MsgResult ConsoleInteraction::message(const MessageRequest &request)
{
    console_.err(request.text);
    if (request.buttons != MsgButtons::YesNo)
        return MsgResult::Ok;
    const MsgResult answer = consent_ ? MsgResult::Yes : request.defaultButton == MsgResult::Yes ? MsgResult::Yes
                                                                                                  : MsgResult::No;
    if (answer == MsgResult::Yes)
        console_.err("Odpowiedź: Tak");
    else
        console_.err(whenDeclined_.empty() ? std::string("Odpowiedź: Nie") : "Odpowiedź: Nie - " + whenDeclined_);
    return answer;
}

}  // namespace qv::cli
