#include "upload/IdFTP.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace qv {

namespace {

bool isBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string trimmed(const std::string &s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && isBlankOrControl(s[b]))
        ++b;
    while (e > b && isBlankOrControl(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

bool equalsIgnoringCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return upper(x) == upper(y); });
}

int decimalOrZero(const std::string &s)
{
    if (s.empty() || s.size() > 9)
        return 0;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return 0;
        v = v * 10 + (c - '0');
    }
    return v;
}

bool accepts(std::initializer_list<int> codes, int code)
{
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

// Line breaks inside an argument would smuggle further commands to the server.
void checkArgument(const std::string &value, const char *what)
{
    if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw EIdInvalidArgument(std::string(what) + " contains a line break.");
}

std::filesystem::path utf8Path(const std::string &name)
{
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A line that ends a multi-line reply begins, at its very first character,
// with the reply's code and a blank, or is the code alone. A line indented
// with blanks is text, whatever follows them (RFC 959 asks servers to pad a
// text line that begins with digits).
bool endsReply(const std::string &line, const std::string &code)
{
    return line.size() >= 3 && equalsIgnoringCase(line.substr(0, 3), code) && (line.size() == 3 || line[3] == ' ');
}

std::string rightTrimmed(std::string s)
{
    while (!s.empty() && isBlankOrControl(s.back()))
        s.pop_back();
    return s;
}

// Refusals of a store that say the server could not open our data connection:
// the same store may still go through in passive mode.
bool refusesConnectBack(int code) { return code == 425 || code == 426; }

// Decimal digits at text[i...] as a number no greater than max; i moves past them.
std::optional<int> number(const std::string &text, std::size_t &i, int max)
{
    const std::size_t start = i;
    long value = 0;
    while (i < text.size() && isDigit(text[i])) {
        value = value * 10 + (text[i] - '0');
        if (value > max)
            return std::nullopt;
        ++i;
    }
    if (i == start)
        return std::nullopt;
    return static_cast<int>(value);
}

// The address part of an EPRT command: no zone, which only means something here.
std::string withoutZone(const std::string &address) { return address.substr(0, address.find('%')); }

std::string seconds(int ms) { return std::to_string((ms + 999) / 1000); }

const char *timeoutText(TIdWait what)
{
    switch (what) {
    case TIdWait::Reply: return "Read timed out.";
    case TIdWait::DataConnection: return "Timed out waiting for the data connection.";
    case TIdWait::Send: return "Write timed out.";
    case TIdWait::TlsHandshake: return "TLS handshake timed out.";
    }
    return "Timed out.";
}

const char *tlsRequiredText(EIdTlsRequired::Reason reason)
{
    switch (reason) {
    case EIdTlsRequired::NotOffered: return "The server does not offer TLS; the password was not sent.";
    case EIdTlsRequired::Unavailable: return "This program has no TLS; the password was not sent.";
    case EIdTlsRequired::DataNotProtected: return "The server does not protect the data connection; the file was not sent.";
    }
    return "TLS is required.";
}

std::string replyTooLongText(EIdReplyTooLong::Limit limit, long long value)
{
    switch (limit) {
    case EIdReplyTooLong::Lines: return "The server's reply has more than " + std::to_string(value) + " lines.";
    case EIdReplyTooLong::Bytes: return "The server's reply is longer than " + std::to_string(value) + " bytes.";
    case EIdReplyTooLong::Time:
        return "The server's reply did not end within " + seconds(static_cast<int>(value)) + " s.";
    }
    return "The server's reply is too long.";
}

}  // namespace

// A time limit in milliseconds from now; 0 or less is none.
class TIdFTP::Deadline {
    using Clock = std::chrono::steady_clock;

public:
    explicit Deadline(int limitMs)
        : unlimited_(limitMs <= 0), at_(Clock::now() + std::chrono::milliseconds(std::max(limitMs, 0)))
    {
    }
    bool Passed() const { return !unlimited_ && Clock::now() >= at_; }
    // Milliseconds left (0 once passed); only for a deadline with a limit.
    int Remaining() const
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at_ - Clock::now()).count();
        return static_cast<int>(std::max<long long>(left, 0));
    }
    // The next look at a socket: one slice, or what is left if that is less.
    int Slice(int sliceMs) const
    {
        if (unlimited_)
            return sliceMs;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at_ - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(left, 0, sliceMs));
    }

private:
    bool unlimited_;
    Clock::time_point at_;
};

