// The reader against damaged and hostile cabinets, FDIIsCabinet, and aborts
// from the application's notifications.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "cabinet/cabformat.h"
#include "engine_memfs.h"

using namespace cab;
using namespace enginetest;
using detail::get16;
using detail::get32;
using detail::put16;
using detail::put32;

namespace {

struct Sample {
    MemFs fs;
    Bytes cab;
    std::vector<std::pair<std::string, Bytes>> files;
};

// A small cabinet: two folders (MSZIP with two blocks, stored), three files.
void makeSample(Sample &s)
{
    s.files = {{"A.TXT", pattern(40000, 1, true)}, {"B.BIN", pattern(300, 2, false)}, {"C.TXT", pattern(50, 3, true)}};
    std::vector<Source> src;
    for (std::size_t i = 0; i < s.files.size(); ++i) {
        s.fs.put("src/" + s.files[i].first, s.files[i].second);
        src.push_back(Source{"src/" + s.files[i].first, s.files[i].first, false,
                             i == 2 ? tcompTYPE_NONE : tcompTYPE_MSZIP});
    }
    ASSERT_TRUE(writeCabinet(s.fs, makeCcab("s.cab"), src).ok);
    s.cab = s.fs.get("out/s.cab");
}

ReadResult readBytes(MemFs &fs, const Bytes &cab)
{
    fs.put("out/h.cab", cab);
    return readCabinet(fs, "h.cab");
}

bool allowedReaderError(int e)
{
    return e == FDIERROR_NOT_A_CABINET || e == FDIERROR_UNKNOWN_CABINET_VERSION || e == FDIERROR_CORRUPT_CABINET ||
           e == FDIERROR_BAD_COMPR_TYPE || e == FDIERROR_MDI_FAIL;
}

TEST(Hostile, EveryTruncationFailsCleanly)
{
    Sample s;
    makeSample(s);
    for (std::size_t len = 0; len < s.cab.size(); ++len) {
        MemFs fs;
        const ReadResult r = readBytes(fs, Bytes(s.cab.begin(), s.cab.begin() + static_cast<long>(len)));
        EXPECT_FALSE(r.ok) << "length " << len;
        EXPECT_TRUE(r.erf.fError);
        EXPECT_TRUE(allowedReaderError(r.erf.erfOper)) << "length " << len << " error " << r.erf.erfOper;
        EXPECT_EQ(fs.openHandles(), 0u);
    }
}

TEST(Hostile, FlippedBytesNeverCrashAndDamagedDataIsCaught)
{
    Sample s;
    makeSample(s);
    const std::uint32_t dataStart = get32(&s.cab[36]);  // first folder's data
    for (std::size_t i = 0; i < s.cab.size(); ++i) {
        for (std::uint8_t mask : {0x01, 0x80, 0xFF}) {
            MemFs fs;
            Bytes b = s.cab;
            b[i] ^= mask;
            const ReadResult r = readBytes(fs, b);
            EXPECT_EQ(fs.openHandles(), 0u);
            if (!r.ok) {
                EXPECT_TRUE(allowedReaderError(r.erf.erfOper)) << i << " error " << r.erf.erfOper;
                continue;
            }
            // Every byte from the first data block on is under a checksum.
            EXPECT_LT(i, dataStart) << "damage at " << i << " went unnoticed";
        }
    }
}

TEST(Hostile, EachKindOfDamageGivesItsError)
{
    Sample s;
    makeSample(s);
    const std::uint32_t folder0 = 36;
    const std::uint32_t block0 = get32(&s.cab[folder0]);
    struct Damage {
        const char *what;
        std::function<void(Bytes &)> apply;
        int expected;
    };
    const std::vector<Damage> cases = {
        {"signature", [](Bytes &b) { b[0] = 'X'; }, FDIERROR_NOT_A_CABINET},
        {"version", [](Bytes &b) { b[24] = 2; }, FDIERROR_UNKNOWN_CABINET_VERSION},
        {"checksum", [&](Bytes &b) { b[block0] ^= 1; }, FDIERROR_CORRUPT_CABINET},
        {"LZX window of 22 bits", [&](Bytes &b) { put16(&b[folder0 + 6], TCOMPfromLZXWindow(22)); },
         FDIERROR_BAD_COMPR_TYPE},
        {"MSZIP data in an LZX folder", [&](Bytes &b) { put16(&b[folder0 + 6], TCOMPfromLZXWindow(21)); },
         FDIERROR_MDI_FAIL},
        {"Quantum folder", [&](Bytes &b) { put16(&b[folder0 + 6], tcompTYPE_QUANTUM); }, FDIERROR_BAD_COMPR_TYPE},
        {"coffFiles past end", [](Bytes &b) { put32(&b[16], 0x7FFFFF00); }, FDIERROR_CORRUPT_CABINET},
        {"folder table over files", [](Bytes &b) { put16(&b[26], 500); }, FDIERROR_CORRUPT_CABINET},
        {"folder start past end", [&](Bytes &b) { put32(&b[folder0], 0x10000000); }, FDIERROR_CORRUPT_CABINET},
        {"file in missing folder", [](Bytes &b) { put16(&b[get32(&b[16]) + 8], 7); }, FDIERROR_CORRUPT_CABINET},
        {"continued without link", [](Bytes &b) { put16(&b[get32(&b[16]) + 8], 0xFFFD); }, FDIERROR_CORRUPT_CABINET},
        {"file beyond its folder", [](Bytes &b) { put32(&b[get32(&b[16])], 900000); }, FDIERROR_CORRUPT_CABINET},
        {"file size over the limit", [](Bytes &b) { put32(&b[get32(&b[16])], 0x7FFF8001); }, FDIERROR_CORRUPT_CABINET},
        {"block over 32780 bytes",
         [&](Bytes &b) {
             put16(&b[block0 + 4], 40000);
             put32(&b[block0], 0);
         },
         FDIERROR_CORRUPT_CABINET},
        {"block expands past 32768",
         [&](Bytes &b) {
             put16(&b[block0 + 6], 32769);
             put32(&b[block0], 0);
         },
         FDIERROR_CORRUPT_CABINET},
        {"block claims fewer bytes",
         [&](Bytes &b) {
             put16(&b[block0 + 6], 1000);
             put32(&b[block0], 0);
         },
         FDIERROR_MDI_FAIL},
        {"cut block outside a set",
         [&](Bytes &b) {
             put16(&b[block0 + 6], 0);
             put32(&b[block0], 0);
         },
         FDIERROR_CORRUPT_CABINET},
        {"no CK",
         [&](Bytes &b) {
             b[block0 + 8] = 'X';
             put32(&b[block0], 0);
         },
         FDIERROR_MDI_FAIL},
        {"header reserve over 60000",
         [](Bytes &b) {
             b.insert(b.begin() + 36, {0x61, 0xEA, 0, 0});
             put16(&b[30], 4);
         },
         FDIERROR_CORRUPT_CABINET},
    };
    for (const Damage &d : cases) {
        MemFs fs;
        Bytes b = s.cab;
        d.apply(b);
        const ReadResult r = readBytes(fs, b);
        EXPECT_FALSE(r.ok) << d.what;
        EXPECT_EQ(r.erf.erfOper, d.expected) << d.what;
        EXPECT_EQ(fs.openHandles(), 0u) << d.what;
    }
}

TEST(Hostile, UnterminatedNamesAreCorrupt)
{
    Sample s;
    makeSample(s);
    // One entry whose name has no NUL: within 256 bytes, or before the end of the file.
    for (std::size_t letters : {300u, 40u}) {
        Bytes b = s.cab;
        const std::uint32_t files = get32(&b[16]);
        b.resize(files + 16);
        b.insert(b.end(), letters, 'Q');
        put16(&b[28], 1);
        put32(&b[8], static_cast<std::uint32_t>(b.size()));
        MemFs fs;
        const ReadResult r = readBytes(fs, b);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.erf.erfOper, FDIERROR_CORRUPT_CABINET);
        EXPECT_EQ(r.events.size(), 1u);  // CABINET_INFO only: no COPY_FILE with a made-up name
        EXPECT_EQ(fs.openHandles(), 0u);
    }
}

