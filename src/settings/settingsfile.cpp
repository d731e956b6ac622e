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

namespace {

// The user's own settings file for a program that cannot keep one beside it.
QString userSettingsFile(const QString &programPath, const QString &userConfigRoot)
{
    const QFileInfo program(programPath);
    const QString folder = QDir(userConfigRoot).filePath(program.completeBaseName().isEmpty()
                                                             ? program.fileName()
                                                             : program.completeBaseName());
    return QDir(folder).filePath(QFileInfo(IniNameForProgram(programPath)).fileName());
}

bool besideIsWritable(const QString &beside, const std::function<bool(const QString &folder)> &canWrite)
{
    const QString folder = QFileInfo(beside).absolutePath();
    return canWrite ? canWrite(folder) : CanCreateFilesIn(folder);
}

QString usersConfigFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

}  // namespace

QString LocateSettingsFile(const QString &programPath, const QString &userConfigRoot,
                           const std::function<bool(const QString &folder)> &canWrite)
{
    const QString beside = IniNameForProgram(programPath);
    const QFileInfo besideInfo(beside);
    if (besideIsWritable(beside, canWrite))
        return beside;

    const QString own = userSettingsFile(programPath, userConfigRoot);
    QDir().mkpath(QFileInfo(own).absolutePath());
    if (!QFileInfo::exists(own) && besideInfo.isFile()) {
        if (QFile::copy(beside, own))
            QFile::setPermissions(own, QFile::permissions(own) | QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    return own;
}

QString SettingsFileToRead(const QString &programPath, const QString &userConfigRoot,
                           const std::function<bool(const QString &folder)> &canWrite)
{
    const QString beside = IniNameForProgram(programPath);
    if (besideIsWritable(beside, canWrite))
        return beside;
    const QString own = userSettingsFile(programPath, userConfigRoot);
    return QFileInfo::exists(own) ? own : beside;
}

QString DefaultSettingsFileName()
{
    if (!overrideName().isEmpty())
        return overrideName();
    if (locatedName().isEmpty())
        locatedName() = LocateSettingsFile(QCoreApplication::applicationFilePath(), usersConfigFolder());
    return locatedName();
}

QString DefaultSettingsFileToRead()
{
    if (!overrideName().isEmpty())
        return overrideName();
    return SettingsFileToRead(QCoreApplication::applicationFilePath(), usersConfigFolder());
}

void SetDefaultSettingsFileName(const QString &fileName)
{
    overrideName() = fileName;
}

}  // namespace qv