EIdTimeout::EIdTimeout(TIdWait what, int limitMs) : EIdException(timeoutText(what)), what_(what), limitMs_(limitMs) {}

EIdReplyTooLong::EIdReplyTooLong(Limit limit, long long value)
    : EIdException(replyTooLongText(limit, value)), limit_(limit), value_(value)
{
}

EIdTlsRequired::EIdTlsRequired(Reason reason) : EIdException(tlsRequiredText(reason)), reason_(reason) {}

EIdSizeMismatch::EIdSizeMismatch(std::int64_t sent, std::int64_t stored)
    : EIdException("The server holds " + std::to_string(stored) + " bytes of the " + std::to_string(sent) +
                   " sent."),
      sent_(sent), stored_(stored)
{
}

std::string TIdRFCReply::JoinedText() const
{
    std::string out;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (i)
            out += "\r\n";
        out += Text[i];
    }
    return out;
}

std::optional<int> ParseEpsvPort(const std::string &replyText)
{
    const std::size_t open = replyText.find('(');
    if (open == std::string::npos || open + 4 >= replyText.size())
        return std::nullopt;
    const char d = replyText[open + 1];
    if (d < 33 || d > 126 || isDigit(d) || replyText[open + 2] != d || replyText[open + 3] != d)
        return std::nullopt;
    std::size_t i = open + 4;
    auto port = number(replyText, i, 65535);
    if (!port || *port == 0 || i >= replyText.size() || replyText[i] != d)
        return std::nullopt;
    return port;
}

std::optional<int> ParsePasvPort(const std::string &replyText)
{
    // A group is six numbers and no more: one more number before or after it
    // makes the reply ambiguous.
    const auto numberAt = [&](std::size_t i) { return i < replyText.size() && isDigit(replyText[i]); };
    for (std::size_t start = 0; start < replyText.size(); ++start) {
        if (!isDigit(replyText[start]) || (start > 0 && isDigit(replyText[start - 1])) ||
            (start > 1 && replyText[start - 1] == ',' && isDigit(replyText[start - 2])))
            continue;
        std::size_t i = start;
        int parts[6];
        int count = 0;
        for (; count < 6; ++count) {
            if (count > 0) {
                if (i >= replyText.size() || replyText[i] != ',')
                    break;
                ++i;
            }
            auto part = number(replyText, i, 255);
            if (!part)
                break;
            parts[count] = *part;
        }
        if (count == 6 && !numberAt(i) && !(i < replyText.size() && replyText[i] == ',' && numberAt(i + 1))) {
            const int port = parts[4] * 256 + parts[5];
            if (port > 0)
                return port;
        }
    }
    return std::nullopt;
}

TIdFTP::TIdFTP() = default;
TIdFTP::~TIdFTP() = default;

void TIdFTP::Status(TIdStatus status, const std::string &text)
{
    if (OnStatus)
        OnStatus(status, text);
}

void TIdFTP::Disconnect()
{
    Status(hsDisconnecting, "Disconnecting.");
    if (control_.tls) {
        // close_notify, if the socket takes it at once; nobody waits for the answer.
        try {
            control_.tls->Shutdown();
        } catch (const std::exception &) {
        }
        control_.tls.reset();
    }
    control_.socket.Close();
    input_.clear();
    step_ = Step::InStep;
    dataProtected_ = false;
    if (OnDisconnected)
        OnDisconnected();
    Status(hsDisconnected, "Disconnected.");
}

void TIdFTP::Idle()
{
    if (OnIdle)
        OnIdle();
    if (stopRequested_) {
        stopRequested_ = false;
        throw EIdStopped();
    }
}

bool TIdFTP::WaitReady(net::Socket &socket, bool forWrite, const Deadline &deadline)
{
    for (;;) {
        if (stopRequested_) {
            stopRequested_ = false;
            throw EIdStopped();
        }
        if (socket.Poll(forWrite, deadline.Slice(kIdleSliceMs)))
            return true;
        if (deadline.Passed())
            return false;
        Idle();
    }
}

bool TIdFTP::WaitReady(net::Socket &socket, bool forWrite, int limitMs)
{
    return WaitReady(socket, forWrite, Deadline(limitMs));
}

void TIdFTP::WaitFor(Channel &channel, net::TlsWait wait, const Deadline &deadline, int limitMs, TIdWait what)
{
    if (!WaitReady(channel.socket, wait == net::TlsWait::Write, deadline))
        throw EIdTimeout(what, limitMs);
}

