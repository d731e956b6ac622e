// The staged commit and the settling of restores a crash cut short, on real
// folders: a commit that fails half way puts everything back, a running
// instance's work is never touched, and a damaged or hostile staging folder
// changes nothing.
#include "archive/RestoreJournal.h"
#include "archive/StagedRestore.h"
#include "platform/files.h"
#include "platform/process.h"

#include "CoreTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace qv;
using qv::test::MakeSymbolicLink;
using qv::test::ReadBytes;

namespace {

constexpr const char *kNoLinks = "the system makes no symbolic links here (Wine, or Windows without the privilege)";

// A path below root from a relative one written with "/".
std::string join(const std::string &root, std::string rel)
{
    std::replace(rel.begin(), rel.end(), '/', PathDelim);
    return root + PathDelim + rel;
}

class Folder {
public:
    std::string operator/(const std::string &rel) const { return join(dir_.path(), rel); }
    const std::string &path() const { return dir_.path(); }

private:
    qv::test::ScratchDir dir_{"qvstaged"};
};

void put(const std::string &path, const std::string &data) { qv::test::WriteBytes(path, data); }

// Every file below a folder with its contents, by relative name with "/"
// between parts; folders as "<dir>".
std::map<std::string, std::string> tree(const std::string &root)
{
    std::map<std::string, std::string> out;
    for (const std::string &rel : qv::test::ListTree(root)) {
        const std::string full = join(root, rel);
        out[rel] = DirectoryExists(full) ? "<dir>" : ReadBytes(full);
    }
    return out;
}

std::string stagingName(std::uint32_t pid) { return ".qvodtworz-" + std::to_string(pid) + "-TEST"; }

RestoreJournal movingJournal(const std::vector<RestoreJournal::Move> &moves)
{
    RestoreJournal j;
    j.company = "FIRMA1";
    j.stage = RestoreJournal::Stage::Moving;
    j.moves = moves;
    return j;
}

struct CommitFixture : ::testing::Test {
    Folder data;
    std::string company() const { return data / "FIRMA1"; }
    std::string company(const std::string &rel) const { return join(company(), rel); }
    std::string staging(std::uint32_t pid) const { return data / stagingName(pid); }
    std::string staging(std::uint32_t pid, const std::string &rel) const { return join(staging(pid), rel); }
};

}  // namespace

TEST_F(CommitFixture, CommitPlacesEveryFileAndLeavesNothingBehind)
{
    put(company("A.DBF"), "stary A");
    put(company("B.DBF"), "tylko stary B");
    std::string stagingFolder;
    std::vector<std::pair<CommitPoint, std::size_t>> points;
    {
        StagedRestore restore(data.path(), "FIRMA1");
        stagingFolder = restore.stagingFolder();
        EXPECT_EQ(ExtractFileName(stagingFolder).rfind(".qvodtworz-" + std::to_string(CurrentProcessId()) + "-", 0),
                  0u);
        put(restore.stagedPath("A.DBF"), "nowy A");
        put(restore.stagedPath("C.DBF"), "nowy C");
        put(restore.stagedPath("SUB\\D.DBF"), "nowy D");
        restore.onCommitPoint = [&](CommitPoint p, std::size_t n) { points.emplace_back(p, n); };
        restore.commit();
    }
    EXPECT_EQ(tree(company()), (std::map<std::string, std::string>{{"A.DBF", "nowy A"},
                                                                   {"B.DBF", "tylko stary B"},
                                                                   {"C.DBF", "nowy C"},
                                                                   {"SUB", "<dir>"},
                                                                   {"SUB/D.DBF", "nowy D"}}));
    EXPECT_FALSE(PathExists(stagingFolder));
    EXPECT_EQ(tree(data.path()).count(ExtractFileName(stagingFolder)), 0u);
    ASSERT_GE(points.size(), 7u);
    EXPECT_EQ(points.front(), std::make_pair(CommitPoint::Flushed, std::size_t{0}));
    EXPECT_EQ(points[1], std::make_pair(CommitPoint::JournalWritten, std::size_t{0}));
    EXPECT_EQ(std::count_if(points.begin(), points.end(), [](auto p) { return p.first == CommitPoint::Placed; }), 3);
    EXPECT_EQ(std::count_if(points.begin(), points.end(), [](auto p) { return p.first == CommitPoint::KeptAside; }),
              1);
    EXPECT_EQ(points.back().first, CommitPoint::Emptied);
}

