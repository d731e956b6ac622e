#include "upload/Upload.h"

#include "platform/environment.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/tls.h"
#include "upload/IdFTP.h"
#include "upload/remotename.h"

#include <climits>
#include <optional>
#include <vector>

namespace qv {

namespace {

std::string seconds(int ms) { return std::to_string((ms + 999) / 1000); }

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
        ftp.OnConnected = [this] { line(std::string("Połączono")); };
        ftp.OnDisconnected = [this] { line(std::string("Rozłączono")); };
        ftp.OnWorkBegin = [this](TWorkMode mode, std::int64_t total) {
            line(Format(mode == wmWrite ? "Wysyłanie - Wielkość przesyłki (%1)" : "Czytanie  - Wielkość Przesyłki (%1)",
                        {std::to_string(total)}));
        };
        ftp.OnWork = [this](TWorkMode mode, std::int64_t count) {
            log_.addProgressLine(
                Format(mode == wmWrite ? "Wysłano już (%1)" : "Odczytano już (%1)", {std::to_string(count)}));
            pump();
        };
        ftp.OnWorkEnd = [this](TWorkMode mode) {
            line(mode == wmWrite ? std::string("Koniec wysyłania") : std::string("Koniec czytania"));
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

    void line(const std::string &text)
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
            line(closingSeen_ ? std::string("Przerwano - program jest zamykany")
                              : std::string("Przerwano na żądanie użytkownika (STOP)"));
        } else if (const auto *timeout = dynamic_cast<const EIdTimeout *>(&e)) {
            line(timeoutLine(*timeout));
        } else if (const auto *tls = dynamic_cast<const net::ETlsError *>(&e)) {
            line(Format(tls->certificate() ? "Certyfikat serwera odrzucony (%1) - połączenie przerwane"
                                           : "Błąd połączenia szyfrowanego (%1) - połączenie przerwane",
                        {what(e)}));
        } else if (const auto *required = dynamic_cast<const EIdTlsRequired *>(&e)) {
            line(requiredLine(*required));
        } else if (const auto *size = dynamic_cast<const EIdSizeMismatch *>(&e)) {
            line(Format("Na serwerze jest %1 bajtów z %2 wysłanych - plik nie dotarł cały",
                        {std::to_string(size->Stored()), std::to_string(size->Sent())}));
        } else if (aborted_ && dynamic_cast<const EIdReplyError *>(&e)) {
            line(std::string("Serwer przerwał przyjmowanie pliku - plik nie dotarł cały"));
        } else if (const auto *tooLong = dynamic_cast<const EIdReplyTooLong *>(&e)) {
            line(tooLong->Exceeded() == EIdReplyTooLong::Time
                     ? Format("Odpowiedź serwera nie skończyła się w ciągu %1 s - przerwano",
                              {seconds(static_cast<int>(tooLong->Value()))})
                     : std::string("Odpowiedź serwera jest zbyt długa - przerwano"));
        } else {
            const std::string text = reason(e);
            line(text.empty() ? std::string("Błąd przesyłania") : text);
        }
    }

    // The last word of an upload that did not end with the file on the server.
    void summary()
    {
        line(stopped_ ? std::string(" *** Przesyłanie przerwane *** ")
                      : std::string(" *** Przesyłanie nieudane *** "));
    }