void TIdFTP::WaitFor(Channel &channel, net::TlsWait wait, int limitMs, TIdWait what)
{
    WaitFor(channel, wait, Deadline(limitMs), limitMs, what);
}

std::size_t TIdFTP::ReceiveSome(Channel &channel, char *buffer, std::size_t length, const Deadline &deadline,
                                int limitMs, TIdWait what)
{
    for (;;) {
        if (channel.tls) {
            std::size_t got = 0;
            const net::TlsWait wait = channel.tls->Read(buffer, length, got);
            if (wait == net::TlsWait::None)
                return got;
            WaitFor(channel, wait, deadline, limitMs, what);
        } else {
            if (auto got = channel.socket.Receive(buffer, length, 0))
                return *got;
            WaitFor(channel, net::TlsWait::Read, deadline, limitMs, what);
        }
    }
}

std::size_t TIdFTP::SendSome(Channel &channel, const char *data, std::size_t length, int limitMs)
{
    for (;;) {
        if (channel.tls) {
            std::size_t sent = 0;
            const net::TlsWait wait = channel.tls->Write(data, length, sent);
            if (wait == net::TlsWait::None && sent > 0)
                return sent;
            WaitFor(channel, wait == net::TlsWait::None ? net::TlsWait::Write : wait, limitMs, TIdWait::Send);
        } else {
            auto sent = channel.socket.Send(data, length);
            if (sent && *sent > 0)
                return *sent;
            WaitFor(channel, net::TlsWait::Write, limitMs, TIdWait::Send);
        }
    }
}

void TIdFTP::Handshake(Channel &channel)
{
    for (;;) {
        const net::TlsWait wait = channel.tls->Handshake();
        if (wait == net::TlsWait::None)
            return;
        WaitFor(channel, wait, ReadTimeout, TIdWait::TlsHandshake);
    }
}

void TIdFTP::SendLine(const std::string &line)
{
    if (!Connected())
        throw EIdNotConnected();
    const std::string data = line + "\r\n";
    std::size_t done = 0;
    while (done < data.size())
        done += SendSome(control_, data.data() + done, data.size() - done, ReadTimeout);
}

std::string TIdFTP::ReadLine(const Deadline &deadline, int limitMs)
{
    const std::size_t limit = static_cast<std::size_t>(std::max(MaxLineLength, 0));
    for (;;) {
        std::size_t lf = input_.find('\n');
        if (lf != std::string::npos) {
            std::string line = input_.substr(0, lf);
            input_.erase(0, lf + 1);
            replyBytes_ += lf + 1;
            if (++replyLines_ > kMaxReplyLines)
                throw EIdReplyTooLong(EIdReplyTooLong::Lines, kMaxReplyLines);
            if (replyBytes_ > kMaxReplyBytes)
                throw EIdReplyTooLong(EIdReplyTooLong::Bytes, static_cast<long long>(kMaxReplyBytes));
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.size() > limit)
                throw EIdMaxLineLengthExceeded();
            return line;
        }
        // Without its line end the line is already too long; a carriage
        // return may still be waiting for its line feed.
        if (input_.size() > limit && !(input_.size() == limit + 1 && input_.back() == '\r')) {
            input_.clear();
            throw EIdMaxLineLengthExceeded();
        }
        if (!Connected())
            throw EIdNotConnected();
        const std::size_t room = static_cast<std::size_t>(std::max(RecvBufferSize, 1));
        if (received_.size() != room)
            received_.assign(room, '\0');
        const std::size_t got =
            ReceiveSome(control_, received_.data(), received_.size(), deadline, limitMs, TIdWait::Reply);
        if (got == 0)
            throw EIdConnClosedGracefully();
        input_.append(received_.data(), got);
    }
}

// The next line with anything in it, blanks at its end removed.
std::string TIdFTP::ReadNonEmptyLine(const Deadline &deadline, int limitMs)
{
    for (;;) {
        std::string line = rightTrimmed(ReadLine(deadline, limitMs));
        if (!trimmed(line).empty())
            return line;
    }
}

