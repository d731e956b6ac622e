#include "AppFixture.h"
#include "FtpServer.h"
#include "scripted_server.h"
#include "app/FormStorage.h"
#include "settings/inifile.h"
#include "upload/remotename.h"

#include "platform/tls.h"
#include "upload/IdFTP.h"

#include <QDateTime>
#include <QPushButton>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>

#include <chrono>
#include <thread>

using namespace qv;
using namespace qv::test;

namespace {

const QString kPassword = QStringLiteral("#(wnto)#");

struct QtServerOptions {
    QString host = QStringLiteral("127.0.0.1");
    bool tls = false;
    QStringList extra;
};

// The test FTP server, spoken to in the window's Qt types.
class QtFtpServer {
public:
    explicit QtFtpServer(const QtServerOptions &options = {})
    {
        FtpServerOptions o;
        o.host = options.host.toStdString();
        o.tls = options.tls;
        for (const QString &e : options.extra)
            o.extra.push_back(e.toStdString());
        server_ = std::make_unique<FtpServer>("qv", kPassword.toStdString(), o);
    }
    const std::string &failure() const { return server_->failure(); }
    int port() const { return server_->port(); }
    std::string caFile() const { return server_->caFile(); }
    QByteArray stored(const QString &name) const { return QByteArray::fromStdString(server_->stored(name.toStdString())); }
    QStringList storedNames() const
    {
        QStringList names;
        for (const std::string &n : server_->storedNames())
            names << QString::fromStdString(n);
        return names;
    }

private:
    std::unique_ptr<FtpServer> server_;
};

class UploadFixture : public AppFixture {
protected:
    std::unique_ptr<QtFtpServer> server;

    void SetUp() override
    {
        AppFixture::SetUp();
        server = std::make_unique<QtFtpServer>();
        ASSERT_EQ(server->failure(), "");
    }

    // A server of another kind in place of the plain one; call before startFor.
    void serve(const QtServerOptions &options)
    {
        server.reset();
        server = std::make_unique<QtFtpServer>(options);
        ASSERT_EQ(server->failure(), "");
    }

    // A key of [Main] in the settings file, as the maker or the user writes it.
    void setting(const QString &key, const QString &value)
    {
        IniFile(U(settingsFile())).WriteString("Main", U(key), U(value));
    }