TEST_F(CommitFixture, CommitThatFailsHalfWayPutsEveryFileBack)
{
    put(company("A.DBF"), "stary A");
    put(company("C.DBF"), "stary C");
    put(company("B.DBF/W_SRODKU"), "folder, nie plik");  // nothing can replace it
    const auto before = tree(company());
    std::string stagingFolder;
    {
        StagedRestore restore(data.path(), "FIRMA1");
        stagingFolder = restore.stagingFolder();
        for (const char *name : {"A.DBF", "B.DBF", "C.DBF", "NOWY.DBF"})
            put(restore.stagedPath(name), std::string("nowy ") + name);
        EXPECT_THROW(restore.commit(), EOSError);
    }
    EXPECT_EQ(tree(company()), before);
    EXPECT_FALSE(PathExists(stagingFolder));
}

TEST_F(CommitFixture, StagedNamesNeverLeaveTheExtractionFolder)
{
    StagedRestore restore(data.path(), "FIRMA1");
    EXPECT_EQ(restore.stagedPath("SUB\\X.DBF"), join(restore.extractionFolder(), "SUB/X.DBF"));
    for (const char *name : {"..\\XFIRMA1\\K.DBF", "..", "", "\\abs", "/abs", "C:\\x", "A\\..\\..\\x", "A/../../x"})
        EXPECT_EQ(restore.stagedPath(name), "") << name;
    EXPECT_THROW(StagedRestore(data.path(), ".."), ERestoreLeavesFolder);
}

TEST_F(CommitFixture, StagedNamesNeverLeadThroughALink)
{
    StagedRestore restore(data.path(), "FIRMA1");
    if (!MakeSymbolicLink(data.path(), join(restore.extractionFolder(), "LINK"), true))
        GTEST_SKIP() << kNoLinks;
    EXPECT_EQ(restore.stagedPath("LINK\\X.DBF"), "") << "through a link leading out";
}

TEST_F(CommitFixture, AFolderLinkedOutOfTheCompanyStopsTheCommitBeforeAnythingMoves)
{
    Folder outside;
    put(company("A.DBF"), "stary A");
    if (!MakeSymbolicLink(outside.path(), company("SUB"), true))
        GTEST_SKIP() << kNoLinks;
    StagedRestore restore(data.path(), "FIRMA1");
    put(restore.stagedPath("A.DBF"), "nowy A");
    put(restore.stagedPath("SUB\\X.DBF"), "wrogi");
    try {
        restore.commit();
        FAIL() << "committed through a link";
    } catch (const ERestoreLeavesFolder &e) {
        EXPECT_EQ(e.name(), "SUB") << "the link is named, not the file behind it";
        EXPECT_EQ(e.kind(), ERestoreLeavesFolder::LinkInCompany);
    }
    EXPECT_EQ(tree(outside.path()), (std::map<std::string, std::string>{}));
    EXPECT_EQ(ReadBytes(company("A.DBF")), "stary A");
}

