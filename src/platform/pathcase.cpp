#include "platform/pathcase.h"

#include "platform/files.h"

#include <algorithm>

namespace qv {

bool FileSystemIgnoresCase()
{
#ifdef _WIN32
    return true;
#else
    return false;
#endif
}

std::string JoinFsPath(const std::string &folder, const std::string &name)
{
    if (folder.empty())
        return name;
    // Only a separator of the system joins: "C:\" stays "C:\X", "/tmp/" stays "/tmp/X".
    return IsPathDelimiter(folder.back()) ? folder + name : folder + PathDelim + name;
}

std::string ResolveEntryIgnoringCase(const std::string &folder, const std::string &name)
{
    const std::string exact = JoinFsPath(folder, name);
    if (FileSystemIgnoresCase())
        return exact;
    const std::string found = FindPathIgnoringCase(exact);
    return found.empty() ? exact : found;
}

std::string ToNativeSeparators(std::string path)
{
#ifdef _WIN32
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

}  // namespace qv
