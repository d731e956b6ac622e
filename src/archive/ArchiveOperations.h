// The archive commands: create an archive from the marked companies, propose
// its name, list an archive, restore one company from it.
#pragma once

#include "archive/ArchiveHost.h"

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace qv {

class TSTCabReader;
class TSTCabWriter;

// "Generuj nazwę pliku": data folder, "Arch", "yyyy-mm-dd_hhmm", ".cab".
QString GeneratedArchiveName(const QString &dataFolder, const QDateTime &now);
void GenerateArchiveName(ArchiveHost &host);

// "Twórz archiwum".
void CreateArchive(ArchiveHost &host, TSTCabWriter &writer);

// Removes what killed runs left in the temporary folder and beside the
// archive named in the window; files of running processes stay. Called at
// the first activation and by every "Twórz archiwum".
void RemoveStaleTemporaries(ArchiveHost &host);

// "Pokaż zawartość".
void ListArchive(ArchiveHost &host, TSTCabReader &reader);
// One line of the listing; throws when the date or time is not a real one.
QString ListingLine(const QString &name, std::int32_t size, std::uint16_t date, std::uint16_t time);

// "Odtwórz z archiwum ...".
void RestoreCompany(ArchiveHost &host, TSTCabReader &reader);
// Settles the restores in the data folder that a crash cut short, and tells
// the user how each company folder ended.
void RecoverInterruptedRestores(ArchiveHost &host);

// A company folder name that can be joined to the data folder safely: not
// empty, not "." or "..", without "\", "/" or ":".
bool IsUsableKatalog(const QString &katalog);

}  // namespace qv