void TIdFTP::ReadReply(int limitMs)
{
    const Deadline deadline(limitMs);
    replyLines_ = 0;
    replyBytes_ = 0;
    std::vector<std::string> lines;
    try {
        lines.push_back(trimmed(ReadNonEmptyLine(deadline, limitMs)));
        if (lines[0].size() > 3 && lines[0][3] == '-') {
            const std::string code = lines[0].substr(0, 3);
            for (;;) {
                const std::string line = ReadNonEmptyLine(deadline, limitMs);
                lines.push_back(trimmed(line));
                if (endsReply(line, code))
                    break;
            }
        }
    } catch (const EIdTimeout &) {
        // Lines that keep coming, however slowly, are a reply without end,
        // not a silent server.
        if (replyBytes_ > 0 || !input_.empty())
            throw EIdReplyTooLong(EIdReplyTooLong::Time, limitMs);
        throw;
    }

    TIdRFCReply reply;
    std::string code = lines[0].substr(0, 4);
    while (!code.empty() && code.back() == ' ')
        code.pop_back();
    while (!code.empty() && code.front() == ' ')
        code.erase(0, 1);
    if (!code.empty() && code.back() == '-')
        code.pop_back();
    reply.TextCode = code;
    reply.NumericCode = decimalOrZero(code);
    for (const auto &line : lines)
        reply.Text.push_back(line.size() > 4 ? line.substr(4) : std::string());
    lastReply_ = std::move(reply);
}

// A reply that did not come in time may still come: until the control
// connection is back in step, the next reply read could be that one.
void TIdFTP::ReadReplyTracked(int limitMs)
{
    try {
        ReadReply(limitMs);
    } catch (const EIdTimeout &) {
        if (step_ == Step::InStep)
            step_ = Step::OutOfStep;
        throw;
    } catch (const EIdStopped &) {
        if (step_ == Step::InStep)
            step_ = Step::OutOfStep;
        throw;
    } catch (const EIdReplyTooLong &) {
        // The rest of such a reply is still on its way: nothing read after
        // it could be matched with a command.
        step_ = Step::OutOfStep;
        input_.clear();
        throw;
    } catch (const EIdMaxLineLengthExceeded &) {
        step_ = Step::OutOfStep;
        input_.clear();
        throw;
    }
}

void TIdFTP::GetResponse(std::initializer_list<int> accepted)
{
    ReadReplyTracked(ReadTimeout);
    if (!accepts(accepted, lastReply_.NumericCode))
        throw EIdReplyError(lastReply_.NumericCode, lastReply_.JoinedText());
}

void TIdFTP::SendCmd(const std::string &command, std::initializer_list<int> accepted)
{
    Resync(CleanupTimeout);
    SendLine(command);
    GetResponse(accepted);
}

void TIdFTP::Resync(int limitMs)
{
    if (step_ == Step::InStep)
        return;
    if (step_ == Step::OutOfStep)
        throw EIdOutOfStep();
    try {
        // A store that got its data connection ends with a final reply of
        // its own once that connection is gone. One that did not is still
        // waiting for it: ABOR ends the wait, and its answer (2xx, or 5xx
        // from a server without ABOR) comes after the store's own replies.
        if (!dataConnected_)
            SendLine("ABOR");
        for (;;) {
            ReadReply(limitMs);
            const int kind = lastReply_.NumericCode / 100;
            if (dataConnected_ ? kind >= 2 : (kind == 2 || kind == 5))
                break;
        }
        step_ = Step::InStep;
    } catch (...) {
        step_ = Step::OutOfStep;
        throw;
    }
}

std::string TIdFTP::TlsPeerName() const
{
    if (Host.size() > 2 && Host.front() == '[' && Host.back() == ']')
        return Host.substr(1, Host.size() - 2);
    return Host;
}

void TIdFTP::NegotiateTls()
{
    if (!TlsLibrary) {
        if (UseTLS == tlsRequired)
            throw EIdTlsRequired(EIdTlsRequired::Unavailable);
        Status(ftpTlsUnavailable, "This program has no TLS; going on in plain text");
        return;
    }
    SendLine("AUTH TLS");
    ReadReplyTracked(ReadTimeout);
    if (lastReply_.NumericCode != 234) {
        if (UseTLS == tlsRequired)
            throw EIdTlsRequired(EIdTlsRequired::NotOffered);
        Status(ftpTlsNotOffered, "The server does not offer TLS; going on in plain text");
        return;
    }
    // Whatever came with the reply was sent in plain text: it must not pass
    // for an answer given under TLS.
    input_.clear();
    control_.tls = std::make_unique<net::TlsStream>(control_.socket, TlsPeerName(), TlsTrustFile);
    try {
        Handshake(control_);
    } catch (...) {
        control_.tls.reset();
        throw;
    }
    Status(ftpTlsSecured, "TLS session established (" + control_.tls->Protocol() + ")");
}

