#include "upload/Upload.h"

#include "platform/errors.h"
#include "platform/tls.h"
#include "upload/IdFTP.h"
#include "upload/remotename.h"

#include <QDateTime>
#include <QFileInfo>

namespace qv {

namespace {

QString seconds(int ms) { return QString::number((ms + 999) / 1000); }

// The notification handlers write to the upload's own window only, and only
// while the upload runs: the session forgets them when it ends. The same
// object turns STOP, and the closing of the main window, into a stop of the
// session, once.
class SessionLog {
public:
    SessionLog(Interaction &ui, TIdFTP &ftp, LogWindow &log, const UploadHost &host)
        : ui_(ui), ftp_(ftp), log_(log), host_(host)
    {
        ftp.OnStatus = [this](TIdStatus status, const std::string &text) { onStatus(status, text); };
        ftp.OnConnected = [this] { line(QStringLiteral("Połączono")); };
        ftp.OnDisconnected = [this] { line(QStringLiteral("Rozłączono")); };
        ftp.OnWorkBegin = [this](TWorkMode mode, std::int64_t total) {
            line((mode == wmWrite ? QStringLiteral("Wysyłanie - Wielkość przesyłki (%1)")
                                  : QStringLiteral("Czytanie  - Wielkość Przesyłki (%1)"))
                     .arg(total));
        };
        ftp.OnWork = [this](TWorkMode mode, std::int64_t count) {
            log_.addProgressLine(
                (mode == wmWrite ? QStringLiteral("Wysłano już (%1)") : QStringLiteral("Odczytano już (%1)")).arg(count));
            pump();
        };
        ftp.OnWorkEnd = [this](TWorkMode mode) {
            line(mode == wmWrite ? QStringLiteral("Koniec wysyłania") : QStringLiteral("Koniec czytania"));
        };
        ftp.OnIdle = [this] { pump(); };
    }

    ~SessionLog()
    {
        ftp_.OnStatus = nullptr;
        ftp_.OnConnected = nullptr;
        ftp_.OnDisconnected = nullptr;
        ftp_.OnWorkBegin = nullptr;
        ftp_.OnWork = nullptr;
        ftp_.OnWorkEnd = nullptr;
        ftp_.OnIdle = nullptr;
    }

    void line(const QString &text)
    {
        log_.addLine(text);
        pump();
    }

    bool stopped() const { return stopped_; }

    // Why the upload failed, on one line, in words the user can act on.
    void failure(const std::exception &e)
    {
        if (dynamic_cast<const EIdStopped *>(&e)) {
            stopped_ = true;
            line(closingSeen_ ? QStringLiteral("Przerwano - program jest zamykany")
                              : QStringLiteral("Przerwano na żądanie użytkownika (STOP)"));
        } else if (const auto *timeout = dynamic_cast<const EIdTimeout *>(&e)) {
            line(timeoutLine(*timeout));
        } else if (const auto *tls = dynamic_cast<const net::ETlsError *>(&e)) {
            line(tls->certificate()
                     ? QStringLiteral("Certyfikat serwera odrzucony (%1) - połączenie przerwane").arg(what(e))
                     : QStringLiteral("Błąd połączenia szyfrowanego (%1) - połączenie przerwane").arg(what(e)));
        } else if (const auto *required = dynamic_cast<const EIdTlsRequired *>(&e)) {
            line(requiredLine(*required));
        } else if (const auto *size = dynamic_cast<const EIdSizeMismatch *>(&e)) {
            line(QStringLiteral("Na serwerze jest %1 bajtów z %2 wysłanych - plik nie dotarł cały")
                     .arg(size->Stored())
                     .arg(size->Sent()));
        } else if (aborted_ && dynamic_cast<const EIdReplyError *>(&e)) {
            line(QStringLiteral("Serwer przerwał przyjmowanie pliku - plik nie dotarł cały"));
        } else if (const auto *tooLong = dynamic_cast<const EIdReplyTooLong *>(&e)) {
            line(tooLong->Exceeded() == EIdReplyTooLong::Time
                     ? QStringLiteral("Odpowiedź serwera nie skończyła się w ciągu %1 s - przerwano")
                           .arg(seconds(static_cast<int>(tooLong->Value())))
                     : QStringLiteral("Odpowiedź serwera jest zbyt długa - przerwano"));
        } else {
            const QString text = reason(e);
            line(text.isEmpty() ? QStringLiteral("Błąd przesyłania") : text);
        }
    }

    // The last word of an upload that did not end with the file on the server.
    void summary()
    {
        line(stopped_ ? QStringLiteral(" *** Przesyłanie przerwane *** ")
                      : QStringLiteral(" *** Przesyłanie nieudane *** "));
    }

