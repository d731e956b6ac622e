// The FTP client session: one control connection, login, change of folder,
// storing a file over an active-mode data connection, and closing.
// Blocking; notifications arrive on the caller's thread from inside the calls.
#pragma once

#include "platform/errors.h"
#include "platform/sockets.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
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
};

enum TWorkMode { wmRead, wmWrite };

// Every failure of the session carries its text; socket failures arrive as
// qv::net::ESocketError ("Socket Error # %d\r\n%s").
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
    using EIdException::EIdException;
};

// A command argument that would break the command line apart.
class EIdInvalidArgument : public EIdException {
public:
    using EIdException::EIdException;
};

// A server reply: the code and the lines without their first four characters.
struct TIdRFCReply {
    int NumericCode = 0;
    std::string TextCode;
    std::vector<std::string> Text;

    // The lines joined with line breaks, as an error carries them.
    std::string JoinedText() const;
};

using TIdStatusEvent = std::function<void(TIdStatus status, const std::string &text)>;
using TIdNotifyEvent = std::function<void()>;
using TIdWorkBeginEvent = std::function<void(TWorkMode mode, std::int64_t total)>;
using TIdWorkEvent = std::function<void(TWorkMode mode, std::int64_t count)>;
using TIdWorkEndEvent = std::function<void(TWorkMode mode)>;

class TIdFTP {
public:
    TIdFTP();
    ~TIdFTP();
    TIdFTP(const TIdFTP &) = delete;
    TIdFTP &operator=(const TIdFTP &) = delete;

    // Connection values; they persist across openings.
    std::string Host;
    int Port = 21;
    std::string Username;
    std::string Password;
    // Local end of the control connection: any address, a port of the system's choosing.
    std::string BoundIP;
    int BoundPort = 0;

    // Longest wait, in milliseconds, for a reply line or for room to send
    // data; 0 waits without limit.
    int ReadTimeout = 60000;
    // Longest wait, in milliseconds, for the server's data connection after
    // "STOR"; 0 waits without limit.
    int AcceptTimeout = 60000;
    int MaxLineLength = 16384;
    int SendBufferSize = 32768;
    int RecvBufferSize = 32768;

    TIdStatusEvent OnStatus;
    TIdNotifyEvent OnConnected;
    TIdNotifyEvent OnDisconnected;
    TIdWorkBeginEvent OnWorkBegin;
    TIdWorkEvent OnWork;
    TIdWorkEndEvent OnWorkEnd;

    // Connects, reads the greeting and, with login, logs in and selects the
    // image type. connectTimeoutMs <= 0 leaves the attempt to the platform.
    // Any failure closes the session (without "QUIT") before it passes on.
    void OpenSession(bool login = true, int connectTimeoutMs = 0);
    void ChangeFolder(const std::string &folder);
    // localFile is a UTF-8 path; remoteFile is used as given, but must not be
    // empty or hold a line break.
    void StoreFile(const std::string &localFile, const std::string &remoteFile);
    // Sends "QUIT" when connected (no reply awaited) and closes; reports the
    // closing even when nothing was open.
    void CloseSession();

    bool Connected() const { return control_.IsOpen(); }
    const TIdRFCReply &LastCmdResult() const { return lastReply_; }

private:
    void Status(TIdStatus status, const std::string &text);
    void Disconnect();
    void SendLine(const std::string &line);
    void SendCmd(const std::string &command, std::initializer_list<int> accepted);
    void GetResponse(std::initializer_list<int> accepted);
    std::string ReadLine();
    std::string ReadNonEmptyLine();
    void ReadReply();

    net::Socket control_;
    std::string input_;           // received but not yet read
    std::vector<char> received_;  // one read from the control connection
    std::vector<char> block_;     // the one buffer every transfer goes through
    TIdRFCReply lastReply_;
};

}  // namespace qv
