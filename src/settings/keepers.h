// What the program's two settings keepers keep, as its windows create them:
// the main window's section "Main" (its place, the two fields' texts and the
// FTP connection values) and the log window's "Okno_Statusu" (its place).
#pragma once

#include "settings/storedvalues.h"

#include <string>

namespace qv {

// The service server's address until the maker puts the real one into the
// settings file (key "host" of section "Main").
inline constexpr const char *kDefaultFtpHost = "ftp.example.com";
inline constexpr int kDefaultFtpPort = 21;
inline constexpr const char *kDefaultFtpUser = "qv";
inline constexpr const char *kDefaultFtpPassword = "#(wnto)#";
inline constexpr const char *kFtpKeyString = "rm(k)Lawen";

inline constexpr const char *kMainSection = "Main";
inline constexpr const char *kLogSection = "Okno_Statusu";

// The keys under which FormStorage_Main keeps the archive-file field's and
// the data-folder field's texts (component name, "_", property name).
inline constexpr const char *kArchiveFieldKey = "FN_cab_Text";
inline constexpr const char *kDataFolderKey = "DirectoryEdit_LDG_Text";

// The smallest sizes of the two windows, which their keepers enforce.
inline constexpr int kMainMinWidth = 480;
inline constexpr int kMainMinHeight = 444;
inline constexpr int kLogMinWidth = 529;
inline constexpr int kLogMinHeight = 235;

// The data folder a first run offers: C:\LDG_2005 on Windows, that folder
// inside the default Wine prefix elsewhere.
std::string DefaultDataFolder();

// FormStorage_Main's stored values "port", "host", "un", "pw" as the window
// creates them: the defaults, the key string on "un" and "pw".
TStoredValues MainStoredValues();

// What FormStorage_Main restores into a new main window, read without one
// (for the command line): the texts of the two fields as the keeper would
// assign them and the stored values, from the window's starting values (an
// empty archive-file field, DefaultDataFolder(), MainStoredValues()) by the
// keeper's own steps. Only reads the file.
struct MainSettings {
    std::string archiveFieldText;
    std::string dataFolderText;
    TStoredValues values;
};
MainSettings ReadMainSettings(const std::string &fileName);

// For a first run: when fileName does not exist, creates it with dataFolder as
// the text of the data-folder field (section "Main"), so that the main window
// opens on that folder. Returns whether it wrote the file; an existing file is
// left alone. Throws qv::Exception when the file cannot be written.
bool SeedSettingsFile(const std::string &fileName, const std::string &dataFolder);

}  // namespace qv