// Under the data folder's lock, a number in a name proves nothing (it is
// this process's own in every container, and reused after a power cut):
// everything but this process's live restores is settled. Without the lock,
// only the folders of ended processes are. Foreign names never count.
TEST_F(CommitFixture, WhatCountsAsAbandonedWithAndWithoutTheLock)
{
    // Live processes: this one, another that waits, and on POSIX the parent
    // and init.
    const qv::test::RunningProcess other;
    std::vector<std::uint32_t> live = {CurrentProcessId(), other.pid()};
#ifndef _WIN32
    live.push_back(static_cast<std::uint32_t>(::getppid()));
    live.push_back(1u);
#endif
    for (AbandonedBy abandoned : {AbandonedBy::EndedProcess, AbandonedBy::AnyoneElse}) {
        for (std::uint32_t pid : live) {
            put(staging(pid, "dziennik"), FormatRestoreJournal(movingJournal({{"A.DBF", false}})));
            put(staging(pid, "nowe/A.DBF"), "przerwany");
        }
        put(data / ".qvodtworz-bez-numeru/nowe/A.DBF", "obce");
        put(data / ".qvodtworz-0-X/nowe/A.DBF", "obce");
        StagedRestore running(data.path(), "FIRMA2");
        put(running.stagedPath("R.DBF"), "w toku");
        const auto before = tree(data.path());

        const std::vector<SettledRestore> settled = SettleInterruptedRestores(data.path(), abandoned);

        if (abandoned == AbandonedBy::EndedProcess) {
            EXPECT_TRUE(settled.empty());
            EXPECT_EQ(tree(data.path()), before);
        } else {
            ASSERT_EQ(settled.size(), live.size()) << "ours and every other live process's";
            for (const SettledRestore &s : settled)
                EXPECT_EQ(s.outcome, SettledRestore::Finished);
            EXPECT_EQ(tree(company()).at("A.DBF"), "przerwany");
            for (std::uint32_t pid : live)
                EXPECT_FALSE(PathExists(staging(pid)));
        }
        EXPECT_EQ(tree(running.extractionFolder()).at("R.DBF"), "w toku") << "a live restore of ours";
        EXPECT_TRUE(PathExists(data / ".qvodtworz-bez-numeru/nowe/A.DBF"));
        EXPECT_TRUE(PathExists(data / ".qvodtworz-0-X/nowe/A.DBF"));
        DirectoryDeleteTree(company());
    }
}

namespace {

// A staging folder of a dead process as a crash or damage left it, and what
// settling it must do.
struct LeftOver {
    const char *why;
    std::map<std::string, std::string> staging;  // relative path -> bytes
    std::map<std::string, std::string> company;  // before
    bool reported;
    SettledRestore::Outcome outcome;
    bool stagingRemains;
    std::map<std::string, std::string> companyAfter;  // empty: unchanged
};

void PrintTo(const LeftOver &l, std::ostream *os) { *os << l.why; }

const std::string kGood = FormatRestoreJournal(movingJournal({{"A.DBF", true}, {"B.DBF", false}}));

std::vector<LeftOver> leftOvers()
{
    RestoreJournal extracting;
    extracting.company = "FIRMA1";
    const std::map<std::string, std::string> old = {{"A.DBF", "stary A"}, {"Z.DBF", "stary Z"}};
    return {
        {"empty, killed before the first journal", {{"nowe/", ""}}, old, false, {}, false, {}},
        {"only the journal being written", {{"dziennik.nowy", "qvArch"}}, old, false, {}, false, {}},
        {"files but no journal", {{"nowe/A.DBF", "nowy A"}}, old, true, SettledRestore::LeftAlone, true, {}},
        {"a journal of garbage", {{"dziennik", "\x01\x02garbage"}, {"nowe/A.DBF", "nowy A"}}, old, true,
         SettledRestore::LeftAlone, true, {}},
        {"a journal cut short", {{"dziennik", kGood.substr(0, kGood.size() - 5)}, {"zastapione/A.DBF", "stary A"}},
         {{"Z.DBF", "stary Z"}}, true, SettledRestore::LeftAlone, true, {}},
        {"extracting, with files kept aside", {{"dziennik", FormatRestoreJournal(extracting)},
                                               {"zastapione/A.DBF", "?"}}, old, true, SettledRestore::LeftAlone, true,
         {}},
        {"extracting", {{"dziennik", FormatRestoreJournal(extracting)}, {"nowe/A.DBF", "nowy A"}}, old, true,
         SettledRestore::Undone, false, {}},
        {"undone and marked so", {{"dziennik", kGood + RestoreJournalMark(RestoreJournal::Stage::Undone)},
                                  {"nowe/A.DBF", "nowy A"}, {"nowe/B.DBF", "nowy B"}}, old, true,
         SettledRestore::Undone, false, {}},
        {"half way: A aside, B in", {{"dziennik", kGood}, {"nowe/A.DBF", "nowy A"}, {"zastapione/A.DBF", "stary A"}},
         {{"B.DBF", "nowy B"}, {"Z.DBF", "stary Z"}}, true, SettledRestore::Finished, false,
         {{"A.DBF", "nowy A"}, {"B.DBF", "nowy B"}, {"Z.DBF", "stary Z"}}},
        // B cannot be placed (a folder stands there): A comes back out.
        {"a finish that fails is undone",
         {{"dziennik", kGood}, {"zastapione/A.DBF", "stary A"}, {"nowe/B.DBF", "nowy B"}},
         {{"A.DBF", "nowy A"}, {"B.DBF/W", "folder"}, {"Z.DBF", "stary Z"}}, true, SettledRestore::Undone, false,
         {{"A.DBF", "stary A"}, {"B.DBF", "<dir>"}, {"B.DBF/W", "folder"}, {"Z.DBF", "stary Z"}}},
        // Neither: B is blocked, and A's way back into the staging folder is blocked by a file.
        {"neither finished nor undone",
         {{"dziennik", FormatRestoreJournal(movingJournal({{"D\\A.DBF", false}, {"B.DBF", false}}))},
          {"nowe/D", "plik zamiast folderu"}, {"nowe/B.DBF", "nowy B"}},
         {{"D/A.DBF", "nowy A"}, {"B.DBF/W", "folder"}}, true, SettledRestore::Stuck, true, {}},
    };
}

class SettleLeftOver : public CommitFixture, public ::testing::WithParamInterface<LeftOver> {};

}  // namespace