    // "DELE" of what a failed or stopped store may have left; a refusal is
    // logged, not a failure of its own.
    void deletePartial(const std::string &remote)
    {
        try {
            ftp_.Delete(remote);
            line(Format("Usunięto z serwera niepełny plik %1", {remote}));
        } catch (const EIdReplyError &e) {
            line(Format("Serwer nie usunął niepełnego pliku %1 (%2)", {remote, reason(e)}));
        } catch (const std::exception &e) {
            line(Format("Nie udało się usunąć niepełnego pliku %1 (%2)", {remote, reason(e)}));
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
            line(Format("Połączenie szyfrowane (%1)", {ftp_.TlsProtocol()}));
            break;
        case ftpTlsNotOffered:
            line(std::string("Serwer nie oferuje szyfrowania - połączenie nieszyfrowane"));
            break;
        case ftpTlsUnavailable:
            line(std::string("Program nie ma obsługi szyfrowania - połączenie nieszyfrowane"));
            break;
        case ftpTlsDataClear:
            line(std::string("Serwer nie szyfruje połączenia danych - plik zostanie wysłany bez szyfrowania"));
            break;
        case ftpActiveRefused:
            line(std::string("Serwer odrzucił tryb aktywny - przechodzę na tryb pasywny"));
            break;
        case ftpActiveConnectFailed:
            line(Format("Serwer nie mógł połączyć się z programem (%1) - przechodzę na tryb pasywny",
                        {std::to_string(ftp_.LastCmdResult().NumericCode)}));
            break;
        case ftpReconnecting:
            line(std::string("Łączę się ponownie z serwerem, aby usunąć niepełny plik"));
            break;
        case ftpActiveNoConnection:
            line(Format("Serwer nie połączył się w ciągu %1 s - przechodzę na tryb pasywny",
                        {seconds(ftp_.ActiveWaitLimit())}));
            break;
        case ftpSizeUnknown:
            line(std::string("Serwer nie podaje wielkości plików (SIZE) - nie sprawdzono, czy plik dotarł cały"));
            break;
        case ftpAborted:
            aborted_ = true;
            line(text);
            break;
        default:
            line(text);
        }
    }

    static std::string what(const std::exception &e) { return Simplified(e.what()); }

    // The failure's own text, a refused reply's with its code first.
    static std::string reason(const std::exception &e)
    {
        std::string text = what(e);
        if (const auto *reply = dynamic_cast<const EIdReplyError *>(&e))
            text = Trimmed(std::to_string(reply->ReplyCode()) + ' ' + text);
        else if (dynamic_cast<const EIdTimeout *>(&e))
            text = std::string("serwer nie odpowiada");
        else if (dynamic_cast<const EIdReplyTooLong *>(&e))
            text = std::string("odpowiedź serwera jest zbyt długa");
        else if (dynamic_cast<const EIdNotConnected *>(&e))
            text = std::string("brak połączenia z serwerem");
        else if (dynamic_cast<const EIdOutOfStep *>(&e))
            text = std::string("serwer nie odpowiedział na wcześniejsze polecenie");
        return text;
    }

    static std::string timeoutLine(const EIdTimeout &e)
    {
        const std::string s = seconds(e.LimitMs());
        switch (e.What()) {
        case TIdWait::Reply: return Format("Serwer nie odpowiedział w ciągu %1 s - przerwano", {s});
        case TIdWait::DataConnection: return Format("Nie nawiązano połączenia danych w ciągu %1 s - przerwano", {s});
        case TIdWait::Send: return Format("Serwer nie przyjmuje danych od %1 s - przerwano", {s});
        case TIdWait::TlsHandshake:
            return Format("Nie nawiązano połączenia szyfrowanego w ciągu %1 s - przerwano", {s});
        }
        return std::string("Przekroczono czas oczekiwania na serwer");
    }

