// The FTP client session: one control connection, login, change of folder,
// storing a file over a data connection, and closing.
//
// Blocking for its caller, but never deaf: every wait for the server (connect,
// reply, data connection, send, TLS handshake) is done in slices of
// kIdleSliceMs, and between slices the session calls OnIdle, where the owner
// keeps its windows alive and may call Stop(). Notifications arrive on the
// caller's thread from inside the calls.
//
// A host name stands for every address it resolves to, IPv4 ones first; each
// is tried in turn until one connects.
//
// The data connection is active first (the server connects to us, announced
// with PORT, or EPRT over IPv6); with DataMode dmActiveThenPassive a refused
// PORT/EPRT, a server that answers the store that it could not connect (425),
// or one that does not connect within PassiveFallbackTimeout, switches the
// same store to passive mode (EPSV, then PASV over IPv4), which works behind
// the address translation of an office router. Passive replies are trusted
// for the port only: the data connection always goes to the address of the
// control connection's peer.
//
// A reply is read within one time limit for all its lines, and no more than
// kMaxReplyLines lines and kMaxReplyBytes bytes of it are taken: a server
// that never ends its reply fails the session instead of filling memory.
//
// With UseTLS the control connection is secured with "AUTH TLS" before the
// login, and the data connections with "PBSZ 0" and "PROT P"; the server's
// certificate is checked against the system's store and the host name.
//
// A failure after "STOR" leaves a reply due from the server; the next command
// first brings the control connection back in step (ABOR where no data
// connection was made) within CleanupTimeout, so that a partial file can
// still be deleted. Where that cannot be done (a stop while the final reply
// was awaited, a reply that never came or never ended), Delete closes the
// control connection, which makes the server abandon the store, and deletes
// over a new one, opened as the old one was.
#pragma once

#include "platform/errors.h"
#include "platform/sockets.h"
#include "platform/tls.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv {

enum TIdStatus {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    ftpTransfer,
    ftpReady,
    ftpAborted,
    // Beyond the plain active exchange: what the session chose, and why.
    ftpTlsSecured,          // the control connection is encrypted
    ftpTlsNotOffered,       // the server does not offer TLS; going on in plain text
    ftpTlsUnavailable,      // this build has no TLS; going on in plain text
    ftpTlsDataClear,        // the server does not protect the data connection
    ftpActiveRefused,       // PORT/EPRT refused; switching to passive mode
    ftpActiveNoConnection,  // no data connection from the server; switching to passive mode
    ftpSizeUnknown,         // the server does not tell the stored file's size
    ftpActiveConnectFailed, // the server could not connect back (425); switching to passive mode
    ftpReconnecting,        // the control connection is out of step; a new one is opened
};

enum TWorkMode { wmRead, wmWrite };

// Who opens the data connection.
enum TIdDataMode {
    dmActive,             // the server, to our announced port (PORT/EPRT)
    dmPassive,            // we, to the port the server names (EPSV/PASV)
    dmActiveThenPassive,  // active first; passive when active does not work
};

enum TIdTlsMode {
    tlsNone,      // plain text
    tlsIfOffered, // TLS when the server offers it, else plain text
    tlsRequired,  // TLS or nothing: the password never goes in plain text
};

// What a time limit ran out on.
enum class TIdWait { Reply, DataConnection, Send, TlsHandshake };

// Every failure of the session carries its text; socket failures arrive as
// qv::net::ESocketError ("Socket Error # %d\r\n%s"), refused certificates
// and broken TLS as qv::net::ETlsError.
class EIdException : public Exception {
public:
    using Exception::Exception;
};

// A reply whose code the command does not accept; the text is the reply's lines.
class EIdReplyError : public EIdException {
public:
    EIdReplyError(int code, const std::string &text) : EIdException(text), code_(code) {}
    int ReplyCode() const { return code_; }

private:
    int code_;
};

class EIdCouldNotBindSocket : public EIdException {
public:
    EIdCouldNotBindSocket() : EIdException("Could not bind socket. Address and port are already in use.") {}
};

