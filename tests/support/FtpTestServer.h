// A real FTP server for the tests: Debian's pyftpdlib on 127.0.0.1 (or ::1)
// and a free port, serving a temporary root with a writable "dane" folder to
// one user, misbehaving as the options of ftpserver.py say.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <string>

namespace qv::test {

struct FtpServerOptions {
    QString host = QStringLiteral("127.0.0.1");
    // Explicit TLS with a certificate made at start, for certName; its
    // authority is then in caFile().
    bool tls = false;
    QString certName = QStringLiteral("localhost");
    // Further options of ftpserver.py ("--refuse", "PORT,EPRT", ...).
    QStringList extra;
};

class FtpTestServer {
public:
    FtpTestServer(const QString &user, const QString &password, const FtpServerOptions &options = {});
    ~FtpTestServer();

    // Empty when the server runs; otherwise why it does not.
    const std::string &failure() const { return failure_; }
    int port() const { return port_; }
    QString root() const { return root_.path(); }
    // The authority that signed the server's certificate (PEM), with tls.
    std::string caFile() const;
    // The bytes of a file stored in "dane"; empty when there is none.
    QByteArray stored(const QString &name) const;
    QStringList storedNames() const;

private:
    QTemporaryDir root_;
    QTemporaryDir certs_;
    std::unique_ptr<QProcess> process_;
    int port_ = 0;
    std::string failure_;
};

}  // namespace qv::test
