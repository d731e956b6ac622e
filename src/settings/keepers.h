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

// FormStorage_Main of the main window: section "Main", position only, at least
// 480 x 444, the texts of FN_cab and DirectoryEdit_LDG (their Text property),
// and the values "port", "host", "un", "pw". The window's controls need not
// exist yet; they are looked up when the window is first shown.
TFormStorage *CreateFormStorage_Main(QWidget *mainWindow);

// FormPlacement1 of a log window: section "Okno_Statusu", state and position,
// at least 529 x 235.
TFormPlacement *CreateFormPlacement1(QWidget *logWindow);

// For a first run: when fileName does not exist, creates it with dataFolder as
// the text of the data-folder field (section "Main"), so that the main window
// opens on that folder. Returns whether it wrote the file; an existing file is
// left alone. Throws qv::Exception when the file cannot be written.
bool SeedSettingsFile(const QString &fileName, const QString &dataFolder);

}  // namespace qv
