// A real FTP server for the tests: Debian's pyftpdlib on 127.0.0.1 and a free
// port, serving a temporary root with a writable "dane" folder to one user.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <string>

namespace qv::test {

class FtpTestServer {
public:
    FtpTestServer(const QString &user, const QString &password);
    ~FtpTestServer();

    // Empty when the server runs; otherwise why it does not.
    const std::string &failure() const { return failure_; }
    int port() const { return port_; }
    QString root() const { return root_.path(); }
    // The bytes of a file stored in "dane"; empty when there is none.
    QByteArray stored(const QString &name) const;
    QStringList storedNames() const;

private:
    QTemporaryDir root_;
    std::unique_ptr<QProcess> process_;
    int port_ = 0;
    std::string failure_;
};

}  // namespace qv::test