TEST(Hostile, ZeroChecksumIsNotChecked)
{
    Sample s;
    makeSample(s);
    Bytes b = s.cab;
    put32(&b[get32(&b[36])], 0);
    MemFs fs;
    const ReadResult r = readBytes(fs, b);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.files.at("A.TXT") == s.files[0].second);
}

TEST(IsCabinet, SummaryAndRefusals)
{
    Sample s;
    makeSample(s);
    auto check = [&](const Bytes &b, FDICABINETINFO &info, ERF &erf) {
        MemFs fs;
        fs.put("x", b);
        g_fs = &fs;
        HFDI h = FDICreate(fciAlloc, fciFree, fdiOpen, fdiRead, fdiWrite, fdiClose, fdiSeek, cpuUNKNOWN, &erf);
        const INT_PTR hf = fs.open("x", _O_RDONLY);
        const BOOL ok = FDIIsCabinet(h, hf, &info);
        fs.close(hf);
        FDIDestroy(h);
        EXPECT_EQ(fs.liveAllocs, 0u);
        return ok;
    };
    FDICABINETINFO info{};
    ERF erf{};
    ASSERT_TRUE(check(s.cab, info, erf));
    EXPECT_EQ(info.cbCabinet, static_cast<LONG>(s.cab.size()));
    EXPECT_EQ(info.cFolders, 2);
    EXPECT_EQ(info.cFiles, 3);
    EXPECT_FALSE(info.fReserve);
    EXPECT_FALSE(info.hasprev);
    EXPECT_FALSE(info.hasnext);

    EXPECT_FALSE(check(Bytes(s.cab.begin(), s.cab.begin() + 35), info, erf));
    EXPECT_EQ(erf.erfOper, FDIERROR_NOT_A_CABINET);
    EXPECT_FALSE(check(pattern(500, 9, false), info, erf));
    EXPECT_EQ(erf.erfOper, FDIERROR_NOT_A_CABINET);
    Bytes v = s.cab;
    v[25] = 2;
    EXPECT_FALSE(check(v, info, erf));
    EXPECT_EQ(erf.erfOper, FDIERROR_UNKNOWN_CABINET_VERSION);
    EXPECT_TRUE(erf.fError);
    Bytes r = s.cab;
    put16(&r[30], 4);  // reserve flag, then a file too short for the reserve fields
    r.resize(38);
    EXPECT_FALSE(check(r, info, erf));
    EXPECT_EQ(erf.erfOper, FDIERROR_NOT_A_CABINET);
}

