#include "AppFixture.h"
#include "FtpTestServer.h"
#include "settings/formstorage.h"
#include "upload/remotename.h"

#include "upload/IdFTP.h"

#include <QDateTime>
#include <QPushButton>
#include <QFile>
#include <QRegularExpression>

using namespace qv;
using namespace qv::test;

namespace {

const QString kPassword = QStringLiteral("#(wnto)#");

class UploadFixture : public AppFixture {
protected:
    std::unique_ptr<FtpTestServer> server;

    void SetUp() override
    {
        AppFixture::SetUp();
        server = std::make_unique<FtpTestServer>(QStringLiteral("qv"), kPassword);
        ASSERT_EQ(server->failure(), "");
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
        setValue(QStringLiteral("host"), host);
        setValue(QStringLiteral("port"), QString::number(server->port()));
    }

    void setValue(const QString &name, const QVariant &value)
    {
        window->FormStorage_Main->StoredValues.Find(name)->Value = value;
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
};

}  // namespace

TEST_F(UploadFixture, SuccessfulUploadLogsEveryStepAndStoresTheFileUnderATimeStampedName)
{
    const QString file = archive(70000);
    startFor(file);
    ASSERT_TRUE(window->act_FTP->isEnabled());
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    TForm_Zawartosc *log = upload();
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    ASSERT_NE(log, nullptr);

    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("Wysłać plik \"Arch2005-03-03_1415.cab\" internetowym protokołem FTP ?"));
    EXPECT_EQ(ui.messages[0].caption, QStringLiteral("Potwierdź transmisję ... "));
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
    for (int i = 0; i < 120 && server->storedNames().size() < 1; ++i)
        pumpEvents(10);
    // The next upload must get another second in its name.
    const QDateTime firstTime = QDateTime::currentDateTime();
    while (QDateTime::currentDateTime().toSecsSinceEpoch() == firstTime.toSecsSinceEpoch())
        pumpEvents(50);
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
    ASSERT_EQ(lines.size(), 11) << lines.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(lines.mid(0, 7), expectedLog(QString(), 0, {}).mid(0, 7));
    EXPECT_EQ(lines.mid(7, 3), (QStringList{"Disconnecting.", "Rozłączono", "Disconnected."}));
    EXPECT_TRUE(lines[10].startsWith(QStringLiteral("530 "))) << lines[10].toStdString();  // the server's own reason
    EXPECT_FALSE(lines.contains(QStringLiteral(" *** Koniec przesyłania *** ")));
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

    setValue(QStringLiteral("port"), QStringLiteral("dwadzieścia"));
    EXPECT_EQ(upload(), nullptr);
    EXPECT_EQ(ui.messages.back().text, QStringLiteral("'dwadzieścia' is not a valid integer value."));
    EXPECT_EQ(ui.messages.back().icon, MsgIcon::Error);
    EXPECT_EQ(ui.messages.back().caption, ApplicationTitle());
    EXPECT_TRUE(window->act_FTP->isEnabled());

    QFile::remove(file);
    const size_t before = ui.messages.size();
    EXPECT_EQ(upload(), nullptr);
    ASSERT_EQ(ui.messages.size(), before + 1);
    EXPECT_EQ(ui.messages.back().text, QStringLiteral("Brak pliku archiwum %1 !").arg(file));
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
