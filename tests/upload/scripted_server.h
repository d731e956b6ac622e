// A loopback FTP server that plays a script: it accepts one client on
// 127.0.0.1 (or another loopback address), runs the script against it on its
// own thread, records every command line it receives, and can open the data
// connection back to the address the client announced with "PORT". Given
// several scripts, it plays each to a connection of its own, one after the
// other; it refuses connections beyond those.
#pragma once

#include "platform/sockets.h"

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace qvtest {

class Peer {
public:
    explicit Peer(qv::net::Socket control) : control_(std::move(control)) {}

    // Sends bytes exactly as given.
    void Send(const std::string &raw);
    // Sends one reply line ended by CR LF.
    void Reply(const std::string &line) { Send(line + "\r\n"); }
    // The next command line, recorded; fails the script on a closed connection.
    std::string Command();
    // The next command, which must start with prefix.
    std::string Expect(const std::string &prefix);
    // Answers the usual login exchange: greeting, USER/PASS, TYPE I, SYST.
    void Login();
    // Accepts "PORT" and then "STOR" with the given preliminary reply.
    void AcceptStore(const std::string &storReply = "150 Go ahead");

    // Connects to the address of the last "PORT" command.
    qv::net::Socket ConnectBack();
    // Everything the client sends on a data connection until it closes it.
    static std::string ReceiveAll(qv::net::Socket &data);
    // Receives at least count bytes (fewer only if the client closes first).
    static std::size_t ReceiveAtLeast(qv::net::Socket &data, std::size_t count);

    // Waits until the client closes the control connection, recording what it sends.
    void AwaitClose();
    void Close(bool abortive = false);
    bool Closed() const { return !control_.IsOpen(); }

    std::vector<std::string> commands;

private:
    bool ReadLine(std::string &line);

    qv::net::Socket control_;
    std::string input_;
};

class ScriptedServer {
public:
    using Script = std::function<void(Peer &)>;

    explicit ScriptedServer(Script script, const std::string &address = "127.0.0.1");
    explicit ScriptedServer(std::vector<Script> scripts, const std::string &address = "127.0.0.1");
    ~ScriptedServer();

    int port() const { return port_; }
    // Waits for the scripts to end (after each, the server keeps recording
    // commands until the client closes) and returns the commands the first
    // connection received.
    std::vector<std::string> Finish();
    // After Finish: the commands of each connection, in order.
    const std::vector<std::vector<std::string>> &Connections() const { return commands_; }

private:
    void Run(std::vector<Script> scripts);
    void Play(qv::net::Socket client, Script &script);

    qv::net::Socket listener_;
    int port_ = 0;
    std::thread thread_;
    std::vector<std::vector<std::string>> commands_;
    std::string failure_;
    bool finished_ = false;
};

}  // namespace qvtest
