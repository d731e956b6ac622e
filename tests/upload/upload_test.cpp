// The upload command ("Wyślij pliki do autora") below any window: asked
// through the scripted answerer, logged into a recorded log window, against
// pyftpdlib. What the user is asked, what the log says, what the server
// keeps, and what the main window is told to enable meanwhile.
#include "FtpServer.h"
#include "RecordingLogWindow.h"
#include "ScriptedInteraction.h"
#include "recorder.h"

#include "platform/errors.h"
#include "upload/IdFTP.h"
#include "upload/Upload.h"
#include "upload/remotename.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

using namespace qv;
using namespace qv::test;

namespace {

const char *const kPassword = "#(wnto)#";
const char *const kArchiveName = "Arch2005-03-03_1415.cab";

bool HasLine(const std::vector<std::string> &lines, const std::string &line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool HasLineStarting(const std::vector<std::string> &lines, const std::string &lead)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string &l) { return l.rfind(lead, 0) == 0; });
}

std::string Shown(const std::vector<std::string> &lines)
{
    std::string out;
    for (const std::string &l : lines)
        out += l + "\n";
    return out;
}

class UploadCommand : public ::testing::Test {
protected:
    ScratchDir files;
    std::unique_ptr<FtpServer> server;
    ScriptedInteraction ui;
    LogWindows windows{ui};
    TIdFTP ftp;
    std::map<std::string, std::string> stored;    // the connection values
    std::map<std::string, std::string> settings;  // keys of [Main]
    std::string archive;
    bool closing = false;
    // What the main window was told, in order: "ftp:0|1", "running:0|1".
    std::vector<std::string> told;
    UploadHost host;

    void SetUp() override
    {
        if (const std::string why = FtpServer::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        server = std::make_unique<FtpServer>("qv", kPassword);
        QV_REQUIRE_FTP_SERVER(*server);
        stored = {{"host", "127.0.0.1"}, {"port", std::to_string(server->port())}, {"un", "qv"}, {"pw", kPassword}};
        ftp.ReadTimeout = 10000;
        ftp.AcceptTimeout = 10000;
        host.archiveFileName = [this] { return archive; };
        host.storedValue = [this](const std::string &name) { return stored.at(name); };
        host.setting = [this](const std::string &name) { return settings.count(name) ? settings.at(name) : ""; };
        host.setFtpEnabled = [this](bool on) { told.push_back(on ? "ftp:1" : "ftp:0"); };
        host.setOperationRunning = [this](bool on) { told.push_back(on ? "running:1" : "running:0"); };
        host.closing = [this] { return closing; };
    }

    std::string WriteArchive(std::size_t size)
    {
        archive = qvtest::WriteFile(files.path(), kArchiveName, qvtest::Pattern(size, 9));
        return qvtest::ReadFile(archive);
    }
};

}  // namespace

TEST_F(UploadCommand, SendsTheArchiveUnderATimeStampedNameAndLogsEveryStep)
{
    const std::string content = WriteArchive(70000);
    ui.answers = {MsgResult::Yes};
    ASSERT_TRUE(UploadArchive(ui, ftp, host));

    ASSERT_EQ(ui.messages.size(), 1u);
    const MessageRequest &asked = ui.messages[0];
    EXPECT_EQ(asked.text, std::string("Wysłać plik \"") + kArchiveName + "\" internetowym protokołem FTP ?");
    EXPECT_EQ(asked.caption, "Potwierdź transmisję ... ");
    EXPECT_EQ(asked.icon, MsgIcon::Question);
    EXPECT_EQ(asked.buttons, MsgButtons::YesNo);
    EXPECT_EQ(asked.defaultButton, MsgResult::No);

    const std::vector<std::string> names = server->storedNames();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(std::regex_match(names[0], std::regex(SenderIdentifier() + "~\\d{4}-\\d{2}-\\d{2}_\\d{6}\\.cab")))
        << names[0];
    EXPECT_EQ(server->stored(names[0]), content);

    ASSERT_EQ(windows.count(), 1u);
    RecordingLogWindow &log = windows.last();
    EXPECT_EQ(log.caption, std::string("Wysyłanie pliku ") + kArchiveName);
    const std::vector<std::string> &lines = log.lines;
    const auto at = [&](const std::string &line) { return std::find(lines.begin(), lines.end(), line); };
    // In the order they happen.
    const std::vector<std::string> steps{std::string("Wysyłanie pliku ") + kArchiveName + " - start",
                                         "Wysyłanie - Wielkość przesyłki (70000)",
                                         "Wysłano już (32768)",
                                         "Wysłano już (65536)",
                                         "Wysłano już (70000)",
                                         "Koniec wysyłania"};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        ASSERT_NE(at(steps[i]), lines.end()) << steps[i];
        if (i > 0) {
            EXPECT_LT(at(steps[i - 1]), at(steps[i])) << steps[i];
        }
    }
    EXPECT_LT(at("Połączono"), at(steps[0]));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), " *** Koniec przesyłania *** ");
    // The counts are progress lines, which a log may keep fewer of.
    EXPECT_TRUE(HasLine(log.trail, "progressLine:Wysłano już (70000)"));

    // Closing refused and STOP shown while it runs, then the other way round;
    // the main window's upload and other log commands off meanwhile.
    const auto trailAt = [&](const std::string &e) { return std::find(log.trail.begin(), log.trail.end(), e); };
    EXPECT_LT(trailAt("close:0"), trailAt("show"));
    EXPECT_LT(trailAt("stop:1"), trailAt("show"));
    ASSERT_GE(log.trail.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(log.trail.end() - 2, log.trail.end()),
              (std::vector<std::string>{"stop:0", "close:1"}));
    EXPECT_EQ(told, (std::vector<std::string>{"ftp:0", "running:1", "running:0", "ftp:1"}));
}