    QString archive(int size, const QString &name = QStringLiteral("Arch2005-03-03_1415.cab"))
    {
        const QString path = temp.file(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        QByteArray data(size, '\0');
        for (int i = 0; i < size; ++i)
            data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
        f.write(data);
        return path;
    }

    void startFor(const QString &file, const QString &host = QStringLiteral("localhost"))
    {
        startOnDemo(file);
        setValue("host", host);
        setValue("port", QString::number(server->port()));
    }

    // A scripted server's port in place of the real server's, by address.
    void startForScripted(const QString &file, int port)
    {
        startOnDemo(file);
        setValue("host", QStringLiteral("127.0.0.1"));
        setValue("port", QString::number(port));
    }

    void setValue(const QString &name, const QString &value)
    {
        window->FormStorage_Main->StoredValues.Find(U(name))->Value = U(value);
    }

    TForm_Zawartosc *upload(MsgResult answer = MsgResult::Yes)
    {
        ui.answers.push_back(answer);
        window->act_FTP->trigger();
        return Form_Zawartosc.data();
    }

    static QStringList expectedLog(const QString &file, qint64 size, const QList<qint64> &totals)
    {
        QStringList out{"Disconnecting.", "Rozłączono", "Disconnected.", "Resolving hostname localhost.",
                        "Connecting to 127.0.0.1.", "Connected.", "Połączono", "Connection established",
                        QStringLiteral("Wysyłanie pliku %1 - start").arg(file), "Starting FTP transfer",
                        QStringLiteral("Wysyłanie - Wielkość przesyłki (%1)").arg(size)};
        for (qint64 t : totals)
            out << QStringLiteral("Wysłano już (%1)").arg(t);
        out << "Koniec wysyłania" << "Transfer complete" << "Disconnecting." << "Rozłączono" << "Disconnected."
            << " *** Koniec przesyłania *** ";
        return out;
    }

    static QStringList inserted(QStringList lines, const QString &after, const QString &line)
    {
        lines.insert(lines.indexOf(after) + 1, line);
        return lines;
    }
};

}  // namespace

TEST_F(UploadFixture, SuccessfulUploadLogsEveryStepAndStoresTheFileUnderATimeStampedName)
{
    const QString file = archive(70000);
    startFor(file);
    ASSERT_TRUE(window->act_FTP->isEnabled());
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    bool stopShown = false;
    ui.onProcessEvents = [&] { stopShown |= Form_Zawartosc && !Form_Zawartosc->bb_STOP->isHidden(); };
    TForm_Zawartosc *log = upload();
    ui.onProcessEvents = nullptr;
    EXPECT_TRUE(stopShown);
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    ASSERT_NE(log, nullptr);

    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(Q(ui.messages[0].text), QStringLiteral("Wysłać plik \"Arch2005-03-03_1415.cab\" internetowym protokołem FTP ?"));
    EXPECT_EQ(Q(ui.messages[0].caption), QStringLiteral("Potwierdź transmisję ... "));
    EXPECT_EQ(ui.messages[0].icon, MsgIcon::Question);
    EXPECT_EQ(ui.messages[0].defaultButton, MsgResult::No);

    EXPECT_EQ(log->windowTitle(), QStringLiteral("Wysyłanie pliku Arch2005-03-03_1415.cab"));
    EXPECT_EQ(log->lines(), expectedLog(QStringLiteral("Arch2005-03-03_1415.cab"), 70000, {32768, 65536, 70000}));
    EXPECT_TRUE(log->bb_close->isEnabled());
    EXPECT_TRUE(log->bb_STOP->isHidden());
    EXPECT_TRUE(window->act_FTP->isEnabled());

    const QStringList names = server->storedNames();
    ASSERT_EQ(names.size(), 1);
    const QString sender = QString::fromStdString(SenderIdentifier());
    const QRegularExpression pattern(QRegularExpression::escape(sender) + QStringLiteral("~(\\d{4}-\\d\\d-\\d\\d_\\d{6})\\.cab"));
    const auto match = pattern.match(names[0]);
    ASSERT_TRUE(match.hasMatch()) << names[0].toStdString();
    const QDateTime stamp = QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd_HHmmss"));
    EXPECT_GE(stamp, before.addMSecs(-before.time().msec()));
    EXPECT_LE(stamp, after);
    QFile original(file);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    EXPECT_EQ(server->stored(names[0]), original.readAll());
    EXPECT_FALSE(log->lines().join(QLatin1Char('\n')).contains(kPassword));
}

TEST_F(UploadFixture, EmptyArchiveAndTwoUploadsInARow)
{
    const QString file = archive(0, QStringLiteral("pusty.cab"));
    startFor(file);
    TForm_Zawartosc *first = upload();
    EXPECT_EQ(first->lines(), expectedLog(QStringLiteral("pusty.cab"), 0, {}));
    waitUntil([&] { return !server->storedNames().empty(); });
    // The next upload must get another second in its name.
    const QDateTime firstTime = QDateTime::currentDateTime();
    waitUntil([&] { return QDateTime::currentDateTime().toSecsSinceEpoch() != firstTime.toSecsSinceEpoch(); });
    TForm_Zawartosc *second = upload();
    EXPECT_NE(first, second);
    EXPECT_EQ(second->lines(), expectedLog(QStringLiteral("pusty.cab"), 0, {}));
    EXPECT_EQ(first->lines().size(), second->lines().size());
    const QStringList names = server->storedNames();
    ASSERT_EQ(names.size(), 2);
    for (const QString &n : names)
        EXPECT_TRUE(server->stored(n).isEmpty());
}

TEST_F(UploadFixture, RefusedLoginIsLoggedWithItsReasonAndNoEndLine)
{
    const QString file = archive(10);
    startFor(file);
    setValue(QStringLiteral("pw"), QStringLiteral("złe hasło"));
    TForm_Zawartosc *log = upload();
    const QStringList lines = log->lines();
    ASSERT_EQ(lines.size(), 12) << lines.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(lines.mid(0, 7), expectedLog(QString(), 0, {}).mid(0, 7));
    EXPECT_EQ(lines.mid(7, 3), (QStringList{"Disconnecting.", "Rozłączono", "Disconnected."}));
    EXPECT_TRUE(lines[10].startsWith(QStringLiteral("530 "))) << lines[10].toStdString();  // the server's own reason
    EXPECT_EQ(lines[11], QStringLiteral(" *** Przesyłanie nieudane *** "));
    EXPECT_FALSE(lines.join(QLatin1Char('\n')).contains(QStringLiteral("złe hasło")));
    EXPECT_TRUE(log->bb_close->isEnabled());
    EXPECT_TRUE(window->act_FTP->isEnabled());
    EXPECT_EQ(ui.messages.size(), 1u) << "only the question; failures are not shown";
    EXPECT_TRUE(server->storedNames().isEmpty());
}

TEST_F(UploadFixture, NoAnswerMissingFileAndABadPortOpenNoLogWindow)
{
    const QString file = archive(10);
    startFor(file);
    EXPECT_EQ(upload(MsgResult::No), nullptr);
    EXPECT_TRUE(window->act_FTP->isEnabled());

    setValue("port", QStringLiteral("dwadzieścia"));
    EXPECT_EQ(upload(), nullptr);
    EXPECT_EQ(Q(ui.messages.back().text), QStringLiteral("'dwadzieścia' is not a valid integer value."));
    EXPECT_EQ(ui.messages.back().icon, MsgIcon::Error);
    EXPECT_EQ(Q(ui.messages.back().caption), Q(ApplicationTitle()));
    EXPECT_TRUE(window->act_FTP->isEnabled());

    QFile::remove(file);
    const size_t before = ui.messages.size();
    EXPECT_EQ(upload(), nullptr);
    ASSERT_EQ(ui.messages.size(), before + 1);
    EXPECT_EQ(Q(ui.messages.back().text), QStringLiteral("Brak pliku archiwum %1 !").arg(file));
    EXPECT_EQ(ui.messages.back().icon, MsgIcon::None);
    EXPECT_TRUE(window->act_FTP->isEnabled());
    EXPECT_TRUE(server->storedNames().isEmpty());
}

TEST_F(UploadFixture, OtherLogCommandsWaitWhileAnUploadRuns)
{
    const QString file = archive(100000);
    startFor(file, QStringLiteral("127.0.0.1"));
    bool checked = false;
    // Looked at from inside the upload, at the question's answer.
    ui.answers.push_back(MsgResult::Yes);
    QObject::connect(window->act_pokarz, &QAction::changed, window.get(), [&] {
        if (window->operationRunning()) {
            checked = true;
            EXPECT_FALSE(window->act_pokarz->isEnabled());
            EXPECT_FALSE(window->act_Restore->isEnabled());
        }
    });
    window->act_FTP->trigger();
    EXPECT_TRUE(checked);
    EXPECT_FALSE(window->operationRunning());
    EXPECT_TRUE(window->act_pokarz->isEnabled());
    // The 18 lines less the resolving line (an address), with four blocks.
    EXPECT_EQ(Form_Zawartosc->lines().size(), 18 - 1 - 1 + 4);
}

TEST_F(UploadFixture, ActiveModeThatDoesNotGetThroughIsLoggedAndTheFileStillArrives)
{
    struct Case {
        QStringList server;
        QString tryb;
        QString line;  // after "Starting FTP transfer"; empty: none
    };
    const Case cases[] = {
        {{"--refuse", "PORT,EPRT"}, "", "Serwer odrzucił tryb aktywny - przechodzę na tryb pasywny"},
        {{"--silent-active"}, "auto", "Serwer nie połączył się w ciągu 1 s - przechodzę na tryb pasywny"},
        {{"--connect-back-fails"}, "", "Serwer nie mógł połączyć się z programem (425) - przechodzę na tryb pasywny"},
        {{"--refuse", "PORT,EPRT"}, "Pasywny", ""},  // passive at once: nothing to report
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.server.join(' ').toStdString() + " tryb=" + c.tryb.toStdString());
        QtServerOptions options;
        options.extra = c.server;
        serve(options);
        setting("tryb", c.tryb);
        const QString file = archive(70000);
        startFor(file);
        window->IdFTP->PassiveFallbackTimeout = 1000;
        TForm_Zawartosc *log = upload();
        QStringList expected = expectedLog(QStringLiteral("Arch2005-03-03_1415.cab"), 70000, {32768, 65536, 70000});
        if (!c.line.isEmpty())
            expected = inserted(expected, QStringLiteral("Starting FTP transfer"), c.line);
        EXPECT_EQ(log->lines(), expected);
        EXPECT_EQ(server->storedNames().size(), 1);
        TearDown();
    }
}