TEST(ReaderAbort, EveryNotificationCanStopTheCopy)
{
    Sample s;
    makeSample(s);
    // Notifications: info, copy A, close A, copy B, close B, copy C, close C.
    for (int at = 0; at < 7; ++at) {
        MemFs fs;
        fs.put("out/s.cab", s.cab);
        ReadOptions o;
        o.abortAt = at;
        const ReadResult r = readCabinet(fs, "s.cab", o);
        EXPECT_FALSE(r.ok) << at;
        EXPECT_EQ(r.erf.erfOper, FDIERROR_USER_ABORT) << at;
        // Files whose CLOSE_FILE_INFO returned normally.
        EXPECT_EQ(r.files.size(), static_cast<std::size_t>(at == 0 ? 0 : (at - 1) / 2)) << at;
        EXPECT_EQ(fs.openHandles(), 0u);
    }
}

TEST(ReaderTarget, WriteFailureIsATargetError)
{
    Sample s;
    makeSample(s);
    MemFs fs;
    fs.put("out/s.cab", s.cab);
    fs.failIf = [](const std::string &op, const std::string &name) { return op == "write" && name == "x/B.BIN"; };
    const ReadResult r = readCabinet(fs, "s.cab");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_TARGET_FILE);
    EXPECT_EQ(r.files.size(), 1u);
}

TEST(ReaderSkip, SkippingAndOutOfOrderEntriesStillDecode)
{
    Sample s;
    makeSample(s);
    // Swap the first two entries: B (later in folder 0) now comes before A,
    // so the folder has to be decoded again from its start.
    Bytes b = s.cab;
    const std::uint32_t at = get32(&b[16]);
    const std::uint32_t lenA = 16 + 6, lenB = 16 + 6;
    Bytes a(b.begin() + at, b.begin() + at + lenA), bb(b.begin() + at + lenA, b.begin() + at + lenA + lenB);
    std::copy(bb.begin(), bb.end(), b.begin() + at);
    std::copy(a.begin(), a.end(), b.begin() + at + lenB);
    MemFs fs;
    fs.put("out/s.cab", b);
    const ReadResult r = readCabinet(fs, "s.cab");
    ASSERT_TRUE(r.ok) << r.erf.erfOper;
    for (const auto &[name, data] : s.files)
        EXPECT_TRUE(r.files.at(name) == data) << name;
    ReadOptions o;
    o.skip = [](const std::string &n) { return n == "A.TXT"; };
    const ReadResult r2 = readCabinet(fs, "s.cab", o);
    ASSERT_TRUE(r2.ok);
    EXPECT_EQ(r2.files.size(), 2u);
    EXPECT_TRUE(r2.files.at("B.BIN") == s.files[1].second);
}

}  // namespace

namespace {

TEST(ReaderAlloc, OutOfMemoryIsReportedAsSuch)
{
    Sample s;
    makeSample(s);
    MemFs fs;
    fs.put("out/s.cab", s.cab);
    // The inflate window is the one 32 KiB allocation made while decoding.
    fs.failIf = [](const std::string &op, const std::string &size) { return op == "alloc" && size == "32768"; };
    ReadResult r = readCabinet(fs, "s.cab");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_ALLOC_FAIL);
    fs.failIf = [](const std::string &op, const std::string &) { return op == "alloc"; };
    r = readCabinet(fs, "s.cab");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_ALLOC_FAIL);
    EXPECT_TRUE(r.erf.fError);
    fs.failIf = nullptr;
    EXPECT_EQ(fs.liveAllocs, 0u);
    EXPECT_EQ(fs.openHandles(), 0u);
}

}  // namespace