void TIdFTP::ProtectData()
{
    dataProtected_ = false;
    if (!Secured())
        return;
    SendLine("PBSZ 0");
    ReadReplyTracked(ReadTimeout);
    if (lastReply_.NumericCode == 200) {
        SendLine("PROT P");
        ReadReplyTracked(ReadTimeout);
        dataProtected_ = lastReply_.NumericCode == 200;
    }
    if (dataProtected_)
        return;
    if (UseTLS == tlsRequired)
        throw EIdTlsRequired(EIdTlsRequired::DataNotProtected);
    Status(ftpTlsDataClear, "The server does not protect the data connection; the file goes in plain text");
}

void TIdFTP::Connect(const std::string &address, int connectTimeoutMs)
{
    control_.socket = net::Socket::CreateTcp(net::FamilyOf(address));
    try {
        control_.socket.Bind(BoundIP, BoundPort);
    } catch (const net::ESocketError &e) {
        if (e.code() == net::kErrAddressInUse)
            throw EIdCouldNotBindSocket();
        throw;
    }
    Status(hsConnecting, "Connecting to " + address + ".");
    if (!control_.socket.StartConnect(address, Port)) {
        if (!WaitReady(control_.socket, true, connectTimeoutMs))
            throw net::ESocketError(net::kErrTimedOut);
        control_.socket.FinishConnect();
    }
}

void TIdFTP::OpenSession(bool login, int connectTimeoutMs)
{
    if (Connected()) {
        Disconnect();
        throw EIdAlreadyConnected();
    }
    stopRequested_ = false;
    storeStarted_ = false;
    step_ = Step::InStep;
    dataProtected_ = false;
    folders_.clear();
    try {
        checkArgument(Username, "The user name");
        checkArgument(Password, "The password");
        input_.clear();

        std::vector<std::string> addresses{Host};
        if (!net::IsDottedIPv4(Host)) {
            Status(hsResolving, "Resolving hostname " + Host + ".");
            addresses = ResolveAddresses ? ResolveAddresses(Host) : net::ResolveAll(Host);
            if (addresses.empty())
                throw net::ESocketError(net::kErrHostNotFound);
        }
        for (std::size_t i = 0;; ++i) {
            try {
                Connect(addresses[i], connectTimeoutMs);
                break;
            } catch (const net::ESocketError &) {
                if (i + 1 == addresses.size())
                    throw;
            }
        }
        Status(hsConnected, "Connected.");
        if (OnConnected)
            OnConnected();

        GetResponse({220});
        if (UseTLS != tlsNone)
            NegotiateTls();
        if (login) {
            SendCmd("USER " + Username, {230, 331});
            if (lastReply_.NumericCode == 331)
                SendCmd("PASS " + Password, {230});
            ProtectData();
            SendCmd("TYPE I", {200});
            SendCmd("SYST", {200, 215, 500});
            Status(ftpReady, "Connection established");
        }
    } catch (...) {
        Disconnect();
        throw;
    }
}

void TIdFTP::ChangeFolder(const std::string &folder)
{
    checkArgument(folder, "The folder name");
    SendCmd("CWD " + folder, {200, 250});
    folders_.push_back(folder);
}

void TIdFTP::SendStor(const std::string &remoteFile)
{
    Resync(CleanupTimeout);
    SendLine("STOR " + remoteFile);
    storeStarted_ = true;
    step_ = Step::TransferPending;
    ReadReplyTracked(ReadTimeout);
    const int code = lastReply_.NumericCode;
    if (code == 125 || code == 150)
        return;
    if (code >= 200) {
        step_ = Step::InStep;  // a refusal is the store's last word: no file
        storeStarted_ = false;
    }
    throw EIdReplyError(code, lastReply_.JoinedText());
}

// Whether the server has sent anything on the control connection, looked at
// without waiting; what came is kept for the reply's reading. Under TLS a
// readable socket may hold records of the protocol's own and no reply.
bool TIdFTP::ControlReadable()
{
    if (!input_.empty())
        return true;
    if (!control_.socket.Poll(false, 0))
        return false;
    const std::size_t room = static_cast<std::size_t>(std::max(RecvBufferSize, 1));
    if (received_.size() != room)
        received_.assign(room, '\0');
    std::size_t got = 0;
    if (control_.tls) {
        if (control_.tls->Read(received_.data(), received_.size(), got) != net::TlsWait::None)
            return false;
    } else {
        const auto read = control_.socket.Receive(received_.data(), received_.size(), 0);
        if (!read)
            return false;
        got = *read;
    }
    // Nothing at all: the server closed, which the reading of a reply reports.
    input_.append(received_.data(), got);
    return true;
}

