#include "platform/pathcase.h"

#include <QDir>
#include <QFileInfo>

namespace qv {

bool FileSystemIgnoresCase()
{
#ifdef _WIN32
    return true;
#else
    return false;
#endif
}

QString JoinFsPath(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return name;
    const QChar sep = QDir::separator();
    // Only the native separator joins: "C:\" stays "C:\X", "/tmp/" stays "/tmp/X".
    return folder.endsWith(sep) || folder.endsWith(QLatin1Char('/')) ? folder + name : folder + sep + name;
}

QString ResolveEntryIgnoringCase(const QString &folder, const QString &name)
{
    const QString exact = JoinFsPath(folder, name);
    if (FileSystemIgnoresCase() || QFileInfo::exists(exact))
        return exact;
    const QDir dir(folder.isEmpty() ? QStringLiteral(".") : folder);
    const QStringList entries = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return JoinFsPath(folder, entry);
    }
    return exact;
}

}  // namespace qv