    // "DELE" of what a failed or stopped store may have left; a refusal is
    // logged, not a failure of its own.
    void deletePartial(const std::string &remote)
    {
        const QString name = QString::fromStdString(remote);
        try {
            ftp_.Delete(remote);
            line(QStringLiteral("Usunięto z serwera niepełny plik %1").arg(name));
        } catch (const EIdReplyError &e) {
            line(QStringLiteral("Serwer nie usunął niepełnego pliku %1 (%2)").arg(name, reason(e)));
        } catch (const std::exception &e) {
            line(QStringLiteral("Nie udało się usunąć niepełnego pliku %1 (%2)").arg(name, reason(e)));
        }
    }

private:
    // Events first, then a stop request if the user asked for one since.
    void pump()
    {
        ui_.processEvents();
        if (stopTaken_)
            return;
        const bool closing = host_.closing && host_.closing();
        if (closing || log_.stopPressed()) {
            closingSeen_ = closing;
            stopTaken_ = true;
            ftp_.Stop();
        }
    }

    void onStatus(TIdStatus status, const std::string &text)
    {
        switch (status) {
        case ftpTlsSecured:
            line(QStringLiteral("Połączenie szyfrowane (%1)").arg(QString::fromStdString(ftp_.TlsProtocol())));
            break;
        case ftpTlsNotOffered:
            line(QStringLiteral("Serwer nie oferuje szyfrowania - połączenie nieszyfrowane"));
            break;
        case ftpTlsUnavailable:
            line(QStringLiteral("Program nie ma obsługi szyfrowania - połączenie nieszyfrowane"));
            break;
        case ftpTlsDataClear:
            line(QStringLiteral("Serwer nie szyfruje połączenia danych - plik zostanie wysłany bez szyfrowania"));
            break;
        case ftpActiveRefused:
            line(QStringLiteral("Serwer odrzucił tryb aktywny - przechodzę na tryb pasywny"));
            break;
        case ftpActiveConnectFailed:
            line(QStringLiteral("Serwer nie mógł połączyć się z programem (%1) - przechodzę na tryb pasywny")
                     .arg(ftp_.LastCmdResult().NumericCode));
            break;
        case ftpReconnecting:
            line(QStringLiteral("Łączę się ponownie z serwerem, aby usunąć niepełny plik"));
            break;
        case ftpActiveNoConnection:
            line(QStringLiteral("Serwer nie połączył się w ciągu %1 s - przechodzę na tryb pasywny")
                     .arg(seconds(ftp_.ActiveWaitLimit())));
            break;
        case ftpSizeUnknown:
            line(QStringLiteral("Serwer nie podaje wielkości plików (SIZE) - nie sprawdzono, czy plik dotarł cały"));
            break;
        case ftpAborted:
            aborted_ = true;
            line(QString::fromStdString(text));
            break;
        default:
            line(QString::fromStdString(text));
        }
    }

    static QString what(const std::exception &e) { return QString::fromUtf8(e.what()).simplified(); }

    // The failure's own text, a refused reply's with its code first.
    static QString reason(const std::exception &e)
    {
        QString text = what(e);
        if (const auto *reply = dynamic_cast<const EIdReplyError *>(&e))
            text = (QString::number(reply->ReplyCode()) + QLatin1Char(' ') + text).trimmed();
        else if (dynamic_cast<const EIdTimeout *>(&e))
            text = QStringLiteral("serwer nie odpowiada");
        else if (dynamic_cast<const EIdReplyTooLong *>(&e))
            text = QStringLiteral("odpowiedź serwera jest zbyt długa");
        else if (dynamic_cast<const EIdNotConnected *>(&e))
            text = QStringLiteral("brak połączenia z serwerem");
        else if (dynamic_cast<const EIdOutOfStep *>(&e))
            text = QStringLiteral("serwer nie odpowiedział na wcześniejsze polecenie");
        return text;
    }

    static QString timeoutLine(const EIdTimeout &e)
    {
        const QString s = seconds(e.LimitMs());
        switch (e.What()) {
        case TIdWait::Reply: return QStringLiteral("Serwer nie odpowiedział w ciągu %1 s - przerwano").arg(s);
        case TIdWait::DataConnection:
            return QStringLiteral("Nie nawiązano połączenia danych w ciągu %1 s - przerwano").arg(s);
        case TIdWait::Send: return QStringLiteral("Serwer nie przyjmuje danych od %1 s - przerwano").arg(s);
        case TIdWait::TlsHandshake:
            return QStringLiteral("Nie nawiązano połączenia szyfrowanego w ciągu %1 s - przerwano").arg(s);
        }
        return QStringLiteral("Przekroczono czas oczekiwania na serwer");
    }

    static QString requiredLine(const EIdTlsRequired &e)
    {
        switch (e.Why()) {
        case EIdTlsRequired::NotOffered:
            return QStringLiteral("Serwer nie oferuje szyfrowania, a ustawienie tls=wymagany go wymaga - "
                                  "hasła nie wysłano");
        case EIdTlsRequired::Unavailable:
            return QStringLiteral("Program nie ma obsługi szyfrowania, a ustawienie tls=wymagany go wymaga - "
                                  "hasła nie wysłano");
        case EIdTlsRequired::DataNotProtected:
            return QStringLiteral("Serwer nie szyfruje połączenia danych, a ustawienie tls=wymagany tego wymaga - "
                                  "pliku nie wysłano");
        }
        return QStringLiteral("Szyfrowanie niedostępne");
    }

