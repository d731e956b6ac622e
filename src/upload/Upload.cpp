#include "upload/Upload.h"

#include "platform/errors.h"
#include "upload/IdFTP.h"
#include "upload/remotename.h"

#include <QDateTime>
#include <QFileInfo>

namespace qv {

namespace {

// The notification handlers write to the upload's own window only, and only
// while the upload runs: the session forgets them when it ends.
class SessionLog {
public:
    SessionLog(Interaction &ui, TIdFTP &ftp, LogWindow &log) : ui_(ui), ftp_(ftp), log_(log)
    {
        ftp.OnStatus = [this](TIdStatus, const std::string &text) { line(QString::fromStdString(text)); };
        ftp.OnConnected = [this] { line(QStringLiteral("Połączono")); };
        ftp.OnDisconnected = [this] { line(QStringLiteral("Rozłączono")); };
        ftp.OnWorkBegin = [this](TWorkMode mode, std::int64_t total) {
            line((mode == wmWrite ? QStringLiteral("Wysyłanie - Wielkość przesyłki (%1)")
                                  : QStringLiteral("Czytanie  - Wielkość Przesyłki (%1)"))
                     .arg(total));
        };
        ftp.OnWork = [this](TWorkMode mode, std::int64_t count) {
            line((mode == wmWrite ? QStringLiteral("Wysłano już (%1)") : QStringLiteral("Odczytano już (%1)"))
                     .arg(count));
        };
        ftp.OnWorkEnd = [this](TWorkMode mode) {
            line(mode == wmWrite ? QStringLiteral("Koniec wysyłania") : QStringLiteral("Koniec czytania"));
        };
    }

    ~SessionLog()
    {
        ftp_.OnStatus = nullptr;
        ftp_.OnConnected = nullptr;
        ftp_.OnDisconnected = nullptr;
        ftp_.OnWorkBegin = nullptr;
        ftp_.OnWork = nullptr;
        ftp_.OnWorkEnd = nullptr;
    }

    void line(const QString &text)
    {
        log_.addLine(text);
        ui_.processEvents();
    }

    // A failure's own text, on one line, so the user sees why nothing arrived.
    void failure(const std::exception &e)
    {
        QString text = QString::fromUtf8(e.what()).simplified();
        if (const auto *reply = dynamic_cast<const EIdReplyError *>(&e))
            text = (QString::number(reply->ReplyCode()) + QLatin1Char(' ') + text).trimmed();
        line(text.isEmpty() ? QStringLiteral("Błąd przesyłania") : text);
    }

private:
    Interaction &ui_;
    TIdFTP &ftp_;
    LogWindow &log_;
};

int portValue(const QVariant &value)
{
    bool ok = false;
    const int port = value.toString().trimmed().toInt(&ok);
    if (!ok)
        throw Exception(QStringLiteral("'%1' is not a valid integer value").arg(value.toString()).toStdString());
    return port;
}

QString plainCaption() { return ApplicationTitle(); }

}  // namespace

void UploadArchive(Interaction &ui, TIdFTP &IdFTP, const UploadHost &host)
{
    host.setFtpEnabled(false);
    ui.processEvents();
    struct EnableAtEnd {
        const UploadHost &host;
        ~EnableAtEnd() { host.setFtpEnabled(true); }
    } enableAtEnd{host};

    const QString fileName = host.archiveFileName();
    if (fileName.isEmpty() || !QFileInfo(fileName).isFile()) {
        ui.message(host.window, {QStringLiteral("Brak pliku archiwum %1 !").arg(fileName), plainCaption(),
                                 MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
        return;
    }
    const QString shortName = QFileInfo(fileName).fileName();
    if (ui.message(host.window, {QStringLiteral("Wysłać plik \"%1\" internetowym protokołem FTP ?").arg(shortName),
                                 QStringLiteral("Potwierdź transmisję ... "), MsgIcon::Question, MsgButtons::YesNo,
                                 MsgResult::No}) != MsgResult::Yes)
        return;

    IdFTP.Port = portValue(host.storedValue(QStringLiteral("port")));
    IdFTP.Host = host.storedValue(QStringLiteral("host")).toString().toStdString();
    IdFTP.Username = host.storedValue(QStringLiteral("un")).toString().toStdString();
    IdFTP.Password = host.storedValue(QStringLiteral("pw")).toString().toStdString();

    LogWindow *log = ui.openLogWindow();
    log->setCaption(QStringLiteral("Wysyłanie pliku %1").arg(shortName));
    log->clearLines();
    log->setCloseEnabled(false);
    host.setOperationRunning(true);
    log->showModeless();
    ui.processEvents();
    {
        SessionLog session(ui, IdFTP, *log);
        try {
            IdFTP.CloseSession();
            IdFTP.OpenSession(true);
            try {
                session.line(QStringLiteral("Wysyłanie pliku %1 - start").arg(shortName));
                IdFTP.ChangeFolder("dane");
                const std::string remote = RemoteFileName(SenderIdentifier(), QDateTime::currentDateTime());
                IdFTP.StoreFile(fileName.toStdString(), remote);
                IdFTP.CloseSession();
                session.line(QStringLiteral(" *** Koniec przesyłania *** "));
            } catch (const std::exception &e) {
                session.failure(e);
            }
        } catch (const std::exception &e) {
            session.failure(e);
        }
    }
    log->setCloseEnabled(true);
    host.setOperationRunning(false);
}

}  // namespace qv
