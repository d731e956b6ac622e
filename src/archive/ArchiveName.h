// Names of archives: the rule that turns the archive-file field's text into a
// file name, the time-stamped name "Generuj nazwę pliku" proposes, and the
// search for older archives of that generated form. Both front ends use these,
// so the window and the command line name and find archives alike.
#pragma once

#include "platform/environment.h"

#include <string>
#include <vector>

namespace qv {

inline constexpr int kMaxArchiveNameLength = 260;

// The first word of a text: blanks and control characters (1..32) separate
// words, a double-quoted stretch belongs to its word without its quotes.
std::string FirstWord(const std::string &text);

// The archive name rule applied to a field text: the whole text if a file of
// that name exists, else its first word; empty when longer than 260 characters.
std::string ArchiveFileNameFromText(const std::string &text);

// The data folder as the main window holds it: in capitals where the file
// system ignores letter case, unchanged elsewhere.
std::string DataFolderAsHeld(const std::string &folder);

// "Generuj nazwę pliku": data folder, "Arch", "yyyy-mm-dd_hhmm", ".cab".
std::string GeneratedArchiveName(const std::string &dataFolder, const LocalDateTime &now);

// True for a file name (without folder) of exactly the generated form:
// "Arch", a real date and time as yyyy-mm-dd_hhmm, ".cab".
bool IsGeneratedArchiveName(const std::string &fileName);

// What --keep finds in a folder: the cabinets of the generated form lying
// directly in it (regular files whose header reads as a cabinet's).
struct GeneratedArchives {
    // Those older than the newest `keep`, oldest first: to be removed.
    std::vector<std::string> beyond;
    // Those named after a time later than now (a clock set wrong once): they
    // neither count among the kept nor are removed.
    std::vector<std::string> future;
};

// The time in the name orders them. `current` (a full path, usually the
// archive just made) always counts among those kept, whatever its name says,
// and is never returned. Everything not of the generated form, and every
// file of that form that is not a cabinet, is left out.
GeneratedArchives FindGeneratedArchives(const std::string &folder, int keep, const std::string &current,
                                        const LocalDateTime &now);

}  // namespace qv