TEST_P(SettleLeftOver, EndsWhollyOldOrWhollyNewOrChangesNothing)
{
    const LeftOver &l = GetParam();
    const std::uint32_t pid = qv::test::EndedProcessId();
    for (const auto &[rel, bytes] : l.company)
        put(company("") + rel, bytes);
    ForceDirectories(staging(pid));
    for (const auto &[rel, bytes] : l.staging) {
        if (rel.back() == '/')
            ForceDirectories(staging(pid, "") + rel);
        else
            put(staging(pid, "") + rel, bytes);
    }
    const auto companyBefore = tree(company());
    const auto stagingBefore = tree(staging(pid));

    const std::vector<SettledRestore> settled = SettleInterruptedRestores(data.path(), AbandonedBy::AnyoneElse);

    ASSERT_EQ(settled.size(), l.reported ? 1u : 0u);
    if (l.reported) {
        EXPECT_EQ(settled[0].outcome, l.outcome);
        EXPECT_EQ(settled[0].stagingFolder, staging(pid));
        if (l.outcome != SettledRestore::LeftAlone) {
            EXPECT_EQ(settled[0].companyFolder, company());
        }
    }
    EXPECT_EQ(tree(company()), l.companyAfter.empty() ? companyBefore : l.companyAfter);
    EXPECT_EQ(PathExists(staging(pid)), l.stagingRemains);
    if (l.stagingRemains && l.outcome == SettledRestore::LeftAlone) {
        EXPECT_EQ(tree(staging(pid)), stagingBefore) << "a damaged staging folder is left as it was";
    }
}

INSTANTIATE_TEST_SUITE_P(LeftOvers, SettleLeftOver, ::testing::ValuesIn(leftOvers()),
                         [](const ::testing::TestParamInfo<LeftOver> &info) {
                             std::string name;
                             for (const char *c = info.param.why; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

TEST_F(CommitFixture, AJournalLeadingOutOfTheCompanyChangesNothing)
{
    Folder outside;
    put(outside / "X.DBF", "poza");
    ASSERT_EQ(ForceDirectories(company()), true);
    if (!MakeSymbolicLink(outside.path(), company("SUB"), true))
        GTEST_SKIP() << kNoLinks;
    const std::uint32_t pid = qv::test::EndedProcessId();
    put(staging(pid, "dziennik"), FormatRestoreJournal(movingJournal({{"SUB\\X.DBF", false}})));
    put(staging(pid, "nowe/SUB/X.DBF"), "wrogi");

    const auto settled = SettleInterruptedRestores(data.path(), AbandonedBy::AnyoneElse);

    ASSERT_EQ(settled.size(), 1u);
    EXPECT_EQ(settled[0].outcome, SettledRestore::LeftAlone);
    EXPECT_EQ(tree(outside.path()), (std::map<std::string, std::string>{{"X.DBF", "poza"}}));
    EXPECT_TRUE(PathExists(staging(pid, "nowe/SUB/X.DBF")));
}
