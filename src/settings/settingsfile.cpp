#include "settings/settingsfile.h"

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/pathcase.h"

#include <algorithm>

namespace qv {

namespace {

std::string &overrideName()
{
    static std::string name;
    return name;
}

std::string &locatedName()
{
    static std::string name;
    return name;
}

// The program's file name without its last extension (the whole name when
// it has none, or only a leading dot).
std::string baseName(const std::string &programPath)
{
    const std::string name = ExtractFileName(programPath);
    const std::size_t dot = name.rfind('.');
    return dot == 0 || dot == std::string::npos ? name : name.substr(0, dot);
}

// The user's own settings file for a program that cannot keep one beside it.
std::string userSettingsFile(const std::string &programPath, const std::string &userConfigRoot)
{
    const std::string folder = JoinFsPath(userConfigRoot, baseName(programPath));
    return JoinFsPath(folder, ExtractFileName(IniNameForProgram(programPath)));
}

bool besideIsWritable(const std::string &beside, const std::function<bool(const std::string &folder)> &canWrite)
{
    const std::string folder = ExcludeTrailingDelimiter(ExtractFilePath(ExpandFileName(beside)));
    return canWrite ? canWrite(folder) : CanCreateFilesIn(folder);
}

}  // namespace

bool CanCreateFilesIn(const std::string &folder)
{
    if (!DirectoryExists(folder))
        return false;
    std::string probe;
    const FileHandle h = CreateUniqueFile(folder, ".qvprobe-", "", probe);
    if (h == InvalidFileHandle)
        return false;
    FileClose(h);
    FileDelete(probe);
    return true;
}

std::string IniNameForProgram(const std::string &programPath)
{
    const std::size_t sep = programPath.find_last_of("/\\");
    const std::size_t nameStart = sep == std::string::npos ? 0 : sep + 1;
    const std::size_t dot = programPath.rfind('.');
    // A dot that starts the file name (".hidden") marks no extension.
    if (dot != std::string::npos && dot > nameStart)
        return programPath.substr(0, dot) + ".INI";
    return programPath + ".INI";
}

std::string LocateSettingsFile(const std::string &programPath, const std::string &userConfigRoot,
                               const std::function<bool(const std::string &folder)> &canWrite)
{
    const std::string beside = IniNameForProgram(programPath);
    if (besideIsWritable(beside, canWrite))
        return beside;

    const std::string own = userSettingsFile(programPath, userConfigRoot);
    ForceDirectories(ExtractFilePath(own));
    // A new file of the user's, which the user may change whatever the
    // maker's copy allowed.
    if (!PathExists(own) && FileExists(beside))
        FileCopyNew(beside, own);
    return own;
}

std::string SettingsFileToRead(const std::string &programPath, const std::string &userConfigRoot,
                               const std::function<bool(const std::string &folder)> &canWrite)
{
    const std::string beside = IniNameForProgram(programPath);
    if (besideIsWritable(beside, canWrite))
        return beside;
    const std::string own = userSettingsFile(programPath, userConfigRoot);
    return PathExists(own) ? own : beside;
}

std::string DefaultSettingsFileName()
{
    if (!overrideName().empty())
        return overrideName();
    if (locatedName().empty())
        locatedName() = LocateSettingsFile(ProgramFilePath(), UserConfigFolder());
    return locatedName();
}

std::string DefaultSettingsFileToRead()
{
    if (!overrideName().empty())
        return overrideName();
    return SettingsFileToRead(ProgramFilePath(), UserConfigFolder());
}

void SetDefaultSettingsFileName(const std::string &fileName) { overrideName() = fileName; }

}  // namespace qv
