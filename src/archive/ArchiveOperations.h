// The archive commands: create an archive from the marked companies, propose
// its name, list an archive, restore one company from it, test an archive.
// The window and the command line both drive them through ArchiveHost; the
// results let the command line's exit status follow what happened.
#pragma once

#include "archive/ArchiveHost.h"
#include "archive/ArchiveName.h"

#include <cstdint>
#include <string>

namespace qv {

class DataFolderLock;
class TSTCabReader;
class TSTCabWriter;

// "Generuj nazwę pliku": puts GeneratedArchiveName() for now into the
// archive-file field and runs the archive-file check.
void GenerateArchiveName(ArchiveHost &host);

// "Twórz archiwum". True when the new archive is complete, checked and in
// place; false when nothing was asked for, the user declined, the data folder
// was busy or the run failed.
bool CreateArchive(ArchiveHost &host, TSTCabWriter &writer);

// Removes what killed runs left in the temporary folder and beside the
// archive named in the window; files of running processes stay. Called at
// the first activation and by every "Twórz archiwum".
void RemoveStaleTemporaries(ArchiveHost &host);

// "Pokaż zawartość". A file that is not a cabinet yields an empty log window
// and no message, as ever; the result tells it apart for callers that must.
enum class ListOutcome { Listed, NoArchive, NotCabinet };
ListOutcome ListArchive(ArchiveHost &host, TSTCabReader &reader);
// One line of the listing, the date and time in the regional formats the
// interaction gives; throws when the date or time is not a real one.
std::string ListingLine(Interaction &ui, const std::string &name, std::int32_t size, std::uint16_t date,
                        std::uint16_t time);

// "Odtwórz z archiwum ...", holding the data folder's lock from before the
// first question. True when the company's files were restored.
bool RestoreCompany(ArchiveHost &host, TSTCabReader &reader);
// Settles the restores in the data folder that a crash cut short, and tells
// the user how each company folder ended. Only under the data folder's lock:
// what lies there then belongs to no running restore of another process.
void RecoverInterruptedRestores(ArchiveHost &host, const DataFolderLock &lock);

// Reads the archive named by the host back whole, writing nothing: every
// data block against its checksum, every block decompressed, every file
// against its size, through the following cabinets of a set. One line per
// file and "Archiwum sprawdzone: N plików" in a log window, or the line
// "-!- Archiwum nie przeszło sprawdzenia: ... -!- " at the first fault. True
// when the archive passed.
bool TestArchive(ArchiveHost &host, TSTCabReader &reader);

// A name or message from an archive or a folder as it may be shown in a log
// window, on a terminal or in a log file: control characters escaped
// (PrintableName), and a message kept on one line.
std::string Printable(const std::string &utf8);
std::string PrintableMessage(const char *message);

// The system's text for an OS error code, on one line and without the
// closing full stop, to sit inside a log line.
std::string SystemReason(int osError);

// A company folder name that can be joined to the data folder safely: not
// empty, not "." or "..", without "\", "/" or ":".
bool IsUsableKatalog(const std::string &katalog);

}  // namespace qv
