// Restoring a company folder all or nothing, so that it ends wholly old or
// wholly new even when the program is killed half way.
//
// The archive's files are extracted into a staging folder inside the data
// folder, named ".qvodtworz-<process id>-<unique part>": beside the company
// folder so that the final moves are renames on one disk, and with the
// process id so that the work of an instance that still runs is never taken
// for a dead one's. The commit then
//   1. flushes every staged file and folder to disk;
//   2. writes the journal (RestoreJournal.h) with every move, flushes it and
//      renames it into place: from here on the commit can always be finished;
//   3. moves each file in, keeping an older file of the same name aside in
//      the staging folder;
//   4. flushes the company folder's entries, marks the journal "gotowe" and
//      flushes it, then removes the staging folder, the journal last.
// A failure in step 3 moves everything back and marks the journal "wycofane".
//
// Whoever next takes the data folder's lock (DataFolderLock.h) settles every
// staging folder it finds there: restores hold that lock from their first
// question to their last move, so a staging folder found under it belongs to
// no running restore, whatever process number its name carries (that number
// is reused after a power cut, and is the same in every container). Only the
// restores still running in this very process are left alone. A complete journal without a mark is finished (rolled forward), not
// undone: the user confirmed the restore twice; every staged file reached the
// disk before the journal did, so finishing needs nothing but renames, each
// safe to repeat, whatever order the system wrote the earlier renames in;
// undoing would also need every keep-aside rename to have reached the disk,
// which nothing guarantees before the end. Only a finish that fails is
// undone. Without a complete journal the company folder was never touched and
// the staging folder is simply removed; a damaged journal changes nothing.
//
// Plain C++ over the file layer: the commit can run in a forked test child.
#pragma once

#include "platform/errors.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qv {

// The points of a commit, in order.
enum class CommitPoint {
    Flushed,         // staged files on disk; the journal lists no move yet
    JournalWritten,  // every move recorded and flushed; nothing moved
    KeptAside,       // the n-th file's older version is aside
    Placed,          // the n-th file is in the company folder
    AllPlaced,       // every file in and the company folder flushed
    MarkedDone,      // the journal says "gotowe"; the staging folder is still there
    Emptied,         // the staged and kept-aside files are removed; the journal not yet
};

// Raised when a path would lead out of where it must stay: an entry out of
// the company folder, or the company folder out of the data folder.
class ERestoreLeavesFolder : public Exception {
public:
    enum Kind {
        CompanyFolder,  // the company folder is a link to another place
        LinkInCompany,  // name, inside the company folder, is a link to another place
        UnsafeName,     // the entry's name itself leads out
    };
    ERestoreLeavesFolder(const std::string &name, Kind kind);
    // The company folder's name, or a name inside it with "\" between folders.
    const std::string &name() const { return name_; }
    Kind kind() const { return kind_; }

private:
    std::string name_;
    Kind kind_;
};

// A move of the commit failed, and everything was put back; name is the
// file's inside the company folder ("\" between folders).
class ERestoreMoveFailed : public EOSError {
public:
    enum Obstacle {
        NoObstacle,
        FolderInTheWay,  // a folder of the company stands where the file must go
        FileInTheWay,    // a file of the company stands where a folder of the name must be
    };
    ERestoreMoveFailed(const std::string &name, int code, Obstacle obstacle = NoObstacle,
                       const std::string &obstacleName = {})
        : EOSError(code), name_(name), obstacle_(obstacle), obstacleName_(obstacleName)
    {
    }
    const std::string &name() const { return name_; }
    Obstacle obstacle() const { return obstacle_; }
    // The folder part of name that is a file, for FileInTheWay.
    const std::string &obstacleName() const { return obstacleName_; }

private:
    std::string name_;
    Obstacle obstacle_;
    std::string obstacleName_;
};

class StagedRestore {
public:
    // Makes the staging folder in dataFolder for the company folder named
    // `company` there, with a journal saying that extraction runs.
    StagedRestore(const std::string &dataFolder, const std::string &company);
    // Removes the staging folder, unless a commit that could not be undone
    // leaves it for the next start to settle.
    ~StagedRestore();
    StagedRestore(const StagedRestore &) = delete;
    StagedRestore &operator=(const StagedRestore &) = delete;

    const std::string &stagingFolder() const { return staging_; }
    // Where the archive is extracted to; nothing may be written outside it.
    const std::string &extractionFolder() const { return extraction_; }
    // Where a file of the company is staged, by its name inside the company
    // folder ("KSIEGA.DBF", "SUB\X.DBF"); empty when that name could lead
    // anywhere else.
    std::string stagedPath(const std::string &name) const;

    // Moves every staged file into the company folder, all or nothing.
    // Throws ERestoreLeavesFolder before anything moves when a file would
    // land outside the company folder, ERestoreMoveFailed (before anything
    // moves when a file stands where a folder must be) or the OS error of
    // another failed step after the company folder is back as it was.
    void commit();

    // A test seam: called at every point of the commit with the number of
    // the file concerned (or of files moved so far).
    std::function<void(CommitPoint, std::size_t)> onCommitPoint;

private:
    std::string dataFolder_;
    std::string company_;
    std::string staging_;
    std::string extraction_;
    std::string liveKey_;
    bool keep_ = false;
};

struct SettledRestore {
    enum Outcome {
        Finished,   // the company folder holds the archive's files
        Undone,     // the company folder holds what it held before
        LeftAlone,  // the journal is damaged: nothing was changed
        Stuck,      // neither finishing nor undoing worked: left for the next try
    };
    std::string stagingFolder;
    std::string companyFolder;  // empty when the journal does not tell
    Outcome outcome = LeftAlone;
};

// Which staging folders of a data folder count as abandoned.
enum class AbandonedBy {
    // The caller holds the data folder's lock: every staging folder but
    // those of restores running in this process.
    AnyoneElse,
    // No lock to go by (a file system without locks): only those whose
    // process has ended, trusting the number in the name.
    EndedProcess,
};

// Settles the interrupted restores in a data folder, as described above. A
// staging folder left with nothing in it is removed without a report.
std::vector<SettledRestore> SettleInterruptedRestores(const std::string &dataFolder, AbandonedBy abandoned);

}  // namespace qv
