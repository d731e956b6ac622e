// The writer on several threads: the same cabinets, reports and failures as
// on one, whatever the number of threads.
#include <gtest/gtest.h>

#include <algorithm>

#include "cabinet/blockpool.h"
#include "engine_memfs.h"

using namespace cab;
using namespace enginetest;

namespace {

class Threads {
public:
    explicit Threads(int n) { detail::setWriterThreads(n); }
    ~Threads() { detail::setWriterThreads(0); }
};

struct Outcome {
    bool ok = false;
    int oper = 0;
    std::vector<std::string> events;
    std::vector<std::pair<ULONG, ULONG>> fileStatus;
    std::map<std::string, Bytes> cabinets;
};

// A folder of a ledger-like mix: many small files, a large table, a stretch
// that does not compress, and files that cross block boundaries.
std::vector<Source> ledger(MemFs &fs, TCOMP type, int folders)
{
    std::vector<Source> s;
    for (int f = 0; f < folders; ++f) {
        const std::string dir = "src/F" + std::to_string(f) + "/";
        auto add = [&](const std::string &name, Bytes data) {
            fs.put(dir + name, std::move(data));
            s.push_back(Source{dir + name, "F" + std::to_string(f) + "\\" + name, false, type});
        };
        add("TABLE.DBF", pattern(300000 + 12345 * f, 10 + f, true));
        for (int k = 0; k < 25; ++k)
            add("SMALL" + std::to_string(k) + ".DAT", pattern(k * 997 % 9000, 100 + k, k % 4 != 0));
        add("SCAN.BIN", pattern(90000, 50 + f, false));
        add("EMPTY.DAT", {});
        add("REPORT.TXT", pattern(140000, 70 + f, true));
        s.back().flushFolderAfter = true;
    }
    return s;
}

Outcome write(const std::vector<Source> &sources, MemFs fs, ULONG cabinetSize, WriterLog log = {})
{
    const WriterRun run = writeCabinet(fs, makeCcab("part0.cab", cabinetSize), sources, log);
    Outcome o;
    o.ok = run.ok;
    o.oper = run.erf.erfOper;
    o.events = run.log.events;
    o.fileStatus = run.log.fileStatus;
    for (const auto &[name, file] : fs.files)
        if (name.rfind("out/", 0) == 0)
            o.cabinets[name] = file->data;
    EXPECT_EQ(fs.openHandles(), 0u);
    EXPECT_EQ(fs.liveAllocs, 0u);
    g_fs = nullptr;
    return o;
}

void expectSame(const Outcome &one, const Outcome &many)
{
    EXPECT_EQ(many.ok, one.ok);
    EXPECT_EQ(many.oper, one.oper);
    EXPECT_EQ(many.events, one.events);
    EXPECT_EQ(many.fileStatus, one.fileStatus);
    ASSERT_EQ(many.cabinets.size(), one.cabinets.size());
    for (const auto &[name, bytes] : one.cabinets) {
        ASSERT_TRUE(many.cabinets.count(name)) << name;
        EXPECT_TRUE(many.cabinets.at(name) == bytes) << name << " differs";
    }
}

// Every whole block a call reads is reported before the call returns: at the
// start of each call, the bytes reported are those of the whole blocks of
// the files before it.
void expectBlocksReportedInTheirCall(const Outcome &o, const std::vector<Source> &sources, const MemFs &fs)
{
    std::uint64_t reported = 0, closedFolders = 0, inFolder = 0;
    std::size_t file = 0, next = 0;
    for (const std::string &e : o.events) {
        if (e == "file") {
            ASSERT_LT(file, o.fileStatus.size());
            reported += o.fileStatus[file++].second;
        } else if (e.rfind("add ", 0) == 0 || e == "flush") {
            EXPECT_EQ(reported, closedFolders + inFolder / 32768 * 32768) << "before " << e;
            if (e == "flush")
                break;
            ASSERT_LT(next, sources.size());
            const Source &s = sources[next++];
            inFolder += fs.files.at(s.path)->data.size();
            if (s.flushFolderAfter) {
                closedFolders += inFolder;
                inFolder = 0;
            }
        }
    }
    EXPECT_EQ(next, sources.size());
}

struct Shape {
    const char *label;
    TCOMP type;
    int folders;
    ULONG cabinetSize;  // 0: one cabinet
};

class SameOutput : public ::testing::TestWithParam<Shape> {};

TEST_P(SameOutput, CabinetsAndReportsDoNotDependOnTheThreadCount)
{
    const Shape c = GetParam();
    MemFs fs;
    const std::vector<Source> sources = ledger(fs, c.type, c.folders);
    Outcome one;
    {
        Threads t(1);
        one = write(sources, fs, c.cabinetSize);
    }
    ASSERT_TRUE(one.ok);
    ASSERT_FALSE(one.cabinets.empty());
    if (c.cabinetSize != 0) {
        ASSERT_GT(one.cabinets.size(), 2u) << "the set is meant to span";
    } else {
        expectBlocksReportedInTheirCall(one, sources, fs);
        // The single-threaded cabinet is right to begin with.
        MemFs back = fs;
        back.files["out/part0.cab"] = std::make_shared<MemFile>(MemFile{one.cabinets.at("out/part0.cab")});
        const ReadResult r = readCabinet(back, "part0.cab");
        ASSERT_TRUE(r.ok);
        for (const Source &s : sources) {
            ASSERT_TRUE(r.files.count(s.name)) << s.name;
            EXPECT_TRUE(r.files.at(s.name) == fs.get(s.path)) << s.name;
        }
    }
    for (int n : {2, 3, 4}) {
        SCOPED_TRACE(n);
        Threads t(n);
        expectSame(one, write(sources, fs, c.cabinetSize));
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, SameOutput,
                         ::testing::Values(Shape{"mszip", tcompTYPE_MSZIP, 3, 0},
                                           Shape{"mszip-spanned", tcompTYPE_MSZIP, 3, 150000},
                                           Shape{"lzx", tcompLZX_WINDOW_HI | tcompTYPE_LZX, 2, 0},
                                           Shape{"lzx-spanned", tcompLZX_WINDOW_LO | tcompTYPE_LZX, 2, 120000},
                                           Shape{"stored-spanned", tcompTYPE_NONE, 1, 200000}),
                         [](const auto &info) {
                             std::string s = info.param.label;
                             std::replace(s.begin(), s.end(), '-', '_');
                             return s;
                         });

// A stop or a failure at any block ends the same call, with the same reports
// before it, as on one thread; nothing is left behind. MSZIP blocks are
// compressed side by side, LZX frames in two halves on two threads.
class ThreadedFailures : public ::testing::TestWithParam<TCOMP> {};

TEST_P(ThreadedFailures, StopAtAnyBlockEndsTheSameCall)
{
    MemFs fs;
    const std::vector<Source> sources = ledger(fs, GetParam(), 2);
    for (int at = 1; at <= 40; at += 3) {
        SCOPED_TRACE(at);
        WriterLog log;
        log.abortFileAt = at;
        Outcome one;
        {
            Threads t(1);
            one = write(sources, fs, 150000, log);
        }
        ASSERT_FALSE(one.ok);
        EXPECT_EQ(one.oper, FCIERR_USER_ABORT);
        Threads t(4);
        expectSame(one, write(sources, fs, 150000, log));
    }
}

TEST_P(ThreadedFailures, FailingWriteOrReadAtAnyPointEndsTheSameCall)
{
    MemFs fs;
    const std::vector<Source> sources = ledger(fs, GetParam(), 2);
    for (const char *op : {"write", "read"}) {
        for (int at = 3; at <= 90; at += 9) {
            SCOPED_TRACE(std::string(op) + " " + std::to_string(at));
            auto run = [&](int threads) {
                Threads t(threads);
                MemFs copy = fs;
                int calls = 0;
                const std::string which = op;
                // Reads of the sources, writes of the work files: a full disk.
                copy.failIf = [&calls, at, which](const std::string &o, const std::string &name) {
                    const bool watched = o == which && name.rfind(which == "read" ? "src/" : "tmp/", 0) == 0;
                    return watched && ++calls == at;
                };
                return write(sources, copy, 0);
            };
            const Outcome one = run(1);
            ASSERT_FALSE(one.ok);
            EXPECT_EQ(one.oper, std::string(op) == "read" ? FCIERR_READ_SRC : FCIERR_TEMP_FILE);
            expectSame(one, run(4));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, ThreadedFailures,
                         ::testing::Values(tcompTYPE_MSZIP, TCOMP{tcompLZX_WINDOW_LO | tcompTYPE_LZX}),
                         [](const auto &info) { return std::string(info.param == tcompTYPE_MSZIP ? "Mszip" : "Lzx"); });

TEST(ThreadCount, FollowsTheSettingWithinBounds)
{
    {
        Threads t(3);
        EXPECT_EQ(detail::writerThreads(), 3);
    }
    {
        Threads t(64);
        EXPECT_EQ(detail::writerThreads(), detail::BlockPool::kMaxThreads);
    }
    const int automatic = detail::writerThreads();
    EXPECT_GE(automatic, 1);
    EXPECT_LE(automatic, detail::BlockPool::kMaxThreads);
}

}  // namespace
