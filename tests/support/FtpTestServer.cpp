#include "FtpTestServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qv::test {

namespace {

QString pythonProgram()
{
    const QString own = qEnvironmentVariable("QV_PYTHON");
    if (!own.isEmpty())
        return own;
    // The system interpreter is the one that has the distribution's pyftpdlib.
    if (QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
        return QStringLiteral("/usr/bin/python3");
    return QStringLiteral("python3");
}

}  // namespace

FtpTestServer::FtpTestServer(const QString &user, const QString &password, const FtpServerOptions &options)
{
    const QString script = QStringLiteral(QV_SOURCE_DIR) + QStringLiteral("/tests/support/ftpserver.py");
    QStringList args{script,          QStringLiteral("--root"), root_.path(), QStringLiteral("--user"),
                     user,            QStringLiteral("--password"), password, QStringLiteral("--port"),
                     QStringLiteral("0"), QStringLiteral("--host"), options.host};
    if (options.tls)
        args << QStringLiteral("--tls-dir") << certs_.path() << QStringLiteral("--cert-name") << options.certName;
    args << options.extra;
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_->start(pythonProgram(), args);
    if (!process_->waitForStarted(10000)) {
        failure_ = "could not start " + pythonProgram().toStdString();
        return;
    }
    while (!process_->canReadLine() && process_->waitForReadyRead(10000)) {
    }
    bool ok = false;
    port_ = process_->readLine().trimmed().toInt(&ok);
    if (!ok || port_ <= 0)
        failure_ = "the FTP server gave no port (are python3-pyftpdlib and python3-openssl installed, and " +
                   options.host.toStdString() + " usable?)";
}

std::string FtpTestServer::caFile() const { return QDir(certs_.path()).filePath(QStringLiteral("ca.pem")).toStdString(); }

FtpTestServer::~FtpTestServer()
{
    if (process_) {
        process_->kill();
        process_->waitForFinished(5000);
    }
}

QByteArray FtpTestServer::stored(const QString &name) const
{
    QFile f(QDir(root_.path()).filePath(QStringLiteral("dane/") + name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList FtpTestServer::storedNames() const
{
    return QDir(QDir(root_.path()).filePath(QStringLiteral("dane"))).entryList(QDir::Files, QDir::Name);
}

}  // namespace qv::test