class EIdConnClosedGracefully : public EIdException {
public:
    EIdConnClosedGracefully() : EIdException("Connection Closed Gracefully.") {}
};

class EIdNotConnected : public EIdException {
public:
    EIdNotConnected() : EIdException("Not Connected") {}
};

class EIdMaxLineLengthExceeded : public EIdException {
public:
    EIdMaxLineLengthExceeded() : EIdException("Max line length exceeded.") {}
};

class EIdAlreadyConnected : public EIdException {
public:
    EIdAlreadyConnected() : EIdException("Already connected.") {}
};

class EIdNoDataToRead : public EIdException {
public:
    EIdNoDataToRead() : EIdException("No data to read.") {}
};

// The server kept us waiting longer than the session allows.
class EIdTimeout : public EIdException {
public:
    EIdTimeout(TIdWait what, int limitMs);
    TIdWait What() const { return what_; }
    int LimitMs() const { return limitMs_; }

private:
    TIdWait what_;
    int limitMs_;
};

// A reply that does not end: more lines or bytes than TIdFTP takes for one
// reply, or lines still coming when the reply's time limit ran out.
class EIdReplyTooLong : public EIdException {
public:
    enum Limit { Lines, Bytes, Time };
    // value: the count of lines or bytes, or the time limit in milliseconds.
    EIdReplyTooLong(Limit limit, long long value);
    Limit Exceeded() const { return limit_; }
    long long Value() const { return value_; }

private:
    Limit limit_;
    long long value_;
};

// An earlier command went unanswered in time; its reply may still come, so
// no further command can be matched with its own reply.
class EIdOutOfStep : public EIdException {
public:
    EIdOutOfStep()
        : EIdException("The server has not answered an earlier command; the session must be opened again.")
    {
    }
};

// The owner asked the session to stop (Stop()).
class EIdStopped : public EIdException {
public:
    EIdStopped() : EIdException("Stopped.") {}
};

// A command argument that would break the command line apart.
class EIdInvalidArgument : public EIdException {
public:
    using EIdException::EIdException;
};

// A reply that does not say what its code promises (a passive reply without
// a usable port).
class EIdMalformedReply : public EIdException {
public:
    using EIdException::EIdException;
};

// tlsRequired, and TLS cannot be had.
class EIdTlsRequired : public EIdException {
public:
    enum Reason { NotOffered, Unavailable, DataNotProtected };
    explicit EIdTlsRequired(Reason reason);
    Reason Why() const { return reason_; }

private:
    Reason reason_;
};

// The server holds another number of bytes than were sent.
class EIdSizeMismatch : public EIdException {
public:
    EIdSizeMismatch(std::int64_t sent, std::int64_t stored);
    std::int64_t Sent() const { return sent_; }
    std::int64_t Stored() const { return stored_; }

private:
    std::int64_t sent_;
    std::int64_t stored_;
};

// A server reply: the code and the lines without their first four characters.
struct TIdRFCReply {
    int NumericCode = 0;
    std::string TextCode;
    std::vector<std::string> Text;

    // The lines joined with line breaks, as an error carries them.
    std::string JoinedText() const;
};

// The port of an EPSV reply's "(|||port|)" (RFC 2428); empty when the text
// holds none, or a port outside 1..65535.
std::optional<int> ParseEpsvPort(const std::string &replyText);
// The port of a PASV reply's h1,h2,h3,h4,p1,p2 (the first such group of six
// numbers, as RFC 1123 advises); the address part is checked but not used.
std::optional<int> ParsePasvPort(const std::string &replyText);

using TIdStatusEvent = std::function<void(TIdStatus status, const std::string &text)>;
using TIdNotifyEvent = std::function<void()>;
using TIdWorkBeginEvent = std::function<void(TWorkMode mode, std::int64_t total)>;
using TIdWorkEvent = std::function<void(TWorkMode mode, std::int64_t count)>;
using TIdWorkEndEvent = std::function<void(TWorkMode mode)>;

