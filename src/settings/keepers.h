// The two settings keepers of the program, as its windows create them.
#pragma once

#include "settings/formstorage.h"

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

// The data folder a first run offers: C:\LDG_2005 on Windows, that folder
// inside the default Wine prefix elsewhere.
QString DefaultDataFolder();

// FormStorage_Main's stored values "port", "host", "un", "pw" as the window
// creates them: the defaults, the key string on "un" and "pw".
TStoredValues MainStoredValues();

// FormStorage_Main of the main window: section "Main", position only, at least
// 480 x 444, the texts of FN_cab and DirectoryEdit_LDG (their Text property),
// and MainStoredValues(). The window's controls need not exist yet; they are
// looked up when the window is first shown.
TFormStorage *CreateFormStorage_Main(QWidget *mainWindow);

// What FormStorage_Main restores into a new main window, read without one
// (for the command line): the texts of the two fields as the keeper would
// assign them and the stored values, from the window's starting values (an
// empty archive-file field, DefaultDataFolder(), MainStoredValues()) by the
// keeper's own steps. Only reads the file.
struct MainSettings {
    QString archiveFieldText;
    QString dataFolderText;
    TStoredValues values;
};
MainSettings ReadMainSettings(const QString &fileName);

// FormPlacement1 of a log window: section "Okno_Statusu", state and position,
// at least 529 x 235.
TFormPlacement *CreateFormPlacement1(QWidget *logWindow);

// For a first run: when fileName does not exist, creates it with dataFolder as
// the text of the data-folder field (section "Main"), so that the main window
// opens on that folder. Returns whether it wrote the file; an existing file is
// left alone. Throws qv::Exception when the file cannot be written.
bool SeedSettingsFile(const QString &fileName, const QString &dataFolder);

}  // namespace qv