TIdFTP::Channel TIdFTP::OpenActive(net::Socket &listener, const std::string &remoteFile, int acceptLimitMs,
                                   bool &gaveUp)
{
    gaveUp = false;
    SendStor(remoteFile);
    // Only the server may connect: anyone else who finds the port open would
    // otherwise be handed the archive.
    const std::string server = control_.socket.PeerAddress();
    const Deadline deadline(acceptLimitMs);
    for (;;) {
        if (stopRequested_) {
            stopRequested_ = false;
            throw EIdStopped();
        }
        if (listener.Poll(false, deadline.Slice(kIdleSliceMs))) {
            auto accepted = listener.Accept(0);
            if (!accepted)
                continue;
            if (accepted->PeerAddress() != server) {
                accepted->Close(true);
                continue;
            }
            listener.Close();
            Channel data;
            data.socket = std::move(*accepted);
            data.socket.SetNonBlocking(true);
            dataConnected_ = true;
            return data;
        }
        // A server that cannot reach us says so (425) instead of connecting.
        if (ControlReadable()) {
            ReadReplyTracked(ReadTimeout);
            const int code = lastReply_.NumericCode;
            if (code >= 200) {
                step_ = Step::InStep;
                if (code >= 400)
                    storeStarted_ = false;  // the store's last word: no file
                throw EIdReplyError(code, lastReply_.JoinedText());
            }
            continue;  // one more preliminary reply
        }
        if (deadline.Passed()) {
            gaveUp = true;
            return {};
        }
        Idle();
    }
}

TIdFTP::Channel TIdFTP::OpenPassive(const std::string &remoteFile)
{
    const net::Family family = control_.socket.family();
    Resync(CleanupTimeout);
    SendLine("EPSV");
    ReadReplyTracked(ReadTimeout);
    std::optional<int> port;
    if (lastReply_.NumericCode == 229) {
        port = ParseEpsvPort(lastReply_.JoinedText());
        if (!port)
            throw EIdMalformedReply("The reply to EPSV names no port: " + lastReply_.JoinedText());
    } else if (family == net::Family::IPv4) {
        SendCmd("PASV", {227});
        port = ParsePasvPort(lastReply_.JoinedText());
        if (!port)
            throw EIdMalformedReply("The reply to PASV names no port: " + lastReply_.JoinedText());
    } else {
        throw EIdReplyError(lastReply_.NumericCode, lastReply_.JoinedText());
    }

    // The port is the server's word; the address is the one we already talk to.
    Channel data;
    data.socket = net::Socket::CreateTcp(family);
    if (!data.socket.StartConnect(control_.socket.PeerAddress(), *port)) {
        if (!WaitReady(data.socket, true, ReadTimeout))
            throw EIdTimeout(TIdWait::DataConnection, ReadTimeout);
        data.socket.FinishConnect();
    }
    dataConnected_ = true;
    SendStor(remoteFile);
    return data;
}