class TIdFTP {
public:
    // How long one look at a socket lasts before OnIdle gets its turn: short
    // enough that a click on STOP or a repaint feels immediate (well under the
    // ~100 ms a user notices), long enough that a wait costs no CPU to speak of.
    static constexpr int kIdleSliceMs = 50;
    // The longest replies servers send (a banner, FEAT, HELP) run to some
    // tens of lines; a thousand leaves room for any of them and still stops
    // a server that sends lines without end.
    static constexpr int kMaxReplyLines = 1000;
    // A thousand lines of a thousand characters: far more than any real
    // reply, and little enough to hold in memory on any machine.
    static constexpr std::size_t kMaxReplyBytes = std::size_t(1) << 20;

    TIdFTP();
    ~TIdFTP();
    TIdFTP(const TIdFTP &) = delete;
    TIdFTP &operator=(const TIdFTP &) = delete;

    // Connection values; they persist across openings.
    std::string Host;  // name, dotted IPv4, or IPv6 (brackets allowed)
    // The addresses a host name stands for, in the order they are tried.
    std::function<std::vector<std::string>(const std::string &host)> ResolveAddresses = net::ResolveAll;
    int Port = 21;
    std::string Username;
    std::string Password;
    // Local end of the control connection: any address, a port of the system's choosing.
    std::string BoundIP;
    int BoundPort = 0;

    TIdDataMode DataMode = dmActive;
    TIdTlsMode UseTLS = tlsNone;
    // Trusted authorities in a PEM file instead of the system's store (tests).
    std::string TlsTrustFile;
    // Whether TLS can be had; false in a build without a TLS library. Tests
    // turn it off to see such a build's behaviour.
    bool TlsLibrary = net::TlsAvailable();
    // After a stored file's final reply, ask its size (SIZE) and fail when it
    // differs from what was sent.
    bool VerifySize = false;

    // Longest wait, in milliseconds, for a whole reply, for room to send data,
    // for a passive data connection and for a TLS handshake; 0 waits without
    // limit.
    int ReadTimeout = 60000;
    // Longest wait, in milliseconds, for the server's active data connection
    // after "STOR"; 0 waits without limit.
    int AcceptTimeout = 60000;
    // With dmActiveThenPassive: how long the server may take to connect back
    // before the store goes passive. 15 s: a server that can reach us at all
    // does so within a second; one behind a router that drops the attempt
    // never does, and the user should not wait a minute to find out.
    int PassiveFallbackTimeout = 15000;
    // Longest wait for the replies that bring the control connection back in
    // step after a failure or a stop, and for the reply to "DELE", and for
    // each step of a new connection that Delete opens: kept short, since the
    // user is already waiting for the end.
    int CleanupTimeout = 5000;
    int MaxLineLength = 16384;
    int SendBufferSize = 32768;
    int RecvBufferSize = 32768;

    TIdStatusEvent OnStatus;
    TIdNotifyEvent OnConnected;
    TIdNotifyEvent OnDisconnected;
    TIdWorkBeginEvent OnWorkBegin;
    TIdWorkEvent OnWork;
    TIdWorkEndEvent OnWorkEnd;
    // Called between the slices of every wait.
    TIdNotifyEvent OnIdle;

    // Connects (to each address of Host in turn, until one answers), reads
    // the greeting, secures the connection as UseTLS says and, with login,
    // logs in and selects the image type. connectTimeoutMs <= 0 leaves each
    // attempt to the platform. Any failure closes the session (without
    // "QUIT") before it passes on; a failure to connect is the last attempt's.
    void OpenSession(bool login = true, int connectTimeoutMs = 0);
    void ChangeFolder(const std::string &folder);
    // localFile is a UTF-8 path; remoteFile is used as given, but must not be
    // empty or hold a line break.
    void StoreFile(const std::string &localFile, const std::string &remoteFile);
    // "DELE"; the reply is awaited for CleanupTimeout only. When the control
    // connection cannot be brought back in step, it is closed and the file
    // is deleted over a new one (login and the folder changes as before).
    void Delete(const std::string &remoteFile);
    // "SIZE": the remote file's size, or nothing when the server does not
    // tell sizes.
    std::optional<std::int64_t> Size(const std::string &remoteFile);
    // Sends "QUIT" when connected (no reply awaited) and closes; reports the
    // closing even when nothing was open.
    void CloseSession();

