#include "settings/settingsfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <algorithm>

namespace qv {

namespace {

QString &overrideName()
{
    static QString name;
    return name;
}

QString &locatedName()
{
    static QString name;
    return name;
}

}  // namespace

bool CanCreateFilesIn(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(folder + QStringLiteral("/.qvprobe-XXXXXX"));
    return probe.open();
}

QString IniNameForProgram(const QString &programPath)
{
    const qsizetype sep = std::max(programPath.lastIndexOf(QLatin1Char('/')),
                                   programPath.lastIndexOf(QLatin1Char('\\')));
    const qsizetype dot = programPath.lastIndexOf(QLatin1Char('.'));
    // A dot that starts the file name (".hidden") marks no extension.
    if (dot > sep + 1)
        return programPath.left(dot) + QStringLiteral(".INI");
    return programPath + QStringLiteral(".INI");
}

QString LocateSettingsFile(const QString &programPath, const QString &userConfigRoot,
                           const std::function<bool(const QString &folder)> &canWrite)
{
    const QString beside = IniNameForProgram(programPath);
    const QFileInfo besideInfo(beside);
    if (canWrite ? canWrite(besideInfo.absolutePath()) : CanCreateFilesIn(besideInfo.absolutePath()))
        return beside;

    const QFileInfo program(programPath);
    const QString folder = QDir(userConfigRoot).filePath(program.completeBaseName().isEmpty()
                                                             ? program.fileName()
                                                             : program.completeBaseName());
    const QString own = QDir(folder).filePath(besideInfo.fileName());
    QDir().mkpath(folder);
    if (!QFileInfo::exists(own) && besideInfo.isFile()) {
        if (QFile::copy(beside, own))
            QFile::setPermissions(own, QFile::permissions(own) | QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    return own;
}

QString DefaultSettingsFileName()
{
    if (!overrideName().isEmpty())
        return overrideName();
    if (locatedName().isEmpty())
        locatedName() = LocateSettingsFile(QCoreApplication::applicationFilePath(),
                                           QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    return locatedName();
}

void SetDefaultSettingsFileName(const QString &fileName)
{
    overrideName() = fileName;
}

}  // namespace qv