    Interaction &ui_;
    TIdFTP &ftp_;
    LogWindow &log_;
    const UploadHost &host_;
    bool stopTaken_ = false;
    bool closingSeen_ = false;
    bool stopped_ = false;
    bool aborted_ = false;
};

int portValue(const QVariant &value)
{
    bool ok = false;
    const int port = value.toString().trimmed().toInt(&ok);
    if (!ok)
        throw Exception(QStringLiteral("'%1' is not a valid integer value").arg(value.toString()).toStdString());
    return port;
}

// One of the words a key allows, letter case and blanks aside; an empty or
// missing key gives the first (the default).
int choice(const UploadHost &host, const QString &key, const QStringList &words)
{
    const QString value = host.setting ? host.setting(key).trimmed() : QString();
    if (value.isEmpty())
        return 0;
    for (int i = 0; i < words.size(); ++i)
        if (value.compare(words[i], Qt::CaseInsensitive) == 0)
            return i;
    throw Exception(QStringLiteral("Nieznana wartość \"%1\" klucza %2 w pliku ustawień (dozwolone: %3)")
                        .arg(value, key, words.join(QStringLiteral(", ")))
                        .toStdString());
}

// [Main] tryb = auto | aktywny | pasywny: active, and passive when active
// does not get through (the default); active only, as the service server
// was first reached; passive only.
TIdDataMode dataMode(const UploadHost &host)
{
    static const TIdDataMode modes[] = {dmActiveThenPassive, dmActive, dmPassive};
    return modes[choice(host, QStringLiteral("tryb"), {QStringLiteral("auto"), QStringLiteral("aktywny"),
                                                        QStringLiteral("pasywny")})];
}

// [Main] tls = nie | auto | wymagany. Off by default until the service
// server is known to offer TLS.
TIdTlsMode tlsMode(const UploadHost &host)
{
    static const TIdTlsMode modes[] = {tlsNone, tlsIfOffered, tlsRequired};
    return modes[choice(host, QStringLiteral("tls"),
                        {QStringLiteral("nie"), QStringLiteral("auto"), QStringLiteral("wymagany")})];
}

QString plainCaption() { return ApplicationTitle(); }

}  // namespace

bool UploadArchive(Interaction &ui, TIdFTP &IdFTP, const UploadHost &host)
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
        return false;
    }
    const QString shortName = QFileInfo(fileName).fileName();
    if (ui.message(host.window, {QStringLiteral("Wysłać plik \"%1\" internetowym protokołem FTP ?").arg(shortName),
                                 QStringLiteral("Potwierdź transmisję ... "), MsgIcon::Question, MsgButtons::YesNo,
                                 MsgResult::No}) != MsgResult::Yes)
        return false;

    IdFTP.Port = portValue(host.storedValue(QStringLiteral("port")));
    IdFTP.Host = host.storedValue(QStringLiteral("host")).toString().toStdString();
    IdFTP.Username = host.storedValue(QStringLiteral("un")).toString().toStdString();
    IdFTP.Password = host.storedValue(QStringLiteral("pw")).toString().toStdString();
    IdFTP.DataMode = dataMode(host);
    IdFTP.UseTLS = tlsMode(host);
    IdFTP.VerifySize = true;

    LogWindow *log = ui.openLogWindow();
    log->setCaption(QStringLiteral("Wysyłanie pliku %1").arg(shortName));
    log->clearLines();
    log->setCloseEnabled(false);
    log->setStopVisible(true);
    host.setOperationRunning(true);
    log->showModeless();
    ui.processEvents();
    bool sent = false;
    {
        SessionLog session(ui, IdFTP, *log, host);
        try {
            IdFTP.CloseSession();
            IdFTP.OpenSession(true);
            std::string remote;
            try {
                session.line(QStringLiteral("Wysyłanie pliku %1 - start").arg(shortName));
                IdFTP.ChangeFolder("dane");
                remote = RemoteFileName(SenderIdentifier(), QDateTime::currentDateTime());
                IdFTP.StoreFile(fileName.toStdString(), remote);
                IdFTP.CloseSession();
                session.line(QStringLiteral(" *** Koniec przesyłania *** "));
                sent = true;
            } catch (const std::exception &e) {
                session.failure(e);
                if (!remote.empty() && IdFTP.StoreStarted())
                    session.deletePartial(remote);
                if (session.stopped())
                    IdFTP.CloseSession();
                session.summary();
            }
        } catch (const std::exception &e) {
            session.failure(e);
            session.summary();
        }
    }
    log->setStopVisible(false);
    log->setCloseEnabled(true);
    host.setOperationRunning(false);
    return sent;
}

}  // namespace qv
