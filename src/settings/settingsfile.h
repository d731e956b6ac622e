// Where the settings file lives.
#pragma once

#include <functional>
#include <string>

namespace qv {

// The program file's path with its extension replaced by ".INI"; a program
// without an extension gets ".INI" appended (C:\Prog\ARCH.EXE gives
// C:\Prog\ARCH.INI, /usr/bin/qvarchiwizator gives /usr/bin/qvarchiwizator.INI).
std::string IniNameForProgram(const std::string &programPath);

// The settings file for a program: IniNameForProgram() when the program's
// folder can be written. Otherwise (a system-wide install) the file of the same
// name in userConfigRoot/<program name without extension>/, the folder being
// created; when that file does not exist yet but one lies beside the program
// (the maker's settings, say the server address), that one is copied there first.
// canWrite tells whether files can be created in a folder; empty means
// CanCreateFilesIn().
std::string LocateSettingsFile(const std::string &programPath, const std::string &userConfigRoot,
                               const std::function<bool(const std::string &folder)> &canWrite = {});

// The file LocateSettingsFile() would give, found without creating or copying
// anything, for a run that only reads the settings: where the user has no
// file of their own yet, the one beside the program is read in its place.
std::string SettingsFileToRead(const std::string &programPath, const std::string &userConfigRoot,
                               const std::function<bool(const std::string &folder)> &canWrite = {});

// Whether a file can be created in the folder, found by creating (and
// removing) one: permission bits say little on Windows, and nothing to an
// administrator.
bool CanCreateFilesIn(const std::string &folder);

// The file that keepers without a file name of their own use: the one set by
// SetDefaultSettingsFileName() if any, else LocateSettingsFile() for this
// program with the user's configuration folder (UserConfigFolder()), located
// once per run.
std::string DefaultSettingsFileName();

// SettingsFileToRead() for this program, or the file SetDefaultSettingsFileName()
// set.
std::string DefaultSettingsFileToRead();

// Points every keeper without a file name of its own at fileName (tests, or a
// run that must not touch the real file); an empty name goes back to the default.
void SetDefaultSettingsFileName(const std::string &fileName);

}  // namespace qv
