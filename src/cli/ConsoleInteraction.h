// The Interaction port for a run without a window. A log window becomes the
// console: its lines go to standard output once it is shown (a window that is
// discarded unshown prints nothing, as it would show nothing), its progress to
// the progress line, and its STOP is Ctrl+C or a stop signal. Of a run of
// progress lines ("Wysłano już (N)") it prints one every kProgressLineEveryMs
// at most, and always the last before the next other line. A message box
// prints its text on standard error. A question is answered as its default
// button would be, unless the run has the user's word for it (--yes, or the
// command itself as with --upload); a question so declined says why.
#pragma once

#include "archive/Interaction.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace qv::cli {

class Console;

class ConsoleInteraction : public Interaction {
public:
    // Milliseconds on a steady clock; tests drive one of their own.
    using Clock = std::function<std::int64_t()>;

    // A gigabyte sent in 32 KiB blocks makes 32,000 progress lines: far too
    // many for a terminal, a log file or cron's mail, while one every few
    // seconds still shows that the run is alive.
    static constexpr std::int64_t kProgressLineEveryMs = 5000;

    explicit ConsoleInteraction(Console &console, Clock clock = {});
    ~ConsoleInteraction() override;

    // Yes to every question from now on (consent), or the default button,
    // with `whenDeclined` printed after a question answered No.
    void setConsent(bool consent, const std::string &whenDeclined = {});

    LogWindow *openLogWindow() override;
    MsgResult message(const MessageRequest &request) override;
    void beep() override {}
    // No window system: nothing is pending but the stop signals, which the
    // operations poll themselves.
    void processEvents() override {}
    // The command line never browses: its arguments name everything.
    std::optional<std::string> browseFolder(const std::string &, const std::string &) override { return std::nullopt; }
    std::optional<std::string> openFile(const OpenFileRequest &) override { return std::nullopt; }

private:
    Console &console_;
    Clock clock_;
    bool consent_ = false;
    std::string whenDeclined_;
    std::vector<std::unique_ptr<LogWindow>> windows_;
};

}  // namespace qv::cli
