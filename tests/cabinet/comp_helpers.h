// Small helpers shared by the component and interoperability tests.
#pragma once

#include "cabinet/CabSTComps.h"
#include "platform/errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "CoreTest.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace cabtest {

// A fresh folder under the temporary folder, removed with everything in it.
using TempDir = qv::test::ScratchDir;

// A path as the components give it back: with the system's delimiter (the
// tests write "dir / \"out/A.CAB\"", which Windows takes but normalises).
inline std::string native(std::string path)
{
    std::replace(path.begin(), path.end(), '/', qv::PathDelim);
    return path;
}

// The codes the system gives for the failures the tests provoke: errno on
// POSIX, GetLastError's on Windows.
#ifdef _WIN32
constexpr int kErrNoFile = 2;            // ERROR_FILE_NOT_FOUND
constexpr int kErrNoFolder = 3;          // ERROR_PATH_NOT_FOUND
constexpr int kErrExists = 80;           // ERROR_FILE_EXISTS
constexpr int kErrIsFolder = 5;          // ERROR_ACCESS_DENIED: a file to be made where a folder is
constexpr int kErrReadOnlyHandle = 5;    // ERROR_ACCESS_DENIED: a write through a handle opened to read
constexpr int kErrNegativeSeek = 131;    // ERROR_NEGATIVE_SEEK
#else
constexpr int kErrNoFile = ENOENT;
constexpr int kErrNoFolder = ENOENT;
constexpr int kErrExists = EEXIST;
constexpr int kErrIsFolder = EISDIR;
constexpr int kErrReadOnlyHandle = EBADF;
constexpr int kErrNegativeSeek = EINVAL;
#endif

// The system's text for a code as a cabinet error carries it: without its
// trailing full stops and spaces (Windows ends its texts with one).
inline std::string cabSystemText(int code)
{
    std::string text = qv::SysErrorMessage(code);
    while (!text.empty() && (text.back() == '.' || text.back() == ' '))
        text.pop_back();
    return text;
}

// The line a cabinet error gives the system's failure: "TEXT [0x0005]."
inline std::string cabSystemLine(int code)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(code));
    return cabSystemText(code) + " [0x" + hex + "].";
}

inline void writeFile(const std::string &path, const std::string &data) { qv::test::WriteBytes(path, data); }
inline std::string readFile(const std::string &path) { return qv::test::ReadBytes(path); }

// Deterministic bytes: text-like when compressible, else noise.
inline std::string makeData(std::size_t size, std::uint32_t seed, bool compressible = true)
{
    std::string out;
    out.reserve(size);
    std::uint32_t x = seed * 2654435761u + 1;
    static const char *words[] = {"KONTO ", "WINIEN ", "MA ", "FAKTURA ", "2005-03-03 ", "PLN ", "VAT ", "\r\n"};
    while (out.size() < size) {
        x = x * 1664525u + 1013904223u;
        if (compressible)
            out += words[(x >> 24) % 8];
        else
            out += static_cast<char>(x >> 24);
    }
    out.resize(size);
    return out;
}

struct RunResult {
    int status = -1;
    std::string output;
};

// Runs a command line through the system's shell (sh, or cmd on Windows)
// with its error output joined to its output.
inline RunResult run(const std::string &command)
{
    RunResult r;
#ifdef _WIN32
    r.output = qv::test::RunCaptured(command, r.status);
    return r;
#else
    FILE *p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.output.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
#endif
}

// QV_BINARY_DIR when the test runner passes it; otherwise the build tree
// this test executable lives in (build/tests/cabinet/test_cabinet).
inline std::string qvcabPath()
{
#ifdef _WIN32
    // The build tree as Windows sees it: beside this program.
    return qv::ExpandFileName(qv::ExtractFilePath(qv::test::ThisProgramPath()) + "..\\..\\tools\\qvcab\\qvcab.exe");
#else
    if (const char *bin = std::getenv("QV_BINARY_DIR"))
        return std::string(bin) + "/tools/qvcab/qvcab";
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "qvcab";
    self[n] = 0;
    return qv::ExpandFileName(qv::ExtractFilePath(self) + "../../tools/qvcab/qvcab");
#endif
}

// The reference cabinets written by other compressors: in $QV_TESTDATA/cab
// when that is set, otherwise in ../shared/testdata/cab beside the source
// tree; empty when they are not there.
inline std::string referenceCabinets()
{
    std::string dir;
    if (const char *data = std::getenv("QV_TESTDATA"); data && *data) {
        dir = std::string(data) + "/cab";
    } else {
        const char *source = std::getenv("QV_SOURCE_DIR");
        dir = std::string(source ? source : QV_SOURCE_DIR) + "/../shared/testdata/cab";
    }
    return qv::FileExists(dir + "/expected.json") ? qv::ExpandFileName(dir) : std::string();
}
inline constexpr const char *kNoReferenceCabinets =
    "reference cabinets not found ($QV_TESTDATA/cab, or ../shared/testdata/cab beside the source tree)";

// The Linux tools (cabextract, gcab, bsdtar, 7zz) the interoperability tests
// check against; never there on Windows.
inline bool haveTool(const std::string &name)
{
    return !qv::test::kWindows && run("command -v " + name + " >/dev/null").status == 0;
}

// Why a check with one of those tools cannot run here; empty when it can.
inline std::string toolAbsent(const std::string &name)
{
    if (qv::test::kWindows)
        return name + " is a Linux tool: that check runs in the Linux build";
    return haveTool(name) ? std::string() : name + " is not installed";
}