    static std::string requiredLine(const EIdTlsRequired &e)
    {
        switch (e.Why()) {
        case EIdTlsRequired::NotOffered:
            return std::string("Serwer nie oferuje szyfrowania, a ustawienie tls=wymagany go wymaga - "
                                  "hasła nie wysłano");
        case EIdTlsRequired::Unavailable:
            return std::string("Program nie ma obsługi szyfrowania, a ustawienie tls=wymagany go wymaga - "
                                  "hasła nie wysłano");
        case EIdTlsRequired::DataNotProtected:
            return std::string("Serwer nie szyfruje połączenia danych, a ustawienie tls=wymagany tego wymaga - "
                                  "pliku nie wysłano");
        }
        return std::string("Szyfrowanie niedostępne");
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

int portValue(const std::string &value)
{
    const std::optional<int> port = [&]() -> std::optional<int> {
        const std::string t = Trimmed(value);
        std::size_t i = (!t.empty() && (t[0] == '-' || t[0] == '+')) ? 1 : 0;
        if (i == t.size() || t.size() > 11)
            return std::nullopt;
        for (std::size_t j = i; j < t.size(); ++j)
            if (t[j] < '0' || t[j] > '9')
                return std::nullopt;
        const long long v = std::stoll(t);
        return v < INT_MIN || v > INT_MAX ? std::nullopt : std::optional<int>(static_cast<int>(v));
    }();
    if (!port)
        throw Exception(Format("'%1' is not a valid integer value", {value}));
    return *port;
}

// One of the words a key allows, letter case and blanks aside; an empty or
// missing key gives the first (the default).
int choice(const UploadHost &host, const std::string &key, const std::vector<std::string> &words)
{
    const std::string value = host.setting ? Trimmed(host.setting(key)) : std::string();
    if (value.empty())
        return 0;
    std::string allowed;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (SameTextIgnoringCase(value, words[i]))
            return static_cast<int>(i);
        allowed += (i ? ", " : "") + words[i];
    }
    throw Exception(
        Format("Nieznana wartość \"%1\" klucza %2 w pliku ustawień (dozwolone: %3)", {value, key, allowed}));
}

// [Main] tryb = auto | aktywny | pasywny: active, and passive when active
// does not get through (the default); active only, as the service server
// was first reached; passive only.
TIdDataMode dataMode(const UploadHost &host)
{
    static const TIdDataMode modes[] = {dmActiveThenPassive, dmActive, dmPassive};
    return modes[choice(host, "tryb", {"auto", "aktywny", "pasywny"})];
}

// [Main] tls = nie | auto | wymagany. Off by default until the service
// server is known to offer TLS.
TIdTlsMode tlsMode(const UploadHost &host)
{
    static const TIdTlsMode modes[] = {tlsNone, tlsIfOffered, tlsRequired};
    return modes[choice(host, "tls", {"nie", "auto", "wymagany"})];
}

std::string plainCaption() { return ApplicationTitle(); }

}  // namespace

bool UploadArchive(Interaction &ui, TIdFTP &IdFTP, const UploadHost &host)
{
    host.setFtpEnabled(false);
    ui.processEvents();
    struct EnableAtEnd {
        const UploadHost &host;
        ~EnableAtEnd() { host.setFtpEnabled(true); }
    } enableAtEnd{host};

    const std::string fileName = host.archiveFileName();
    if (fileName.empty() || !FileExists(fileName)) {
        ui.message({Format("Brak pliku archiwum %1 !", {fileName}), plainCaption(), MsgIcon::None, MsgButtons::Ok,
                    MsgResult::Ok});
        return false;
    }
    const std::string shortName = ExtractFileName(fileName);
    if (ui.message({Format("Wysłać plik \"%1\" internetowym protokołem FTP ?", {shortName}), "Potwierdź transmisję ... ",
                    MsgIcon::Question, MsgButtons::YesNo, MsgResult::No}) != MsgResult::Yes)
        return false;

    IdFTP.Port = portValue(host.storedValue("port"));
    IdFTP.Host = host.storedValue("host");
    IdFTP.Username = host.storedValue("un");
    IdFTP.Password = host.storedValue("pw");
    IdFTP.DataMode = dataMode(host);
    IdFTP.UseTLS = tlsMode(host);
    IdFTP.VerifySize = true;

    LogWindow *log = ui.openLogWindow();
    log->setCaption(Format("Wysyłanie pliku %1", {shortName}));
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
                session.line(Format("Wysyłanie pliku %1 - start", {shortName}));
                IdFTP.ChangeFolder("dane");
                remote = RemoteFileName(SenderIdentifier(), LocalNow());
                IdFTP.StoreFile(fileName, remote);
                IdFTP.CloseSession();
                session.line(std::string(" *** Koniec przesyłania *** "));
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
