// The program's compiled-in images and translations live in a static library,
// so they are registered explicitly before the first window needs them.
#pragma once

class QCoreApplication;

namespace qv {

void InitAppResources();

// Makes Qt's own texts (the standard buttons "Tak"/"Nie", the file and folder
// dialogs) Polish, whatever the system's language: every other text of the
// program is Polish already. False when no Polish translation was found.
bool InstallPolishTranslations(QCoreApplication &app);

}  // namespace qv