// One argument for run()'s shell.
inline std::string quote(const std::string &s)
{
#ifdef _WIN32
    return "\"" + s + "\"";  // names never hold a double quote there
#else
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
#endif
}

// File entries of a cabinet read straight from its bytes, independent of
// the reader under test.
struct RawEntry {
    std::string name;
    std::uint32_t size = 0;
    std::uint16_t folder = 0, date = 0, time = 0, attribs = 0;
};

struct RawCabinet {
    std::uint16_t folders = 0, files = 0, flags = 0, setID = 0, iCabinet = 0;
    std::uint32_t cbCabinet = 0;
    std::vector<RawEntry> entries;
};

inline std::uint16_t le16(const std::string &b, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b.at(at)) |
                                      (static_cast<unsigned char>(b.at(at + 1)) << 8));
}
inline std::uint32_t le32(const std::string &b, std::size_t at)
{
    return le16(b, at) | (static_cast<std::uint32_t>(le16(b, at + 2)) << 16);
}

inline RawCabinet parseCabinet(const std::string &path)
{
    const std::string b = readFile(path);
    RawCabinet c;
    if (b.size() < 36 || b.compare(0, 4, "MSCF") != 0)
        throw std::runtime_error("not a cabinet: " + path);
    c.cbCabinet = le32(b, 8);
    c.folders = le16(b, 26);
    c.files = le16(b, 28);
    c.flags = le16(b, 30);
    c.setID = le16(b, 32);
    c.iCabinet = le16(b, 34);
    std::size_t at = le32(b, 16);
    for (unsigned i = 0; i < c.files; ++i) {
        RawEntry e;
        e.size = le32(b, at);
        e.folder = le16(b, at + 8);
        e.date = le16(b, at + 10);
        e.time = le16(b, at + 12);
        e.attribs = le16(b, at + 14);
        const std::size_t end = b.find('\0', at + 16);
        e.name = b.substr(at + 16, end - at - 16);
        at = end + 1;
        c.entries.push_back(e);
    }
    return c;
}

// Names of every file below a folder, relative, with "/" between parts.
inline std::vector<std::string> listTree(const std::string &root) { return qv::test::ListTree(root); }

// Two folders hold the same names with the same bytes ("diff -r").
inline bool sameTree(const std::string &a, const std::string &b)
{
    const std::vector<std::string> names = listTree(a);
    if (names != listTree(b))
        return false;
    for (std::string name : names) {
        std::replace(name.begin(), name.end(), '/', qv::PathDelim);
        const std::string x = a + qv::PathDelim + name, y = b + qv::PathDelim + name;
        if (qv::FileExists(x) != qv::FileExists(y) || (qv::FileExists(x) && readFile(x) != readFile(y)))
            return false;
    }
    return true;
}

inline std::uint16_t dosDate(int y, int m, int d) { return static_cast<std::uint16_t>(((y - 1980) << 9) | (m << 5) | d); }
inline std::uint16_t dosTime(int h, int mi, int s) { return static_cast<std::uint16_t>((h << 11) | (mi << 5) | (s / 2)); }

// Sets a file's last-write time to a local date and time.
inline void setLocalMTime(const std::string &path, int y, int m, int d, int h, int mi, int s)
{
    // Days since 1970-01-01 of the civil date (proleptic Gregorian).
    const std::int64_t yy = y - (m <= 2), era = (yy >= 0 ? yy : yy - 399) / 400;
    const std::int64_t yoe = yy - era * 400, doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    const qv::FileTime local = qv::FileTimeFromUnix(days * 86400 + h * 3600 + mi * 60 + s);
    qv::FileTime utc = 0;
    const qv::FileHandle f = qv::FileOpen(path, qv::FileAccess::Write, qv::FileShare::ReadWrite, qv::FileDisposition::OpenExisting);
    const bool ok = f != qv::InvalidFileHandle && qv::LocalFileTimeToFileTime(local, utc) && qv::FileSetTimes(f, nullptr, nullptr, &utc);
    if (f != qv::InvalidFileHandle)
        qv::FileClose(f);
    if (!ok)
        throw std::runtime_error("cannot set the time of " + path);
}

// A file's last-write time on the local clock face: year, month, day, hour,
// minute, second (to two seconds, as DOS keeps it); empty when unreadable.
inline std::vector<int> localMTime(const std::string &path)
{
    const qv::FileHandle h = qv::FileOpen(path, qv::FileAccess::Read, qv::FileShare::ReadWrite, qv::FileDisposition::OpenExisting);
    qv::FileTime written = 0, local = 0;
    const bool known = h != qv::InvalidFileHandle && qv::FileGetTimes(h, nullptr, nullptr, &written);
    if (h != qv::InvalidFileHandle)
        qv::FileClose(h);
    std::uint16_t d = 0, t = 0;
    if (!known || !qv::FileTimeToLocalFileTime(written, local) || !qv::FileTimeToDosDateTime(local, d, t))
        return {};
    return {1980 + (d >> 9), (d >> 5) & 15, d & 31, t >> 11, (t >> 5) & 63, (t & 31) * 2};
}

inline bool dosAttributesKept(const std::string &folder)
{
    const std::string probe = folder + qv::PathDelim + ".probe_attr";
    writeFile(probe, "x");
    const std::string plain = folder + qv::PathDelim + "probe_attr";
    writeFile(plain, "x");
    const bool ok = qv::FileSetAttributes(plain, qv::faHidden) && (qv::FileGetAttributes(plain) & qv::faHidden);
    qv::FileDelete(probe);
    qv::FileSetAttributes(plain, 0);
    qv::FileDelete(plain);
    return ok;
}

}  // namespace cabtest