    // Makes the current wait (or the next, or the current transfer at its
    // next block) end with EIdStopped. Meant for OnIdle and the notification
    // handlers; a new opening forgets a request nothing took up.
    void Stop() { stopRequested_ = true; }

    bool Connected() const { return control_.socket.IsOpen(); }
    // Whether the control connection is encrypted.
    bool Secured() const { return control_.tls != nullptr; }
    // Whether the last StoreFile sent its "STOR" and the server did not
    // refuse it outright: from then on the server may hold a file, whole or not.
    bool StoreStarted() const { return storeStarted_; }
    // The TLS protocol of the control connection ("TLSv1.3"); empty without TLS.
    std::string TlsProtocol() const;
    // How long an active store waits for the server's connection: AcceptTimeout,
    // or PassiveFallbackTimeout when that is shorter and passive mode may follow.
    int ActiveWaitLimit() const;
    const TIdRFCReply &LastCmdResult() const { return lastReply_; }

private:
    // A connection with TLS on top or not.
    struct Channel {
        net::Socket socket;
        std::unique_ptr<net::TlsStream> tls;
    };
    // Whether every reply asked for has been read: after a failure of a
    // store its final reply is still due; after a wait that gave up, any.
    enum class Step { InStep, TransferPending, OutOfStep };
    // A time limit from now.
    class Deadline;

    void Status(TIdStatus status, const std::string &text);
    void Connect(const std::string &address, int connectTimeoutMs);
    void Disconnect();
    void Reopen();
    void Idle();
    bool WaitReady(net::Socket &socket, bool forWrite, const Deadline &deadline);
    bool WaitReady(net::Socket &socket, bool forWrite, int limitMs);
    void WaitFor(Channel &channel, net::TlsWait wait, const Deadline &deadline, int limitMs, TIdWait what);
    void WaitFor(Channel &channel, net::TlsWait wait, int limitMs, TIdWait what);
    std::size_t ReceiveSome(Channel &channel, char *buffer, std::size_t length, const Deadline &deadline,
                            int limitMs, TIdWait what);
    std::size_t SendSome(Channel &channel, const char *data, std::size_t length, int limitMs);
    void Handshake(Channel &channel);
    void SendLine(const std::string &line);
    void SendCmd(const std::string &command, std::initializer_list<int> accepted);
    void GetResponse(std::initializer_list<int> accepted);
    std::string ReadLine(const Deadline &deadline, int limitMs);
    std::string ReadNonEmptyLine(const Deadline &deadline, int limitMs);
    void ReadReply(int limitMs);
    void ReadReplyTracked(int limitMs);
    void Resync(int limitMs);
    void NegotiateTls();
    void ProtectData();
    std::string TlsPeerName() const;
    bool ControlReadable();
    Channel OpenActive(net::Socket &listener, const std::string &remoteFile, int acceptLimitMs, bool &gaveUp);
    Channel OpenPassive(const std::string &remoteFile);
    Channel OpenDataConnection(const std::string &remoteFile);
    void SendStor(const std::string &remoteFile);
    void FinishData(Channel &data);

    Channel control_;
    std::string input_;           // received but not yet read
    int replyLines_ = 0;          // lines of the reply being read, blank ones too
    std::size_t replyBytes_ = 0;  // and their bytes
    std::vector<std::string> folders_;  // changes of folder since the login, for a new connection
    std::vector<char> received_;  // one read from the control connection
    std::vector<char> block_;     // the one buffer every transfer goes through
    TIdRFCReply lastReply_;
    bool dataProtected_ = false;
    bool stopRequested_ = false;
    bool storeStarted_ = false;
    Step step_ = Step::InStep;
    bool dataConnected_ = false;  // the pending transfer got its data connection
};

}  // namespace qv
