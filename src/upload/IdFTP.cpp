#include "upload/IdFTP.h"

#include <algorithm>
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

}  // namespace

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
    control_.Close();
    input_.clear();
    if (OnDisconnected)
        OnDisconnected();
    Status(hsDisconnected, "Disconnected.");
}

void TIdFTP::SendLine(const std::string &line)
{
    if (!control_.IsOpen())
        throw EIdNotConnected();
    const std::string data = line + "\r\n";
    std::size_t done = 0;
    control_.SetSendTimeout(ReadTimeout);
    while (done < data.size()) {
        auto sent = control_.Send(data.data() + done, data.size() - done);
        if (!sent)
            throw EIdTimeout("Write timed out.");
        done += *sent;
    }
}

std::string TIdFTP::ReadLine()
{
    const std::size_t limit = static_cast<std::size_t>(std::max(MaxLineLength, 0));
    for (;;) {
        std::size_t lf = input_.find('\n');
        if (lf != std::string::npos) {
            std::string line = input_.substr(0, lf);
            input_.erase(0, lf + 1);
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
        if (!control_.IsOpen())
            throw EIdNotConnected();
        const std::size_t room = static_cast<std::size_t>(std::max(RecvBufferSize, 1));
        if (received_.size() != room)
            received_.assign(room, '\0');
        auto got = control_.Receive(received_.data(), received_.size(), ReadTimeout);
        if (!got)
            throw EIdTimeout("Read timed out.");
        if (*got == 0)
            throw EIdConnClosedGracefully();
        input_.append(received_.data(), *got);
    }
}

std::string TIdFTP::ReadNonEmptyLine()
{
    for (;;) {
        std::string line = trimmed(ReadLine());
        if (!line.empty())
            return line;
    }
}

void TIdFTP::ReadReply()
{
    std::vector<std::string> lines;
    lines.push_back(ReadNonEmptyLine());
    if (lines[0].size() > 3 && lines[0][3] == '-') {
        const std::string terminator = lines[0].substr(0, 3) + " ";
        for (;;) {
            std::string line = ReadNonEmptyLine();
            lines.push_back(line);
            if (line.size() < 4 || equalsIgnoringCase(line.substr(0, 4), terminator))
                break;
        }
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

void TIdFTP::GetResponse(std::initializer_list<int> accepted)
{
    ReadReply();
    if (!accepts(accepted, lastReply_.NumericCode))
        throw EIdReplyError(lastReply_.NumericCode, lastReply_.JoinedText());
}

void TIdFTP::SendCmd(const std::string &command, std::initializer_list<int> accepted)
{
    SendLine(command);
    GetResponse(accepted);
}

void TIdFTP::OpenSession(bool login, int connectTimeoutMs)
{
    if (Connected()) {
        Disconnect();
        throw EIdAlreadyConnected();
    }
    try {
        checkArgument(Username, "The user name");
        checkArgument(Password, "The password");

        control_ = net::Socket::CreateTcp();
        input_.clear();
        try {
            control_.Bind(BoundIP, BoundPort);
        } catch (const net::ESocketError &e) {
            if (e.code() == net::kErrAddressInUse)
                throw EIdCouldNotBindSocket();
            throw;
        }

        std::string address = Host;
        if (!net::IsDottedIPv4(Host)) {
            Status(hsResolving, "Resolving hostname " + Host + ".");
            address = equalsIgnoringCase(Host, "LOCALHOST") ? std::string("127.0.0.1") : net::ResolveIPv4(Host);
        }
        Status(hsConnecting, "Connecting to " + address + ".");
        control_.Connect(address, Port, connectTimeoutMs);
        Status(hsConnected, "Connected.");
        if (OnConnected)
            OnConnected();

        GetResponse({220});
        if (login) {
            SendCmd("USER " + Username, {230, 331});
            if (lastReply_.NumericCode == 331)
                SendCmd("PASS " + Password, {230});
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

    Status(ftpTransfer, "Starting FTP transfer");
    try {
        if (!control_.IsOpen())
            throw EIdNotConnected();
        net::Socket listener = net::Socket::CreateTcp();
        const std::string localAddress = control_.LocalAddress();
        listener.Bind(localAddress, 0);
        listener.Listen(15);
        const int port = listener.LocalPort();
        std::string hostPart = localAddress;
        std::replace(hostPart.begin(), hostPart.end(), '.', ',');
        SendCmd("PORT " + hostPart + "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF), {200});
        SendCmd("STOR " + remoteFile, {125, 150});

        auto accepted = listener.Accept(AcceptTimeout);
        if (!accepted)
            throw EIdTimeout("Timed out waiting for the data connection.");
        listener.Close();
        net::Socket data = std::move(*accepted);
        data.SetSendTimeout(ReadTimeout);

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
                    auto sent = data.Send(block_.data() + off, got - off);
                    if (!sent)
                        throw EIdTimeout("Write timed out.");
                    off += *sent;
                    done += static_cast<std::int64_t>(*sent);
                    if (OnWork)
                        OnWork(wmWrite, done);
                }
            }
        } catch (...) {
            if (OnWorkEnd)
                OnWorkEnd(wmWrite);
            throw;
        }
        if (OnWorkEnd)
            OnWorkEnd(wmWrite);
        data.Close();
    } catch (...) {
        Status(ftpReady, "Transfer complete");
        throw;
    }
    Status(ftpReady, "Transfer complete");

    GetResponse({225, 226, 250, 426, 450});
    if (lastReply_.NumericCode == 426 || lastReply_.NumericCode == 450) {
        GetResponse({226, 225});
        Status(ftpAborted, "Transfer aborted");
    }
}

void TIdFTP::CloseSession()
{
    if (control_.IsOpen()) {
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
