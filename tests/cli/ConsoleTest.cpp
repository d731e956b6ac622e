// What a run without a window writes where: log lines to standard output,
// message texts and answers to standard error, both stamped into the log
// file; the progress line only on a terminal and never into the log.
#include "cli/Console.h"
#include "cli/ConsoleInteraction.h"

#include "QtPrinters.h"
#include "TempDir.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cstdio>

using namespace qv;
using namespace qv::cli;

namespace {

// A stream whose bytes can be read back.
struct Stream {
    std::FILE *f = std::tmpfile();
    ~Stream() { std::fclose(f); }
    QString text() const
    {
        std::fflush(f);
        const long n = std::ftell(f);
        QByteArray bytes(n, '\0');
        std::rewind(f);
        EXPECT_EQ(std::fread(bytes.data(), 1, static_cast<size_t>(n), f), static_cast<size_t>(n));
        return QString::fromUtf8(bytes);
    }
};

QStringList logLines(const QString &path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The log's lines without their stamps, each stamp checked on the way.
QStringList unstamped(const QStringList &lines)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} "));
    QStringList out;
    for (const QString &line : lines) {
        EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
        out << line.mid(20);
    }
    return out;
}

}  // namespace

TEST(Console, LinesGoToTheirStreamAndStampedIntoTheLog)
{
    test::TempDir dir;
    Stream out, err;
    Console console(out.f, err.f, false);
    QString reason;
    ASSERT_TRUE(console.openLog(dir.file(QStringLiteral("dziennik.txt")), reason)) << reason.toStdString();
    console.out(QStringLiteral("-- Firma : Łęg -- "));
    console.err(QStringLiteral("Pierwszy\rdrugi\r\ntrzeci"));
    console.logOnly(QStringLiteral("=== tylko w dzienniku"));
    console.progress(5, 10);  // not a terminal: nothing at all

    EXPECT_EQ(out.text(), QStringLiteral("-- Firma : Łęg -- \n"));
    EXPECT_EQ(err.text(), QStringLiteral("Pierwszy\ndrugi\ntrzeci\n"));
    EXPECT_EQ(unstamped(logLines(dir.file(QStringLiteral("dziennik.txt")))),
              (QStringList{"-- Firma : Łęg -- ", "Pierwszy", "drugi", "trzeci", "=== tylko w dzienniku"}));

    // A second run appends.
    Console again(out.f, err.f, false);
    ASSERT_TRUE(again.openLog(dir.file(QStringLiteral("dziennik.txt")), reason));
    again.out(QStringLiteral("następny"));
    EXPECT_EQ(logLines(dir.file(QStringLiteral("dziennik.txt"))).size(), 6);

    EXPECT_FALSE(again.openLog(dir.file(QStringLiteral("brak/dziennik.txt")), reason));
    EXPECT_FALSE(reason.isEmpty());
}

TEST(Console, TheProgressLineIsDrawnInPlaceOnATerminalAndNeverLogged)
{
    test::TempDir dir;
    Stream out, err;
    Console console(out.f, err.f, true);
    QString reason;
    ASSERT_TRUE(console.openLog(dir.file(QStringLiteral("d.txt")), reason));
    console.progress(0, 2048);
    console.progress(0, 2048);  // unchanged: not drawn again
    console.progress(2048, 2048);
    console.out(QStringLiteral("wiersz"));
    const QString shown = out.text();
    // Drawn twice, the longer text blanking the shorter's end, then wiped
    // whole before the line.
    EXPECT_EQ(shown, QStringLiteral("\r  0% (0 bajty z 2,0 kB)\r100% (2,0 kB z 2,0 kB) \r") + QString(22, QLatin1Char(' ')) +
                         QStringLiteral("\rwiersz\n"));
    EXPECT_EQ(unstamped(logLines(dir.file(QStringLiteral("d.txt")))), QStringList{"wiersz"});
}

