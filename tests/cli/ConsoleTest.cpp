// What a run without a window writes where: log lines to standard output,
// message texts and answers to standard error, both stamped into the log
// file; the progress line only on a terminal and never into the log.
#include "cli/Console.h"
#include "cli/ConsoleInteraction.h"

#include "CoreTest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

using namespace qv;
using namespace qv::cli;

namespace {

// A stream whose bytes can be read back.
struct Stream {
    std::FILE *f = std::tmpfile();
    ~Stream() { std::fclose(f); }
    std::string text() const
    {
        std::fflush(f);
        const long n = std::ftell(f);
        std::string bytes(static_cast<std::size_t>(n), '\0');
        std::rewind(f);
        EXPECT_EQ(std::fread(bytes.data(), 1, static_cast<size_t>(n), f), static_cast<size_t>(n));
        return bytes;
    }
};

std::vector<std::string> logLines(const std::string &path)
{
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(path, bytes)) << path;
    return test::TextFileLines(bytes);
}

// The log's lines without their stamps, each stamp checked on the way.
std::vector<std::string> unstamped(const std::vector<std::string> &lines)
{
    static const std::regex stamp("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} ");
    std::vector<std::string> out;
    for (const std::string &line : lines) {
        EXPECT_TRUE(std::regex_search(line, stamp)) << line;
        out.push_back(line.size() > 20 ? line.substr(20) : std::string());
    }
    return out;
}

}  // namespace

TEST(Console, LinesGoToTheirStreamAndStampedIntoTheLog)
{
    test::ScratchDir dir;
    Stream out, err;
    Console console(out.f, err.f, false);
    std::string reason;
    ASSERT_TRUE(console.openLog(dir / "dziennik.txt", reason)) << reason;
    console.out("-- Firma : Łęg -- ");
    console.err("Pierwszy\rdrugi\r\ntrzeci");
    console.logOnly("=== tylko w dzienniku");
    console.progress(5, 10);  // not a terminal: nothing at all

    EXPECT_EQ(out.text(), "-- Firma : Łęg -- \n");
    EXPECT_EQ(err.text(), "Pierwszy\ndrugi\ntrzeci\n");
    EXPECT_EQ(unstamped(logLines(dir / "dziennik.txt")),
              (std::vector<std::string>{"-- Firma : Łęg -- ", "Pierwszy", "drugi", "trzeci", "=== tylko w dzienniku"}));

    // A second run appends.
    Console again(out.f, err.f, false);
    ASSERT_TRUE(again.openLog(dir / "dziennik.txt", reason));
    again.out("następny");
    EXPECT_EQ(logLines(dir / "dziennik.txt").size(), 6u);

    EXPECT_FALSE(again.openLog(dir / ("brak" + std::string(1, PathDelim) + "dziennik.txt"), reason));
    EXPECT_FALSE(reason.empty());
}

TEST(Console, TheProgressLineIsDrawnInPlaceOnATerminalAndNeverLogged)
{
    test::ScratchDir dir;
    Stream out, err;
    Console console(out.f, err.f, true);
    std::string reason;
    ASSERT_TRUE(console.openLog(dir / "d.txt", reason));
    console.progress(0, 2048);
    console.progress(0, 2048);  // unchanged: not drawn again
    console.progress(2048, 2048);
    console.out("wiersz");
    const std::string shown = out.text();
    // Drawn twice, the longer text blanking the shorter's end, then wiped
    // whole before the line.
    EXPECT_EQ(shown, "\r  0% (0 bajty z 2,0 kB)\r100% (2,0 kB z 2,0 kB) \r" + std::string(22, ' ') + "\rwiersz\n");
    EXPECT_EQ(unstamped(logLines(dir / "d.txt")), std::vector<std::string>{"wiersz"});
}

TEST(ConsoleAnswers, DefaultButtonUnlessTheRunHasTheUsersWord)
{
    Stream out, err;
    Console console(out.f, err.f, false);
    ConsoleInteraction ui(console);
    const MessageRequest overwrite{"JUŻ ISTNIEJE !\rCzy ?", "Potwierdź nadpisanie ... ", MsgIcon::Question,
                                   MsgButtons::YesNo, MsgResult::No};
    const MessageRequest plain{"Dokonać ?", "Potwierdź ... ", MsgIcon::Question, MsgButtons::YesNo, MsgResult::Yes};

    ui.setConsent(false, "potrzebne --yes");
    EXPECT_EQ(ui.message(overwrite), MsgResult::No);
    EXPECT_EQ(ui.message(plain), MsgResult::Yes);
    ui.setConsent(true);
    EXPECT_EQ(ui.message(overwrite), MsgResult::Yes);
    EXPECT_EQ(ui.message({"Brak pliku archiwum x !", "Qv"}), MsgResult::Ok);

    EXPECT_EQ(err.text(), "JUŻ ISTNIEJE !\nCzy ?\nOdpowiedź: Nie - potrzebne --yes\n"
                          "Dokonać ?\nOdpowiedź: Tak\n"
                          "JUŻ ISTNIEJE !\nCzy ?\nOdpowiedź: Tak\n"
                          "Brak pliku archiwum x !\n");
    EXPECT_EQ(out.text(), "");
}

TEST(ConsoleLogWindow, ShowsItsLinesOnceShownAndNothingWhenDiscarded)
{
    Stream out, err;
    Console console(out.f, err.f, false);
    ConsoleInteraction ui(console);

    LogWindow *never = ui.openLogWindow();
    never->addLine("niewidoczny");
    never->discard();

    LogWindow *listing = ui.openLogWindow();
    listing->addLine("a");
    listing->addLine("b");
    EXPECT_EQ(out.text(), "") << "a window not yet shown shows nothing";
    listing->showModeless();
    listing->addLine("c");
    EXPECT_EQ(out.text(), "a\nb\nc\n");
    EXPECT_FALSE(listing->stopPressed());
}

TEST(ConsoleLogWindow, ProgressLinesComeEveryFewSecondsAndTheLastBeforeAnyOtherLine)
{
    test::ScratchDir dir;
    Stream out, err;
    Console console(out.f, err.f, false);
    std::string reason;
    ASSERT_TRUE(console.openLog(dir / "d.txt", reason)) << reason;
    std::int64_t now = 0;
    ConsoleInteraction ui(console, [&] { return now; });
    LogWindow *log = ui.openLogWindow();
    log->showModeless();
    const auto progress = [&](std::int64_t at, int count) {
        now = at;
        log->addProgressLine("Wysłano już (" + std::to_string(count) + ")");
    };
    log->addLine("Wysyłanie - Wielkość przesyłki (5)");
    progress(0, 1);     // the first of a run: at once
    progress(1000, 2);
    progress(4999, 3);
    progress(5000, 4);  // five seconds after the last one shown
    progress(9999, 5);
    log->addLine("Koniec wysyłania");  // brings the last count first
    progress(10000, 6);  // a new run starts at once
    log->addLine("Transfer complete");

    const std::vector<std::string> expected{"Wysyłanie - Wielkość przesyłki (5)", "Wysłano już (1)", "Wysłano już (4)",
                                            "Wysłano już (5)", "Koniec wysyłania", "Wysłano już (6)",
                                            "Transfer complete"};
    std::string joined;
    for (const std::string &line : expected)
        joined += line + "\n";
    EXPECT_EQ(out.text(), joined);
    EXPECT_EQ(unstamped(logLines(dir / "d.txt")), expected);
}