TIdFTP::Channel TIdFTP::OpenDataConnection(const std::string &remoteFile)
{
    if (DataMode != dmPassive) {
        const net::Family family = control_.socket.family();
        net::Socket listener = net::Socket::CreateTcp(family);
        const std::string localAddress = control_.socket.LocalAddress();
        listener.Bind(localAddress, 0);
        listener.Listen(15);
        listener.SetNonBlocking(true);
        const int port = listener.LocalPort();
        std::string command;
        if (family == net::Family::IPv4) {
            std::string hostPart = localAddress;
            std::replace(hostPart.begin(), hostPart.end(), '.', ',');
            command = "PORT " + hostPart + "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
        } else {
            command = "EPRT |2|" + withoutZone(localAddress) + "|" + std::to_string(port) + "|";
        }
        Resync(CleanupTimeout);
        SendLine(command);
        ReadReplyTracked(ReadTimeout);
        if (lastReply_.NumericCode == 200) {
            const int limit = ActiveWaitLimit();
            bool gaveUp = false;
            Channel data;
            try {
                data = OpenActive(listener, remoteFile, limit, gaveUp);
            } catch (const EIdReplyError &e) {
                if (DataMode == dmActive || !refusesConnectBack(e.ReplyCode()))
                    throw;
                // The store has had its answer; the control connection is in step.
                listener.Close();
                Status(ftpActiveConnectFailed, "The server could not connect (" + std::to_string(e.ReplyCode()) +
                                                   "); switching to passive mode");
                return OpenPassive(remoteFile);
            }
            if (!gaveUp)
                return data;
            listener.Close();
            if (DataMode == dmActive)
                throw EIdTimeout(TIdWait::DataConnection, limit);
            Status(ftpActiveNoConnection,
                   "The server did not connect within " + seconds(limit) + " s; switching to passive mode");
            // The server still waits to connect for the first "STOR".
            Resync(ReadTimeout);
        } else if (DataMode == dmActive) {
            throw EIdReplyError(lastReply_.NumericCode, lastReply_.JoinedText());
        } else {
            Status(ftpActiveRefused, "The server refused active mode; switching to passive mode");
        }
    }
    return OpenPassive(remoteFile);
}

int TIdFTP::ActiveWaitLimit() const
{
    if (DataMode == dmActiveThenPassive && PassiveFallbackTimeout > 0 &&
        (AcceptTimeout <= 0 || PassiveFallbackTimeout < AcceptTimeout))
        return PassiveFallbackTimeout;
    return AcceptTimeout;
}

std::string TIdFTP::TlsProtocol() const { return control_.tls ? control_.tls->Protocol() : std::string(); }

void TIdFTP::FinishData(Channel &data)
{
    if (!data.tls) {
        data.socket.Close();
        return;
    }
    for (;;) {
        const net::TlsWait wait = data.tls->Shutdown();
        if (wait == net::TlsWait::None)
            break;
        WaitFor(data, wait, CleanupTimeout, TIdWait::Send);
    }
    // Our end is out. Read what the server still sends (its session tickets,
    // its close_notify) until it closes: a byte left unread would turn our
    // close into a reset, which a server may take for a broken transfer.
    try {
        data.socket.ShutdownSend();
        const Deadline deadline(CleanupTimeout);
        char sink[4096];
        while (!deadline.Passed()) {
            auto got = data.socket.Receive(sink, sizeof sink, 0);
            if (got && *got == 0)
                break;
            if (!got && !WaitReady(data.socket, false, CleanupTimeout > 0 ? std::max(deadline.Remaining(), 1) : 0))
                break;
        }
    } catch (const net::ESocketError &) {
    }
    data.tls.reset();
    data.socket.Close();
}

void TIdFTP::StoreFile(const std::string &localFile, const std::string &remoteFile)
{
    if (remoteFile.empty())
        throw EIdInvalidArgument("The remote file name is empty.");
    checkArgument(remoteFile, "The remote file name");

    const std::filesystem::path path = utf8Path(localFile);
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open())
        RaiseLastOSError();
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec)
        RaiseOSError(ec.value());
    const std::int64_t total = static_cast<std::int64_t>(size);

    storeStarted_ = false;
    dataConnected_ = false;
    Status(ftpTransfer, "Starting FTP transfer");
    Channel data;
    try {
        if (!Connected())
            throw EIdNotConnected();
        data = OpenDataConnection(remoteFile);
        if (dataProtected_) {
            data.tls = std::make_unique<net::TlsStream>(data.socket, TlsPeerName(), TlsTrustFile, control_.tls.get());
            Handshake(data);
        }

        if (OnWorkBegin)
            OnWorkBegin(wmWrite, total);
        try {
            const std::size_t blockSize = static_cast<std::size_t>(std::max(SendBufferSize, 1));
            if (block_.size() != blockSize)
                block_.assign(blockSize, '\0');
            std::int64_t done = 0;
            while (done < total) {
                const std::int64_t want = std::min<std::int64_t>(total - done, std::int64_t(blockSize));
                file.read(block_.data(), static_cast<std::streamsize>(want));
                const std::size_t got = static_cast<std::size_t>(file.gcount());
                if (got == 0)
                    throw EIdNoDataToRead();
                std::size_t off = 0;
                while (off < got) {
                    const std::size_t sent = SendSome(data, block_.data() + off, got - off, ReadTimeout);
                    off += sent;
                    done += static_cast<std::int64_t>(sent);
                    if (OnWork)
                        OnWork(wmWrite, done);
                    if (stopRequested_) {
                        stopRequested_ = false;
                        throw EIdStopped();
                    }
                }
            }
        } catch (...) {
            if (OnWorkEnd)
                OnWorkEnd(wmWrite);
            throw;
        }
        if (OnWorkEnd)
            OnWorkEnd(wmWrite);
        FinishData(data);
    } catch (...) {
        // A reset, not an orderly end: the server must not take what it got for the whole file.
        data.tls.reset();
        data.socket.Close(true);
        Status(ftpReady, "Transfer complete");
        throw;
    }
    Status(ftpReady, "Transfer complete");

    try {
        ReadReplyTracked(ReadTimeout);
    } catch (const EIdStopped &) {
        // The server has the data and its answer is still due: it would be
        // taken for the answer to the next command.
        step_ = Step::OutOfStep;
        throw;
    }
    // The final reply is the store's last word, a refusal (426, 451 ...) too:
    // nothing else follows it.
    const int code = lastReply_.NumericCode;
    if (code >= 200)
        step_ = Step::InStep;
    if (code == 426)
        Status(ftpAborted, "Transfer aborted");
    if (!accepts({225, 226, 250}, code))
        throw EIdReplyError(code, lastReply_.JoinedText());
    if (VerifySize) {
        const auto stored = Size(remoteFile);
        if (!stored)
            Status(ftpSizeUnknown, "The server does not tell the file's size; it was not checked");
        else if (*stored != total)
            throw EIdSizeMismatch(total, *stored);
    }
}