TEST(ConsoleAnswers, DefaultButtonUnlessTheRunHasTheUsersWord)
{
    Stream out, err;
    Console console(out.f, err.f, false);
    ConsoleInteraction ui(console);
    const MessageRequest overwrite{QStringLiteral("JUŻ ISTNIEJE !\rCzy ?"), QStringLiteral("Potwierdź nadpisanie ... "),
                                   MsgIcon::Question, MsgButtons::YesNo, MsgResult::No};
    const MessageRequest plain{QStringLiteral("Dokonać ?"), QStringLiteral("Potwierdź ... "), MsgIcon::Question,
                               MsgButtons::YesNo, MsgResult::Yes};

    ui.setConsent(false, QStringLiteral("potrzebne --yes"));
    EXPECT_EQ(ui.message(nullptr, overwrite), MsgResult::No);
    EXPECT_EQ(ui.message(nullptr, plain), MsgResult::Yes);
    ui.setConsent(true);
    EXPECT_EQ(ui.message(nullptr, overwrite), MsgResult::Yes);
    EXPECT_EQ(ui.message(nullptr, {QStringLiteral("Brak pliku archiwum x !"), QStringLiteral("Qv")}), MsgResult::Ok);

    EXPECT_EQ(err.text(), QStringLiteral("JUŻ ISTNIEJE !\nCzy ?\nOdpowiedź: Nie - potrzebne --yes\n"
                                         "Dokonać ?\nOdpowiedź: Tak\n"
                                         "JUŻ ISTNIEJE !\nCzy ?\nOdpowiedź: Tak\n"
                                         "Brak pliku archiwum x !\n"));
    EXPECT_EQ(out.text(), QString());
}

TEST(ConsoleLogWindow, ShowsItsLinesOnceShownAndNothingWhenDiscarded)
{
    Stream out, err;
    Console console(out.f, err.f, false);
    ConsoleInteraction ui(console);

    LogWindow *never = ui.openLogWindow();
    never->addLine(QStringLiteral("niewidoczny"));
    never->discard();

    LogWindow *listing = ui.openLogWindow();
    listing->addLine(QStringLiteral("a"));
    listing->addLine(QStringLiteral("b"));
    EXPECT_EQ(out.text(), QString()) << "a window not yet shown shows nothing";
    listing->showModeless();
    listing->addLine(QStringLiteral("c"));
    EXPECT_EQ(out.text(), QStringLiteral("a\nb\nc\n"));
    EXPECT_FALSE(listing->stopPressed());
}

TEST(ConsoleLogWindow, ProgressLinesComeEveryFewSecondsAndTheLastBeforeAnyOtherLine)
{
    test::TempDir dir;
    Stream out, err;
    Console console(out.f, err.f, false);
    QString reason;
    ASSERT_TRUE(console.openLog(dir.file(QStringLiteral("d.txt")), reason)) << reason.toStdString();
    qint64 now = 0;
    ConsoleInteraction ui(console, [&] { return now; });
    LogWindow *log = ui.openLogWindow();
    log->showModeless();
    const auto progress = [&](qint64 at, int count) {
        now = at;
        log->addProgressLine(QStringLiteral("Wysłano już (%1)").arg(count));
    };
    log->addLine(QStringLiteral("Wysyłanie - Wielkość przesyłki (5)"));
    progress(0, 1);     // the first of a run: at once
    progress(1000, 2);
    progress(4999, 3);
    progress(5000, 4);  // five seconds after the last one shown
    progress(9999, 5);
    log->addLine(QStringLiteral("Koniec wysyłania"));  // brings the last count first
    progress(10000, 6);  // a new run starts at once
    log->addLine(QStringLiteral("Transfer complete"));

    const QStringList expected{"Wysyłanie - Wielkość przesyłki (5)", "Wysłano już (1)", "Wysłano już (4)",
                               "Wysłano już (5)", "Koniec wysyłania", "Wysłano już (6)", "Transfer complete"};
    EXPECT_EQ(out.text(), expected.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    EXPECT_EQ(unstamped(logLines(dir.file(QStringLiteral("d.txt")))), expected);
}
