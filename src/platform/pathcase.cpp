#include "platform/pathcase.h"

#include "platform/files.h"

#include <QDir>

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
    if (FileSystemIgnoresCase())
        return exact;
    const std::string found = FindPathIgnoringCase(exact.toStdString());
    return found.empty() ? exact : QString::fromStdString(found);
}

}  // namespace qv
