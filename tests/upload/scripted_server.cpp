#include "scripted_server.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>

namespace qvtest {

namespace {
// Generous: only a broken client makes the server wait this long.
constexpr int kWaitMs = 10000;
}  // namespace

void Peer::Send(const std::string &raw)
{
    std::size_t done = 0;
    while (done < raw.size()) {
        auto sent = control_.Send(raw.data() + done, raw.size() - done);
        if (!sent)
            throw std::runtime_error("server could not send");
        done += *sent;
    }
}

bool Peer::ReadLine(std::string &line)
{
    for (;;) {
        std::size_t lf = input_.find('\n');
        if (lf != std::string::npos) {
            line = input_.substr(0, lf);
            input_.erase(0, lf + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return true;
        }
        char buf[4096];
        auto got = control_.Receive(buf, sizeof buf, kWaitMs);
        if (!got)
            throw std::runtime_error("server waited in vain for a command");
        if (*got == 0)
            return false;
        input_.append(buf, *got);
    }
}

std::string Peer::Command()
{
    std::string line;
    if (!ReadLine(line))
        throw std::runtime_error("client closed the connection while a command was expected");
    commands.push_back(line);
    return line;
}

std::string Peer::Expect(const std::string &prefix)
{
    std::string line = Command();
    if (line.compare(0, prefix.size(), prefix) != 0)
        throw std::runtime_error("expected " + prefix + ", got " + line);
    return line;
}

void Peer::Login()
{
    Reply("220 Scripted server ready");
    Expect("USER ");
    Reply("331 Password required");
    Expect("PASS ");
    Reply("230 Logged in");
    Expect("TYPE I");
    Reply("200 Type set to I");
    Expect("SYST");
    Reply("215 UNIX Type: L8");
}

void Peer::AcceptStore(const std::string &storReply)
{
    Expect("PORT ");
    Reply("200 PORT ok");
    Expect("STOR ");
    Reply(storReply);
}

qv::net::Socket Peer::ConnectBack()
{
    std::string port;
    for (auto it = commands.rbegin(); it != commands.rend(); ++it)
        if (it->rfind("PORT ", 0) == 0) {
            port = it->substr(5);
            break;
        }
    unsigned h1, h2, h3, h4, p1, p2;
    if (std::sscanf(port.c_str(), "%u,%u,%u,%u,%u,%u", &h1, &h2, &h3, &h4, &p1, &p2) != 6)
        throw std::runtime_error("no usable PORT command: " + port);
    qv::net::Socket data = qv::net::Socket::CreateTcp();
    data.Connect(std::to_string(h1) + "." + std::to_string(h2) + "." + std::to_string(h3) + "." +
                     std::to_string(h4),
                 int(p1 * 256 + p2));
    return data;
}

std::string Peer::ReceiveAll(qv::net::Socket &data)
{
    std::string out;
    char buf[65536];
    for (;;) {
        auto got = data.Receive(buf, sizeof buf, kWaitMs);
        if (!got)
            throw std::runtime_error("data connection stalled");
        if (*got == 0)
            return out;
        out.append(buf, *got);
    }
}

std::size_t Peer::ReceiveAtLeast(qv::net::Socket &data, std::size_t count)
{
    std::size_t total = 0;
    char buf[65536];
    while (total < count) {
        auto got = data.Receive(buf, sizeof buf, kWaitMs);
        if (!got)
            throw std::runtime_error("data connection stalled");
        if (*got == 0)
            break;
        total += *got;
    }
    return total;
}

void Peer::AwaitClose()
{
    std::string line;
    while (ReadLine(line))
        commands.push_back(line);
    control_.Close();
}

void Peer::Close(bool abortive) { control_.Close(abortive); }

ScriptedServer::ScriptedServer(Script script, const std::string &address)
    : ScriptedServer(std::vector<Script>{std::move(script)}, address)
{
}

ScriptedServer::ScriptedServer(std::vector<Script> scripts, const std::string &address)
{
    listener_ = qv::net::Socket::CreateTcp(qv::net::FamilyOf(address));
    listener_.Bind(address, 0);
    listener_.Listen(5);
    port_ = listener_.LocalPort();
    thread_ = std::thread([this, scripts = std::move(scripts)]() mutable { Run(std::move(scripts)); });
}

ScriptedServer::~ScriptedServer()
{
    if (thread_.joinable())
        thread_.join();
}

void ScriptedServer::Run(std::vector<Script> scripts)
{
    try {
        for (std::size_t i = 0; i < scripts.size() && failure_.empty(); ++i) {
            auto client = listener_.Accept(kWaitMs);
            if (i + 1 == scripts.size())
                listener_.Close();
            if (!client) {
                failure_ = "no client connected";
                break;
            }
            Play(std::move(*client), scripts[i]);
        }
    } catch (const std::exception &e) {
        failure_ = e.what();
    }
    listener_.Close();
}

void ScriptedServer::Play(qv::net::Socket client, Script &script)
{
    Peer peer(std::move(client));
    try {
        script(peer);
    } catch (const std::exception &e) {
        failure_ = e.what();
    }
    // Whatever else the client says (normally "QUIT") is recorded too,
    // until it closes the connection.
    if (failure_.empty() && !peer.Closed()) {
        try {
            while (true)
                peer.Command();
        } catch (const std::exception &e) {
            if (std::string(e.what()).find("client closed") == std::string::npos)
                failure_ = e.what();
        }
    }
    commands_.push_back(peer.commands);
}

std::vector<std::string> ScriptedServer::Finish()
{
    if (thread_.joinable())
        thread_.join();
    if (!finished_) {
        finished_ = true;
        EXPECT_EQ(failure_, "") << "scripted server failed";
    }
    return commands_.empty() ? std::vector<std::string>{} : commands_.front();
}

}  // namespace qvtest