std::optional<std::int64_t> TIdFTP::Size(const std::string &remoteFile)
{
    checkArgument(remoteFile, "The remote file name");
    Resync(CleanupTimeout);
    SendLine("SIZE " + remoteFile);
    ReadReplyTracked(ReadTimeout);
    switch (lastReply_.NumericCode) {
    case 213: {
        const std::string text = trimmed(lastReply_.JoinedText());
        if (text.empty() || text.size() > 18 || !std::all_of(text.begin(), text.end(), isDigit))
            return std::nullopt;  // not a size we can read: as good as none
        return std::stoll(text);
    }
    case 500:
    case 501:
    case 502:
    case 504:
        return std::nullopt;  // the server does not know the command
    default:
        throw EIdReplyError(lastReply_.NumericCode, lastReply_.JoinedText());
    }
}

void TIdFTP::Delete(const std::string &remoteFile)
{
    if (remoteFile.empty())
        throw EIdInvalidArgument("The remote file name is empty.");
    checkArgument(remoteFile, "The remote file name");
    if (!Connected())
        throw EIdNotConnected();
    bool inStep = false;
    if (step_ != Step::OutOfStep) {
        try {
            Resync(CleanupTimeout);
            inStep = true;
        } catch (const EIdStopped &) {
            throw;
        } catch (const std::exception &) {
            // Whatever kept the answers away, a new connection is the way on.
        }
    }
    if (!inStep)
        Reopen();
    SendLine("DELE " + remoteFile);
    ReadReplyTracked(CleanupTimeout);
    if (!accepts({250, 200}, lastReply_.NumericCode))
        throw EIdReplyError(lastReply_.NumericCode, lastReply_.JoinedText());
}

// The old connection is closed without "QUIT": a server that sees the
// connection go abandons the store, where after "QUIT" it would finish it.
void TIdFTP::Reopen()
{
    Status(ftpReconnecting, "The control connection is out of step; opening a new one");
    const std::vector<std::string> folders = folders_;
    const bool storeStarted = storeStarted_;
    const int readTimeout = ReadTimeout;
    struct Restore {
        TIdFTP &ftp;
        int readTimeout;
        bool storeStarted;
        ~Restore()
        {
            ftp.ReadTimeout = readTimeout;
            ftp.storeStarted_ = storeStarted;
        }
    } restore{*this, readTimeout, storeStarted};
    Disconnect();
    ReadTimeout = CleanupTimeout;
    OpenSession(true, CleanupTimeout);
    for (const std::string &folder : folders)
        ChangeFolder(folder);
}

void TIdFTP::CloseSession()
{
    if (Connected()) {
        // The server may already have gone; closing must still succeed so the
        // next opening starts afresh.
        try {
            SendLine("QUIT");
        } catch (const std::exception &) {
        }
    }
    Disconnect();
}

}  // namespace qv
