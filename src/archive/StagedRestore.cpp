#include "archive/StagedRestore.h"

#include "archive/RestoreJournal.h"
#include "platform/files.h"
#include "platform/process.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>

namespace qv {

namespace {

constexpr char kStagingPrefix[] = ".qvodtworz-";
constexpr char kNewFolder[] = "nowe";
constexpr char kKeptFolder[] = "zastapione";
constexpr char kJournal[] = "dziennik";
constexpr char kJournalNext[] = "dziennik.nowy";
// A journal is refused long before this; reading stops here.
constexpr std::size_t kJournalReadLimit = (64u << 20) + 1;

std::string join(const std::string &folder, const std::string &name)
{
    if (folder.empty())
        return name;
    return IsPathDelimiter(folder.back()) ? folder + name : folder + PathDelim + name;
}

// A name inside the company folder with the platform's separator.
std::string localName(std::string name)
{
    for (char &c : name)
        if (c == '\\' || c == '/')
            c = PathDelim;
    return name;
}

std::string parentOf(const std::string &path) { return ExcludeTrailingDelimiter(ExtractFilePath(path)); }

void require(bool ok)
{
    if (!ok)
        RaiseLastOSError();
}

void writeAndFlush(const std::string &path, const std::string &bytes, bool append)
{
    const FileHandle h = FileOpen(path, FileAccess::Write, FileShare::None,
                                  append ? FileDisposition::OpenExisting : FileDisposition::CreateAlways);
    require(h != InvalidFileHandle);
    bool ok = !append || FileSeek(h, 0, 2) >= 0;
    ok = ok && FileWrite(h, bytes.data(), static_cast<std::uint32_t>(bytes.size())) ==
                   static_cast<std::int64_t>(bytes.size());
    ok = ok && FileFlush(h);
    const int error = ok ? 0 : LastOSError();
    const bool closed = FileClose(h);
    if (!ok)
        RaiseOSError(error);
    require(closed);
}

struct JournalFile {
    bool missing = false;
    std::optional<std::string> bytes;  // empty when it cannot be read
};

JournalFile readJournal(const std::string &path)
{
    JournalFile out;
    const FileHandle h = FileOpen(path, FileAccess::Read, FileShare::Read, FileDisposition::OpenExisting);
    if (h == InvalidFileHandle) {
        out.missing = LastOSError() == osErrorFileNotFound;
        return out;
    }
    std::string bytes;
    char buf[65536];
    for (;;) {
        const std::int64_t n = FileRead(h, buf, sizeof buf);
        if (n < 0) {
            FileClose(h);
            return out;
        }
        if (n == 0 || bytes.size() >= kJournalReadLimit)
            break;
        bytes.append(buf, static_cast<std::size_t>(n));
    }
    FileClose(h);
    out.bytes = std::move(bytes);
    return out;
}

// The files below a folder as names with "\" between folders, and its
// sub-folders deepest first.
void walk(const std::string &root, const std::string &prefix, std::vector<std::string> &files,
          std::vector<std::string> &folders)
{
    const std::string here = prefix.empty() ? root : join(root, localName(prefix));
    std::vector<std::string> subfolders;
    FileSearch search;
    SearchEntry e;
    if (!search.First(join(here, "*"), e)) {
        if (search.NothingMatched())
            return;
        RaiseLastOSError();
    }
    do {
        if (e.name == "." || e.name == "..")
            continue;
        const std::string name = prefix.empty() ? e.name : prefix + "\\" + e.name;
        if (e.attributes & faDirectory)
            subfolders.push_back(name);
        else
            files.push_back(name);
    } while (search.Next(e));
    if (LastOSError() != osErrorNoMoreFiles)
        RaiseLastOSError();
    search.Close();
    for (const std::string &sub : subfolders) {
        walk(root, sub, files, folders);
        folders.push_back(join(root, localName(sub)));
    }
}

bool holdsFiles(const std::string &folder, const std::set<std::string> &ignored = {})
{
    if (!DirectoryExists(folder))
        return false;
    std::vector<std::string> files, folders;
    try {
        walk(folder, "", files, folders);
    } catch (const std::exception &) {
        return true;  // what cannot be looked at is not thrown away
    }
    return std::any_of(files.begin(), files.end(), [&](const std::string &f) { return !ignored.count(f); });
}

// Removes the folders below `folder` that hold nothing, and `folder` itself
// when it ends up empty.
void pruneEmptyFolders(const std::string &folder)
{
    std::vector<std::string> files, folders;
    try {
        walk(folder, "", files, folders);
    } catch (const std::exception &) {
        return;
    }
    for (const std::string &sub : folders)
        DirectoryDelete(sub);
    DirectoryDelete(folder);
}

// The staging folders of the restores running in this process. The lock a
// settling caller holds nests within a process, so it does not keep those out.
class LiveStagingFolders {
public:
    // The key to remove it by, taken while the folder exists.
    std::string add(const std::string &folder)
    {
        std::string key = ResolvePath(folder);
        const std::lock_guard<std::mutex> guard(mutex_);
        folders_.insert(key);
        return key;
    }
    void remove(const std::string &key)
    {
        const std::lock_guard<std::mutex> guard(mutex_);
        folders_.erase(key);
    }
    bool contains(const std::string &folder) const
    {
        const std::lock_guard<std::mutex> guard(mutex_);
        return folders_.count(ResolvePath(folder)) != 0;
    }

private:
    mutable std::mutex mutex_;
    std::set<std::string> folders_;
};

LiveStagingFolders &liveStagingFolders()
{
    static LiveStagingFolders folders;
    return folders;
}

std::optional<std::uint32_t> stagingProcessId(const std::string &name)
{
    const std::string prefix = kStagingPrefix;
    if (name.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    std::uint64_t pid = 0;
    std::size_t i = prefix.size();
    const std::size_t start = i;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9' && i - start < 10)
        pid = pid * 10 + static_cast<std::uint64_t>(name[i++] - '0');
    if (i == start || i + 1 >= name.size() || name[i] != '-' || pid == 0 || pid > 0xFFFFFFFFu)
        return std::nullopt;
    return static_cast<std::uint32_t>(pid);
}

// The moves of one commit, as its journal lists them, made or taken back
// from whatever state a crash left them in.
class Commit {
public:
    using Hook = std::function<void(CommitPoint, std::size_t)>;

    Commit(const std::string &dataFolder, const std::string &staging, const RestoreJournal &journal)
        : staging_(staging), company_(join(dataFolder, journal.company)), journal_(journal)
    {
    }

    const std::string &companyFolder() const { return company_; }
    std::string staged(const std::string &name) const { return join(join(staging_, kNewFolder), localName(name)); }
    std::string kept(const std::string &name) const { return join(join(staging_, kKeptFolder), localName(name)); }
    std::string target(const std::string &name) const { return join(company_, localName(name)); }

    // Moves in every file not in yet. A file already aside stays aside: what
    // now stands in its place came later and is replaced.
    void place(const Hook &hook)
    {
        std::size_t n = 0;
        for (const RestoreJournal::Move &m : journal_.moves) {
            ++n;
            const std::string from = staged(m.name), to = target(m.name), aside = kept(m.name);
            if (!PathExists(from))
                continue;  // moved in before
            const auto failed = [&] { throw ERestoreMoveFailed(m.name, LastOSError()); };
            if (PathExists(to)) {
                if (DirectoryExists(to))
                    throw ERestoreMoveFailed(m.name, osErrorFileExists, ERestoreMoveFailed::FolderInTheWay);
                if (!PathExists(aside)) {
                    if (!ForceDirectories(parentOf(aside)) || !FileRename(to, aside))
                        failed();
                    hook(CommitPoint::KeptAside, n);
                }
            }
            if (!ForceDirectories(parentOf(to)) || !FileRename(from, to))
                failed();
            hook(CommitPoint::Placed, n);
        }
    }

    // Puts every older file back and takes every new one out again (into the
    // staging folder, so that nothing is deleted); true when all went back.
    bool takeBack()
    {
        bool ok = true;
        for (auto it = journal_.moves.rbegin(); it != journal_.moves.rend(); ++it) {
            const std::string from = staged(it->name), to = target(it->name), aside = kept(it->name);
            if (!PathExists(from) && PathExists(to))
                ok = ForceDirectories(parentOf(from)) && FileRename(to, from) && ok;
            if (PathExists(aside))
                ok = ForceDirectories(parentOf(to)) && FileRename(aside, to) && ok;
        }
        if (ok && !journal_.companyExisted)
            pruneEmptyFolders(company_);
        return ok;
    }

    // Writes the folder entries the moves changed through to the disk.
    bool flush() const
    {
        std::set<std::string> folders;
        for (const RestoreJournal::Move &m : journal_.moves) {
            for (const std::string &path : {target(m.name), staged(m.name), kept(m.name)}) {
                const std::string folder = parentOf(path);
                if (DirectoryExists(folder))
                    folders.insert(folder);
            }
        }
        if (DirectoryExists(company_))
            folders.insert(company_);
        bool ok = true;
        for (auto it = folders.rbegin(); it != folders.rend(); ++it)
            ok = FlushDirectory(*it) && ok;
        return ok;
    }

    bool mark(RestoreJournal::Stage stage) const
    {
        try {
            writeAndFlush(join(staging_, kJournal), RestoreJournalMark(stage), true);
            return true;
        } catch (const std::exception &) {
            return false;
        }
    }

    // The staged and kept files first, the journal last: a crash on the way
    // leaves either the marked journal or nothing worth keeping.
    bool removeStaging(const Hook &hook) const
    {
        bool ok = DirectoryDeleteTree(join(staging_, kNewFolder));
        ok = DirectoryDeleteTree(join(staging_, kKeptFolder)) && ok;
        ok = FlushDirectory(staging_) && ok;
        if (!ok)
            return false;
        hook(CommitPoint::Emptied, journal_.moves.size());
        FileDelete(join(staging_, kJournalNext));
        return FileDelete(join(staging_, kJournal)) && DirectoryDelete(staging_);
    }

    // Whether every move lands inside the company folder, and the company
    // folder is no link to another place (outside the data folder, the data
    // folder itself, another company); throws ERestoreLeavesFolder otherwise.
    void checkInside(const std::string &dataFolder) const
    {
        if (PathIsLink(company_) || !PathLiesInside(company_, dataFolder))
            throw ERestoreLeavesFolder(journal_.company, ERestoreLeavesFolder::CompanyFolder);
        for (const RestoreJournal::Move &m : journal_.moves) {
            const std::string to = target(m.name);
            // A file where a folder of the name must be blocks the move.
            for (std::size_t end = m.name.find('\\'); end != std::string::npos; end = m.name.find('\\', end + 1)) {
                const std::string part = m.name.substr(0, end);
                if (PathExists(target(part)) && !DirectoryExists(target(part)))
                    throw ERestoreMoveFailed(m.name, osErrorFileExists, ERestoreMoveFailed::FileInTheWay, part);
            }
            if (PathLiesInside(parentOf(to), company_) && PathLiesInside(to, company_))
                continue;
            // The name is a plain one; what leads out is a link on its way.
            for (std::size_t end = 0; end != std::string::npos;) {
                end = m.name.find('\\', end + 1);
                const std::string part = m.name.substr(0, end);
                if (PathIsLink(target(part)))
                    throw ERestoreLeavesFolder(part, ERestoreLeavesFolder::LinkInCompany);
            }
            throw ERestoreLeavesFolder(m.name, ERestoreLeavesFolder::UnsafeName);
        }
    }

private:
    std::string staging_;
    std::string company_;
    RestoreJournal journal_;
};

void writeJournal(const std::string &staging, const RestoreJournal &journal)
{
    const std::string next = join(staging, kJournalNext);
    writeAndFlush(next, FormatRestoreJournal(journal), false);
    require(FileRename(next, join(staging, kJournal)));
    require(FlushDirectory(staging));
}

void noHook(CommitPoint, std::size_t) {}

// One staging folder of a process that has ended; nothing when it held
// nothing worth a word.
std::optional<SettledRestore> settle(const std::string &dataFolder, const std::string &staging)
{
    SettledRestore result;
    result.stagingFolder = staging;
    const JournalFile file = readJournal(join(staging, kJournal));
    if (file.missing) {
        // Killed before the first journal was in place, or after the last
        // step removed it: either way nothing is left to keep.
        if (holdsFiles(staging, {kJournalNext}))
            return result;
        DirectoryDeleteTree(staging);
        return std::nullopt;
    }
    const std::optional<RestoreJournal> journal = file.bytes ? ParseRestoreJournal(*file.bytes) : std::nullopt;
    if (!journal)
        return result;
    Commit commit(dataFolder, staging, *journal);
    result.companyFolder = commit.companyFolder();

    switch (journal->stage) {
    case RestoreJournal::Stage::Extracting:
        // Kept-aside files cannot exist before the moves are journalled.
        if (holdsFiles(join(staging, kKeptFolder)))
            return result;
        commit.removeStaging(noHook);
        result.outcome = SettledRestore::Undone;
        return result;
    case RestoreJournal::Stage::Done:
        commit.removeStaging(noHook);
        result.outcome = SettledRestore::Finished;
        return result;
    case RestoreJournal::Stage::Undone:
        commit.removeStaging(noHook);
        result.outcome = SettledRestore::Undone;
        return result;
    case RestoreJournal::Stage::Moving: break;
    }

    try {
        commit.checkInside(dataFolder);
    } catch (const ERestoreLeavesFolder &) {
        return result;  // not a journal this program wrote: touch nothing
    }
    try {
        commit.place(noHook);
        if (!commit.flush())
            RaiseLastOSError();
        if (commit.mark(RestoreJournal::Stage::Done)) {
            commit.removeStaging(noHook);
        }
        result.outcome = SettledRestore::Finished;
        return result;
    } catch (const std::exception &) {
    }
    if (commit.takeBack() && commit.flush() && commit.mark(RestoreJournal::Stage::Undone)) {
        commit.removeStaging(noHook);
        result.outcome = SettledRestore::Undone;
    } else {
        result.outcome = SettledRestore::Stuck;
    }
    return result;
}

}  // namespace

ERestoreLeavesFolder::ERestoreLeavesFolder(const std::string &name, Kind kind)
    : Exception((kind == CompanyFolder ? "Company folder \"" : "Restored file \"") + name +
                "\" would lie outside its folder"),
      name_(name), kind_(kind)
{
}

StagedRestore::StagedRestore(const std::string &dataFolder, const std::string &company)
    : dataFolder_(dataFolder), company_(company)
{
    if (!IsSafeCompanyFolderName(company))
        throw ERestoreLeavesFolder(company, ERestoreLeavesFolder::CompanyFolder);
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%s%u-", kStagingPrefix, static_cast<unsigned>(CurrentProcessId()));
    require(CreateUniqueDirectory(dataFolder, prefix, staging_));
    liveKey_ = liveStagingFolders().add(staging_);
    extraction_ = join(staging_, kNewFolder);
    try {
        FileSetAttributes(staging_, faHidden);  // the leading dot hides it only outside Windows
        require(ForceDirectories(extraction_));
        RestoreJournal journal;
        journal.company = company;
        journal.companyExisted = DirectoryExists(join(dataFolder, company));
        writeJournal(staging_, journal);
        // So that the staging folder itself is found after a crash.
        require(FlushDirectory(dataFolder));
    } catch (...) {
        DirectoryDeleteTree(staging_);
        liveStagingFolders().remove(liveKey_);
        throw;
    }
}

StagedRestore::~StagedRestore()
{
    // A folder kept for lack of a clean end is the next lock holder's to settle.
    if (!keep_)
        DirectoryDeleteTree(staging_);
    liveStagingFolders().remove(liveKey_);
}

std::string StagedRestore::stagedPath(const std::string &name) const
{
    if (!IsSafeNameInCompany(name))
        return {};
    const std::string path = join(extraction_, localName(name));
    if (!PathLiesInside(parentOf(path), extraction_) || !PathLiesInside(path, extraction_))
        return {};
    return path;
}

void StagedRestore::commit()
{
    const Commit::Hook hook = [this](CommitPoint point, std::size_t n) {
        if (onCommitPoint)
            onCommitPoint(point, n);
    };

    std::vector<std::string> files, folders;
    walk(extraction_, "", files, folders);
    std::vector<std::string> paths;
    for (const std::string &name : files)
        paths.push_back(join(extraction_, localName(name)));
    require(FileFlushAll(paths));
    for (const std::string &folder : folders)
        require(FlushDirectory(folder));
    require(FlushDirectory(extraction_));
    hook(CommitPoint::Flushed, 0);

    RestoreJournal journal;
    journal.company = company_;
    journal.stage = RestoreJournal::Stage::Moving;
    journal.companyExisted = DirectoryExists(join(dataFolder_, company_));
    for (const std::string &name : files)
        journal.moves.push_back({name, PathExists(join(join(dataFolder_, company_), localName(name)))});
    Commit commit(dataFolder_, staging_, journal);
    commit.checkInside(dataFolder_);
    writeJournal(staging_, journal);
    hook(CommitPoint::JournalWritten, 0);

    try {
        commit.place(hook);
        if (!commit.flush())
            RaiseLastOSError();
        hook(CommitPoint::AllPlaced, files.size());
    } catch (...) {
        // Undone and marked so, or else left for the next start to settle.
        keep_ = !(commit.takeBack() && commit.flush() && commit.mark(RestoreJournal::Stage::Undone) &&
                  commit.removeStaging(hook));
        throw;
    }
    // The files are in place whatever follows; a journal that cannot be
    // marked is settled (finished again) at the next start.
    if (!commit.mark(RestoreJournal::Stage::Done)) {
        keep_ = true;
        return;
    }
    hook(CommitPoint::MarkedDone, files.size());
    commit.removeStaging(hook);
}

std::vector<SettledRestore> SettleInterruptedRestores(const std::string &dataFolder, AbandonedBy abandoned)
{
    std::vector<SettledRestore> out;
    const std::string folder = FindPathIgnoringCase(dataFolder);
    if (folder.empty() || !DirectoryExists(folder))
        return out;
    std::vector<std::string> candidates;
    FileSearch search;
    SearchEntry e;
    if (search.First(join(folder, std::string(kStagingPrefix) + "*"), e)) {
        do {
            if (e.attributes & faDirectory)
                candidates.push_back(e.name);
        } while (search.Next(e));
    }
    search.Close();
    std::sort(candidates.begin(), candidates.end());
    for (const std::string &name : candidates) {
        const std::optional<std::uint32_t> pid = stagingProcessId(name);
        if (!pid)
            continue;
        if (abandoned == AbandonedBy::EndedProcess && (*pid == CurrentProcessId() || ProcessIsAlive(*pid)))
            continue;
        const std::string staging = join(folder, name);
        if (liveStagingFolders().contains(staging))
            continue;
        // A link under our name is not our folder.
        if (ResolvePath(staging) != join(ResolvePath(folder), name))
            continue;
        if (std::optional<SettledRestore> settled = settle(folder, staging))
            out.push_back(*settled);
    }
    return out;
}

}  // namespace qv
