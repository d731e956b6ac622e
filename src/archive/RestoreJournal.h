// The journal a restore keeps in its staging folder, so that a restore cut
// short by a crash can be settled at the next start.
//
// It is a small UTF-8 text file, one record per line, written whole and
// renamed into place: first while the archive is being extracted (only the
// company folder is known), then, before the first file moves, with every
// move of the commit. A trailer holds the number of moves and a checksum of
// everything before it, so a torn or damaged journal is told from a complete
// one. At the end a single line is appended: "gotowe" (the commit is done) or
// "wycofane" (it was undone); anything else after the trailer counts as no
// mark at all, which is always safe to act on.
//
// The parser trusts nothing: a journal that is not exactly as written here is
// refused as a whole, and the caller then changes nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct RestoreJournal {
    enum class Stage {
        Extracting,  // nothing in the company folder has been touched
        Moving,      // files may have moved; the moves are listed
        Done,        // every move made and flushed
        Undone,      // every move taken back and flushed
    };
    struct Move {
        std::string name;   // inside the company folder, "\" between folders
        bool replaces = false;  // an older file of that name was kept aside
    };

    std::string company;  // the company folder's name inside the data folder
    bool companyExisted = true;
    Stage stage = Stage::Extracting;
    std::vector<Move> moves;
};

// The journal's text for the Extracting and Moving stages.
std::string FormatRestoreJournal(const RestoreJournal &journal);
// The line appended to a Moving journal for the Done and Undone stages.
std::string RestoreJournalMark(RestoreJournal::Stage stage);
// Empty when the bytes are not a journal exactly as written.
std::optional<RestoreJournal> ParseRestoreJournal(std::string_view bytes);

// A name that may be joined to a company folder: relative, every part
// non-empty and neither "." nor "..", no drive or stream colon (and on
// Windows no device name, no trailing dot or blank). "\" and "/" both part.
bool IsSafeNameInCompany(const std::string &name);
// A company folder's name: one safe part.
bool IsSafeCompanyFolderName(const std::string &name);

}  // namespace qv
