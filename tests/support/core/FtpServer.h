// A real FTP server for the tests: Debian's pyftpdlib (tests/support/
// ftpserver.py) on 127.0.0.1 (or ::1) and a free port, serving a fresh root
// with a writable "dane" folder to one user, misbehaving as the options of
// ftpserver.py say. It runs while the object lives.
//
// Where it comes from:
//  - QV_TEST_FTP_LAUNCHER=HOST:PORT set (on any system): from the launcher
//    there, tests/support/ftplauncher.py, which starts one ftpserver.py per
//    request with the same options, in folders of its own, and ends it when
//    the test lets go of it. Under Wine, which cannot start the Linux
//    python3, this is the way: the launcher runs on Linux beside Wine, and
//    the folders it names are read through Wine's drive Z: (the Linux root).
//    A test script starts it, before the tests, with
//        /usr/bin/python3 tests/support/ftplauncher.py >FILE &
//    and sets QV_TEST_FTP_LAUNCHER to FILE's first line once it is there.
//  - Otherwise, on POSIX systems: started by the test itself (QV_PYTHON, or
//    /usr/bin/python3, whose pyftpdlib Debian packages).
//  - Otherwise (Windows without a launcher): none; skipReason() says so.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace qv::net {
class Socket;
}

namespace qv::test {

class ChildProcess;
class ScratchDir;

struct FtpServerOptions {
    std::string host = "127.0.0.1";
    // Explicit TLS with a certificate made at start, for certName; its
    // authority is then in caFile().
    bool tls = false;
    std::string certName = "localhost";
    // Further options of ftpserver.py ("--refuse", "PORT,EPRT", ...).
    std::vector<std::string> extra;
};

class FtpServer {
public:
    FtpServer(const std::string &user, const std::string &password, const FtpServerOptions &options = {});
    ~FtpServer();
    FtpServer(const FtpServer &) = delete;
    FtpServer &operator=(const FtpServer &) = delete;

    // Not empty where this system cannot have such a server at all: the test
    // is skipped with it (QV_REQUIRE_FTP_SERVER). Unavailable() tells the
    // same before any server is made (for a fixture's SetUp).
    const std::string &skipReason() const { return skipReason_; }
    static std::string Unavailable();
    // Empty when the server runs; otherwise why it does not.
    const std::string &failure() const { return failure_; }
    int port() const { return port_; }
    // The served folder, as this process names it.
    const std::string &root() const { return root_; }
    // The authority that signed the server's certificate (PEM), with tls.
    std::string caFile() const;
    // The bytes of a file stored in "dane"; empty when there is none.
    std::string stored(const std::string &name) const;
    // The names of the files in "dane", in byte order.
    std::vector<std::string> storedNames() const;

private:
    void startHere(const std::string &user, const std::string &password, const FtpServerOptions &options);
    void startByLauncher(const std::string &launcher, const std::string &user, const std::string &password,
                         const FtpServerOptions &options);

    std::string skipReason_;
    std::string failure_;
    int port_ = 0;
    std::string root_;
    std::string certs_;
    std::unique_ptr<ScratchDir> rootDir_;
    std::unique_ptr<ScratchDir> certsDir_;
    std::unique_ptr<ChildProcess> process_;
    std::unique_ptr<net::Socket> launcher_;
};

}  // namespace qv::test

// In a test's body or SetUp: skips the test where no server can be had, and
// fails it when one should have started and did not.
#define QV_REQUIRE_FTP_SERVER(server)                                  \
    do {                                                               \
        if (!(server).skipReason().empty()) {                          \
            GTEST_SKIP() << (server).skipReason();                     \
        }                                                              \
        ASSERT_EQ((server).failure(), "") << "the test FTP server";    \
    } while (0)