TEST_F(UploadFixture, ActiveOnlyModeReportsTheRefusal)
{
    const std::pair<QString, QString> cases[] = {
        {"--refuse", "502 Command not implemented."},
        {"--connect-back-fails", "425 Failed to establish connection."},
    };
    for (const auto &[option, line] : cases) {
        SCOPED_TRACE(option.toStdString());
        QtServerOptions options;
        options.extra = QStringList{option};
        if (option == "--refuse")
            options.extra << "PORT,EPRT";
        serve(options);
        setting("tryb", QStringLiteral("aktywny"));
        startFor(archive(100));
        const QStringList lines = upload()->lines();
        ASSERT_GE(lines.size(), 3);
        EXPECT_EQ(lines.mid(lines.size() - 3), (QStringList{"Transfer complete", line, " *** Przesyłanie nieudane *** "}));
        EXPECT_TRUE(server->storedNames().isEmpty());
        TearDown();
    }
}

TEST_F(UploadFixture, SilentServerEndsAtItsLimitOrAtStopOrAtClosingWithTheWindowAlive)
{
    enum End { Limit, Stop, Closing };
    struct Case {
        End end;
        QString line;
        QString summary;
    };
    const Case cases[] = {
        {Limit, "Serwer nie odpowiedział w ciągu 1 s - przerwano", " *** Przesyłanie nieudane *** "},
        {Stop, "Przerwano na żądanie użytkownika (STOP)", " *** Przesyłanie przerwane *** "},
        {Closing, "Przerwano - program jest zamykany", " *** Przesyłanie przerwane *** "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        QtServerOptions options;
        options.extra = QStringList{"--mute-from", "greeting"};
        serve(options);
        startFor(archive(100));
        // With STOP or the closing, the minute would show as the limit's line.
        window->IdFTP->ReadTimeout = c.end == Limit ? 1000 : 60000;
        int pumped = 0;
        bool timerFired = false;
        ui.onProcessEvents = [&] {
            if (++pumped == 10) {
                QTimer::singleShot(0, [&] { timerFired = true; });
            } else if (pumped == 20 && c.end == Stop) {
                Form_Zawartosc->bb_STOP->click();
            } else if (pumped == 20 && c.end == Closing) {
                ui.answers.push_back(MsgResult::Yes);  // end the program, stopping the upload
                window->close();
            }
        };
        TForm_Zawartosc *log = upload();
        ui.onProcessEvents = nullptr;
        EXPECT_TRUE(timerFired) << "events were processed while the server kept silent";
        EXPECT_EQ(log->lines(), (QStringList{"Disconnecting.", "Rozłączono", "Disconnected.", "Resolving hostname localhost.",
                                             "Connecting to 127.0.0.1.", "Connected.", "Połączono", "Disconnecting.",
                                             "Rozłączono", "Disconnected.", c.line, c.summary}));
        EXPECT_TRUE(log->bb_close->isEnabled());
        EXPECT_TRUE(log->bb_STOP->isHidden());
        EXPECT_FALSE(window->operationRunning());
        TearDown();
    }
}

TEST_F(UploadFixture, TransferThatFailsOrIsStoppedLeavesNoPartialFile)
{
    enum How { Dropped, DroppedNoDelete, WrongSize, Aborted, Stopped };
    struct Case {
        How how;
        QStringList server;
        QString failure;  // the line before the deletion's
    };
    const Case cases[] = {
        {Dropped, {"--drop-after", "100000"}, "Socket Error # 10054 Connection reset by peer."},
        {DroppedNoDelete, {"--drop-after", "100000", "--no-delete"}, "Socket Error # 10054 Connection reset by peer."},
        {WrongSize, {"--size-lie", "1"}, "Na serwerze jest %1 bajtów z %2 wysłanych - plik nie dotarł cały"},
        {Aborted, {"--abort-reply"}, "Serwer przerwał przyjmowanie pliku - plik nie dotarł cały"},
        {Stopped, {}, "Przerwano na żądanie użytkownika (STOP)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.failure.toStdString());
        QtServerOptions options;
        options.extra = c.server;
        serve(options);
        // A dropped line needs more than the socket buffers hold.
        const int size = c.how == WrongSize || c.how == Aborted ? 70000 : 32 << 20;
        startFor(archive(size));
        ui.onProcessEvents = [&] {
            if (c.how == Stopped && Form_Zawartosc && Form_Zawartosc->lines().contains(QStringLiteral("Wysłano już (65536)")))
                Form_Zawartosc->bb_STOP->click();
        };
        const QStringList lines = upload()->lines();
        ui.onProcessEvents = nullptr;
        const QString failure = c.how == WrongSize ? c.failure.arg(size + 1).arg(size) : c.failure;
        const int at = lines.indexOf(failure);
        ASSERT_GT(at, 0) << lines.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(lines[at - 1], c.how == Aborted ? QStringLiteral("Transfer aborted") : QStringLiteral("Transfer complete"));
        const QString deletion = lines.value(at + 1);
        if (c.how == DroppedNoDelete) {
            EXPECT_TRUE(deletion.startsWith(QStringLiteral("Serwer nie usunął niepełnego pliku "))) << deletion.toStdString();
            EXPECT_TRUE(deletion.contains(QStringLiteral("(550 "))) << deletion.toStdString();
            EXPECT_EQ(server->storedNames().size(), 1);  // what the server refused to delete stays, and the log says so
        } else {
            EXPECT_TRUE(deletion.startsWith(QStringLiteral("Usunięto z serwera niepełny plik "))) << deletion.toStdString();
            EXPECT_TRUE(server->storedNames().isEmpty());
        }
        const QStringList tail = c.how == Stopped ? QStringList{"Disconnecting.", "Rozłączono", "Disconnected.",  // QUIT at once
                                                                " *** Przesyłanie przerwane *** "}
                                                  : QStringList{" *** Przesyłanie nieudane *** "};
        EXPECT_EQ(lines.mid(at + 2), tail);
        TearDown();
    }
}

TEST_F(UploadFixture, StopWhileTheServerOwesTheFinalReplyStillRemovesThePartialFile)
{
    using qvtest::Peer;
    for (bool secondServed : {true, false}) {
        SCOPED_TRACE(secondServed ? "a new connection is taken" : "a new connection is refused");
        std::string stored;
        std::vector<qvtest::ScriptedServer::Script> scripts{[&](Peer &p) {
            p.Login();
            p.Expect("CWD dane");
            p.Reply("250 Directory successfully changed.");
            p.Expect("PORT ");
            p.Reply("200 PORT command successful.");
            stored = p.Expect("STOR ").substr(5);
            p.Reply("150 Ok to send data.");
            auto data = p.ConnectBack();
            Peer::ReceiveAll(data);
            p.AwaitClose();  // the whole file, and never an answer
        }};
        if (secondServed)
            scripts.push_back([&](Peer &p) {
                p.Login();
                p.Expect("CWD dane");
                p.Reply("250 Directory successfully changed.");
                p.Expect("DELE " + stored);
                p.Reply("250 Delete operation successful.");
            });
        qvtest::ScriptedServer scripted(scripts);
        startForScripted(archive(1000), scripted.port());
        bool stopped = false;
        ui.onProcessEvents = [&] {
            if (!stopped && Form_Zawartosc && Form_Zawartosc->lines().contains(QStringLiteral("Transfer complete"))) {
                stopped = true;
                Form_Zawartosc->bb_STOP->click();
            }
        };
        const QStringList lines = upload()->lines();
        ui.onProcessEvents = nullptr;
        scripted.Finish();
        ASSERT_EQ(scripted.Connections().size(), secondServed ? 2u : 1u);
        const QString name = QString::fromStdString(stored);
        const int at = lines.indexOf(QStringLiteral("Przerwano na żądanie użytkownika (STOP)"));
        ASSERT_GT(at, 0) << lines.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(lines[at - 1], QStringLiteral("Transfer complete"));
        const QStringList reopening{"Łączę się ponownie z serwerem, aby usunąć niepełny plik", "Disconnecting.", "Rozłączono",
                                    "Disconnected.", "Connecting to 127.0.0.1."};
        const QStringList closing{"Disconnecting.", "Rozłączono", "Disconnected."};
        const QStringList tail =
            secondServed
                ? reopening +
                      QStringList{"Connected.", "Połączono", "Connection established",
                                  QStringLiteral("Usunięto z serwera niepełny plik %1").arg(name)} +
                      closing
                : reopening + closing +
                      QStringList{QStringLiteral("Nie udało się usunąć niepełnego pliku %1 "
                                                 "(Socket Error # 10061 Connection refused.)")
                                      .arg(name)} +
                      closing;
        EXPECT_EQ(lines.mid(at + 1), tail + QStringList{" *** Przesyłanie przerwane *** "});
        TearDown();
    }
}

TEST_F(UploadFixture, ReplyWithoutEndIsCutShortAndSaidSo)
{
    struct Case {
        std::string line;  // sent again and again after the first line of the greeting
        int pauseMs;
        QString logged;
    };
    const Case cases[] = {
        {"220-" + std::string(4000, 'x') + "\r\n", 0, "Odpowiedź serwera jest zbyt długa - przerwano"},
        {"220-Still here\r\n", 50, "Odpowiedź serwera nie skończyła się w ciągu 1 s - przerwano"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.logged.toStdString());
        qvtest::ScriptedServer scripted([&](qvtest::Peer &p) {
            try {
                p.Send("220-Welcome\r\n");
                // A minute's worth at most: the client is to hang up long before.
                for (int i = 0; i < (c.pauseMs ? 60000 / c.pauseMs : 16384); ++i) {
                    p.Send(c.line);
                    std::this_thread::sleep_for(std::chrono::milliseconds(c.pauseMs));
                }
            } catch (const std::exception &) {
                // the client hung up, as it should
            }
            p.Close();
        });
        startForScripted(archive(100), scripted.port());
        window->IdFTP->ReadTimeout = 1000;
        EXPECT_EQ(upload()->lines(), (QStringList{"Disconnecting.", "Rozłączono", "Disconnected.", "Connecting to 127.0.0.1.",
                                                  "Connected.", "Połączono", "Disconnecting.", "Rozłączono",
                                                  "Disconnected.", c.logged, " *** Przesyłanie nieudane *** "}));
        scripted.Finish();
        TearDown();
    }
}

TEST_F(UploadFixture, ServerWithoutSizeIsNotedAndTheUploadSucceeds)
{
    QtServerOptions options;
    options.extra = QStringList{"--refuse", "SIZE"};
    serve(options);
    startFor(archive(1000));
    EXPECT_EQ(upload()->lines(),
              inserted(expectedLog(QStringLiteral("Arch2005-03-03_1415.cab"), 1000, {1000}),
                       QStringLiteral("Transfer complete"),
                       QStringLiteral("Serwer nie podaje wielkości plików (SIZE) - nie sprawdzono, czy plik dotarł cały")));
    EXPECT_EQ(server->storedNames().size(), 1);
}

TEST_F(UploadFixture, LogSaysWhetherTheSessionIsEncrypted)
{
    if (!net::TlsAvailable())
        GTEST_SKIP() << "built without TLS";
    struct Case {
        bool tlsServer;
        QString tls;
        bool trusted;
        QString line;  // after "Połączono"; a whole upload follows unless it is a failure
        bool fails;
    };
    const Case cases[] = {
        {true, "auto", true, "Połączenie szyfrowane (TLSv1.", false},
        {true, "wymagany", true, "Połączenie szyfrowane (TLSv1.", false},
        {false, "auto", true, "Serwer nie oferuje szyfrowania - połączenie nieszyfrowane", false},
        {true, "nie", true, "", false},
        {false, "wymagany", true,
         "Serwer nie oferuje szyfrowania, a ustawienie tls=wymagany go wymaga - hasła nie wysłano", true},
        {true, "auto", false,
         "Certyfikat serwera odrzucony (unable to get local issuer certificate) - połączenie przerwane", true},
        {true, "wymagany", false,
         "Certyfikat serwera odrzucony (unable to get local issuer certificate) - połączenie przerwane", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("tls=" + c.tls.toStdString() + " " + c.line.toStdString());
        QtServerOptions options;
        options.tls = c.tlsServer;
        serve(options);
        setting("tls", c.tls);
        startFor(archive(5000));
        if (c.trusted)
            window->IdFTP->TlsTrustFile = server->caFile();
        const QStringList lines = upload()->lines();
        QStringList plain = expectedLog(QStringLiteral("Arch2005-03-03_1415.cab"), 5000, {5000});
        if (c.line.isEmpty()) {
            EXPECT_EQ(lines, plain);
        } else if (!c.fails) {
            ASSERT_EQ(lines.size(), plain.size() + 1) << lines.join(QLatin1Char('|')).toStdString();
            EXPECT_TRUE(lines[7].startsWith(c.line)) << lines[7].toStdString();
            plain.insert(7, lines[7]);
            EXPECT_EQ(lines, plain);
            EXPECT_EQ(server->storedNames().size(), 1);
        } else {
            // The opening fails before the login: it closes, then says why.
            EXPECT_EQ(lines.mid(7), (QStringList{"Disconnecting.", "Rozłączono", "Disconnected.", c.line,
                                                 " *** Przesyłanie nieudane *** "}));
            EXPECT_TRUE(server->storedNames().isEmpty());
        }
        TearDown();
    }
}

TEST_F(UploadFixture, HostWithAnIPv6AddressOnly)
{
    QtServerOptions options;
    options.host = QStringLiteral("::1");
    serve(options);
    startFor(archive(1000), QStringLiteral("::1"));
    QStringList expected = expectedLog(QStringLiteral("Arch2005-03-03_1415.cab"), 1000, {1000});
    expected[3] = QStringLiteral("Resolving hostname ::1.");
    expected[4] = QStringLiteral("Connecting to ::1.");
    EXPECT_EQ(upload()->lines(), expected);
    EXPECT_EQ(server->storedNames().size(), 1);
}

TEST_F(UploadFixture, UnknownModeOrTlsValueIsReportedBeforeAnyConnection)
{
    const QString file = archive(10);
    startFor(file);
    setting("tryb", QStringLiteral("pasywnie"));
    EXPECT_EQ(upload(), nullptr);
    EXPECT_EQ(Q(ui.messages.back().text),
              QStringLiteral("Nieznana wartość \"pasywnie\" klucza tryb w pliku ustawień (dozwolone: auto, aktywny, pasywny)"));
    EXPECT_EQ(ui.messages.back().icon, MsgIcon::Error);
    setting("tryb", QStringLiteral(" AUTO "));
    setting("tls", QStringLiteral("tak"));
    EXPECT_EQ(upload(), nullptr);
    EXPECT_EQ(Q(ui.messages.back().text),
              QStringLiteral("Nieznana wartość \"tak\" klucza tls w pliku ustawień (dozwolone: nie, auto, wymagany)"));
    EXPECT_TRUE(window->act_FTP->isEnabled());
    EXPECT_TRUE(server->storedNames().isEmpty());
}
