#include "FtpServer.h"

#include "ChildProcess.h"
#include "CoreTest.h"

#include "platform/sockets.h"

#include <algorithm>
#include <cstdlib>

namespace qv::test {

namespace {

// Folder placeholders of a launcher request: the launcher makes the folders.
const char *const kRootPlaceholder = "{root}";
const char *const kTlsPlaceholder = "{tls-dir}";

std::string env(const char *name)
{
    const char *v = std::getenv(name);
    return v ? v : "";
}

std::string pythonProgram()
{
    const std::string own = env("QV_PYTHON");
    if (!own.empty())
        return own;
    // The system interpreter is the one that has the distribution's pyftpdlib.
    if (FileExists("/usr/bin/python3"))
        return "/usr/bin/python3";
    return "python3";
}

std::string sourceDir()
{
    const std::string set = env("QV_SOURCE_DIR");
    return set.empty() ? std::string(QV_SOURCE_DIR) : set;
}

std::vector<std::string> serverArgs(const std::string &root, const std::string &certs, const std::string &user,
                                    const std::string &password, const FtpServerOptions &options)
{
    std::vector<std::string> args{"--root", root, "--user", user, "--password", password, "--port", "0",
                                  "--host", options.host};
    if (options.tls) {
        for (const std::string &a : {std::string("--tls-dir"), certs, std::string("--cert-name"), options.certName})
            args.push_back(a);
    }
    args.insert(args.end(), options.extra.begin(), options.extra.end());
    return args;
}

std::vector<std::string> splitFields(const std::string &line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

// A folder the launcher names (a Linux path) as this process reaches it:
// under Wine through drive Z:, which is the Linux root.
std::string localPath(const std::string &launcherPath)
{
#ifdef _WIN32
    std::string p = launcherPath;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p.rfind('\\', 0) == 0 ? "Z:" + p : p;
#else
    return launcherPath;
#endif
}

}  // namespace

std::string FtpServer::Unavailable()
{
    if (kWindows && env("QV_TEST_FTP_LAUNCHER").empty())
        return "no test FTP server: this system cannot start ftpserver.py (Wine cannot run the Linux python3), "
               "and QV_TEST_FTP_LAUNCHER names no launcher (tests/support/ftplauncher.py) to ask";
    return {};
}

FtpServer::FtpServer(const std::string &user, const std::string &password, const FtpServerOptions &options)
{
    skipReason_ = Unavailable();
    if (!skipReason_.empty())
        return;
    const std::string launcher = env("QV_TEST_FTP_LAUNCHER");
    if (!launcher.empty())
        startByLauncher(launcher, user, password, options);
    else
        startHere(user, password, options);
}

FtpServer::~FtpServer() = default;

void FtpServer::startHere(const std::string &user, const std::string &password, const FtpServerOptions &options)
{
    rootDir_ = std::make_unique<ScratchDir>("qvftp");
    certsDir_ = std::make_unique<ScratchDir>("qvftpca");
    root_ = rootDir_->path();
    certs_ = certsDir_->path();
    std::vector<std::string> args{sourceDir() + "/tests/support/ftpserver.py"};
    for (const std::string &a : serverArgs(root_, certs_, user, password, options))
        args.push_back(a);
    ChildOptions childOptions;
    // Its warnings go to the test's log unread: a pipe no one reads would
    // fill and stop the server.
    childOptions.errors = OwnStandardError();
    process_ = std::make_unique<ChildProcess>(pythonProgram(), args, childOptions);
    if (!process_->started()) {
        failure_ = "could not start " + pythonProgram() + ": " + process_->startError();
        return;
    }
    process_->waitForOutput("\n", 20000);
    const std::string first = process_->output().substr(0, process_->output().find('\n'));
    port_ = std::atoi(first.c_str());
    if (port_ <= 0)
        failure_ = "the FTP server gave no port (are python3-pyftpdlib, python3-openssl and python3-cryptography "
                   "installed, and " + options.host + " usable?)";
}

void FtpServer::startByLauncher(const std::string &launcher, const std::string &user, const std::string &password,
                                const FtpServerOptions &options)
{
    const std::size_t colon = launcher.rfind(':');
    std::string host = launcher.substr(0, colon == std::string::npos ? 0 : colon);
    if (host.size() > 1 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const int port = colon == std::string::npos ? 0 : std::atoi(launcher.c_str() + colon + 1);
    if (host.empty() || port <= 0) {
        failure_ = "QV_TEST_FTP_LAUNCHER is not HOST:PORT: " + launcher;
        return;
    }
    std::string request;
    for (const std::string &a : serverArgs(kRootPlaceholder, kTlsPlaceholder, user, password, options))
        request += (request.empty() ? "" : "\t") + a;
    request += '\n';
    std::string reply;
    try {
        launcher_ = std::make_unique<net::Socket>(net::Socket::CreateTcp(net::FamilyOf(host)));
        launcher_->Connect(host, port, 10000);
        for (std::size_t sent = 0; sent < request.size();) {
            const std::optional<std::size_t> n = launcher_->Send(request.data() + sent, request.size() - sent);
            if (!n)
                throw Exception("the launcher takes no request");
            sent += *n;
        }
        char buf[4096];
        while (reply.find('\n') == std::string::npos) {
            const std::optional<std::size_t> n = launcher_->Receive(buf, sizeof buf, 30000);
            if (!n || *n == 0)
                throw Exception("the launcher gave no answer");
            reply.append(buf, *n);
        }
    } catch (const std::exception &e) {
        failure_ = "the FTP launcher at " + launcher + ": " + e.what();
        launcher_.reset();
        return;
    }
    const std::vector<std::string> fields = splitFields(reply.substr(0, reply.find('\n')));
    if (fields.size() != 4 || fields[0] != "OK" || std::atoi(fields[1].c_str()) <= 0) {
        failure_ = "the FTP launcher at " + launcher + " started no server: " + reply;
        launcher_.reset();
        return;
    }
    port_ = std::atoi(fields[1].c_str());
    root_ = localPath(fields[2]);
    certs_ = localPath(fields[3]);
}

std::string FtpServer::caFile() const { return certs_ + PathDelim + "ca.pem"; }

std::string FtpServer::stored(const std::string &name) const
{
    std::string bytes;
    return ReadWholeFile(root_ + PathDelim + "dane" + PathDelim + name, bytes) ? bytes : std::string();
}

std::vector<std::string> FtpServer::storedNames() const
{
    return FilesIn(root_ + PathDelim + "dane");
}

}  // namespace qv::test