TEST_F(UploadCommand, WithoutYesOrWithoutTheFileNothingIsSentAndNoLogWindowOpens)
{
    // No answer: the question's default button, No.
    WriteArchive(1000);
    EXPECT_FALSE(UploadArchive(ui, ftp, host));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].buttons, MsgButtons::YesNo);

    // No archive at that name: said, nothing asked.
    archive = files / "brak.cab";
    EXPECT_FALSE(UploadArchive(ui, ftp, host));
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[1].text, "Brak pliku archiwum " + archive + " !");
    EXPECT_EQ(ui.messages[1].buttons, MsgButtons::Ok);

    EXPECT_EQ(windows.count(), 0u);
    EXPECT_TRUE(server->storedNames().empty());
    // The upload command is enabled again each time; no other command was held.
    EXPECT_EQ(told, (std::vector<std::string>{"ftp:0", "ftp:1", "ftp:0", "ftp:1"}));
}

// Values the settings file may hold wrongly raise before the log window opens
// and before any connection: the user sees the reason in a message box.
TEST_F(UploadCommand, AWrongPortModeOrTlsValueRaisesBeforeAnyLogWindow)
{
    WriteArchive(1000);
    struct Case {
        std::string key;
        std::string value;
        std::string error;
    };
    for (const Case &c :
         {Case{"port", "21x", "'21x' is not a valid integer value"},
          Case{"tryb", "szybki",
               "Nieznana wartość \"szybki\" klucza tryb w pliku ustawień (dozwolone: auto, aktywny, pasywny)"},
          Case{"tls", "tak", "Nieznana wartość \"tak\" klucza tls w pliku ustawień (dozwolone: nie, auto, wymagany)"}}) {
        SCOPED_TRACE(c.key);
        const auto savedStored = stored;
        const auto savedSettings = settings;
        (c.key == "port" ? stored : settings)[c.key] = c.value;
        ui.answers = {MsgResult::Yes};
        told.clear();
        EXPECT_EQ(ErrorOf([&] { UploadArchive(ui, ftp, host); }), c.error);
        EXPECT_EQ(told, (std::vector<std::string>{"ftp:0", "ftp:1"}));
        stored = savedStored;
        settings = savedSettings;
    }
    EXPECT_EQ(windows.count(), 0u);
    EXPECT_TRUE(server->storedNames().empty());
}

TEST_F(UploadCommand, ARefusedLoginIsLoggedWithItsReplyAndNoEndLine)
{
    WriteArchive(1000);
    stored["pw"] = "złe hasło";
    ui.answers = {MsgResult::Yes};
    EXPECT_FALSE(UploadArchive(ui, ftp, host));
    ASSERT_EQ(windows.count(), 1u);
    const std::vector<std::string> &lines = windows.last().lines;
    EXPECT_TRUE(HasLineStarting(lines, "530 ")) << Shown(lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), " *** Przesyłanie nieudane *** ");
    EXPECT_FALSE(HasLine(lines, " *** Koniec przesyłania *** "));
    EXPECT_FALSE(HasLineStarting(lines, "Wysyłanie pliku"));
    EXPECT_TRUE(server->storedNames().empty());
    EXPECT_TRUE(windows.last().closeEnabled);
    EXPECT_FALSE(windows.last().stopVisible);
    EXPECT_EQ(told, (std::vector<std::string>{"ftp:0", "running:1", "running:0", "ftp:1"}));
}

// STOP in the log window, or the main window closing, half way through the
// file: the session stops at once and the server keeps no partial file.
TEST_F(UploadCommand, StopOrTheMainWindowClosingMidTransferLeavesNoPartialFile)
{
    WriteArchive(4u << 20);
    struct Case {
        bool byClosing;
        std::string line;
    };
    for (const Case &c : {Case{false, "Przerwano na żądanie użytkownika (STOP)"},
                          Case{true, "Przerwano - program jest zamykany"}}) {
        SCOPED_TRACE(c.line);
        const std::size_t before = windows.count();
        // Once the first block has gone.
        const auto halfWay = [this] {
            const std::vector<std::string> &lines = windows.last().lines;
            return HasLineStarting(lines, "Wysłano już");
        };
        closing = false;
        windows.onOpen = [&](RecordingLogWindow &w) {
            if (!c.byClosing)
                w.stopWhen = halfWay;
        };
        host.closing = [&] { return c.byClosing && windows.count() > before && halfWay(); };
        ui.answers = {MsgResult::Yes};
        EXPECT_FALSE(UploadArchive(ui, ftp, host));
        ASSERT_EQ(windows.count(), before + 1);
        const std::vector<std::string> &lines = windows.last().lines;
        EXPECT_TRUE(HasLine(lines, c.line)) << Shown(lines);
        EXPECT_TRUE(HasLineStarting(lines, "Usunięto z serwera niepełny plik " + SenderIdentifier() + "~"));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), " *** Przesyłanie przerwane *** ");
        EXPECT_FALSE(HasLine(lines, "Wysłano już (" + std::to_string(4u << 20) + ")")) << "stopped half way";
        EXPECT_TRUE(server->storedNames().empty());
        EXPECT_TRUE(windows.last().closeEnabled);
    }
}
