// Small helpers shared by the component and interoperability tests.
#pragma once

#include "cabinet/CabSTComps.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cabtest {

// A fresh folder under the temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        std::string tmpl = qv::TempDirectory() + "qvcabtest.XXXXXX";
        char *p = ::mkdtemp(tmpl.data());
        if (!p)
            throw std::runtime_error("mkdtemp failed");
        path_ = p;
    }
    ~TempDir() { std::system(("chmod -R u+w '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'").c_str()); }
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &rel) const { return path_ + "/" + rel; }

private:
    std::string path_;
};

inline void writeFile(const std::string &path, const std::string &data)
{
    qv::ForceDirectories(qv::ExtractFilePath(path));
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!f)
        throw std::runtime_error("cannot write " + path);
}

inline std::string readFile(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return "<missing " + path + ">";
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

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

inline RunResult run(const std::string &command)
{
    RunResult r;
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
}

// QV_BINARY_DIR when the test runner passes it; otherwise the build tree
// this test executable lives in (build/tests/cabinet/test_cabinet).
inline std::string qvcabPath()
{
    if (const char *bin = std::getenv("QV_BINARY_DIR"))
        return std::string(bin) + "/tools/qvcab/qvcab";
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "qvcab";
    self[n] = 0;
    return qv::ExpandFileName(qv::ExtractFilePath(self) + "../../tools/qvcab/qvcab");
}

// The reference cabinets written by other compressors: beside the project
// as ../shared/testdata/cab, or in the shared folder of this machine; empty
// when neither is there.
inline std::string referenceCabinets()
{
    for (const std::string &dir : {std::string(QV_SOURCE_DIR) + "/../shared/testdata/cab",
                                  std::string("/work/shared/testdata/cab")})
        if (qv::FileExists(dir + "/expected.json"))
            return qv::ExpandFileName(dir);
    return {};
}

inline bool haveTool(const std::string &name) { return run("command -v " + name + " >/dev/null").status == 0; }

inline std::string quote(const std::string &s)
{
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
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
inline std::vector<std::string> listTree(const std::string &root)
{
    std::vector<std::string> out;
    const RunResult r = run("cd " + quote(root) + " && find . -mindepth 1 | sed 's|^\\./||' | LC_ALL=C sort");
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            out.push_back(line);
    return out;
}

inline std::uint16_t dosDate(int y, int m, int d) { return static_cast<std::uint16_t>(((y - 1980) << 9) | (m << 5) | d); }
inline std::uint16_t dosTime(int h, int mi, int s) { return static_cast<std::uint16_t>((h << 11) | (mi << 5) | (s / 2)); }

// Sets a file's last-write time to a local date and time.
inline void setLocalMTime(const std::string &path, int y, int m, int d, int h, int mi, int s)
{
    struct tm t = {};
    t.tm_year = y - 1900;
    t.tm_mon = m - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    t.tm_isdst = -1;
    const time_t when = ::mktime(&t);
    const std::string cmd = "touch -m -d @" + std::to_string(static_cast<long long>(when)) + " " + quote(path);
    if (std::system(cmd.c_str()) != 0)
        throw std::runtime_error("touch failed");
}

inline bool dosAttributesKept(const std::string &folder)
{
    const std::string probe = folder + "/.probe_attr";
    writeFile(probe, "x");
    const std::string plain = folder + "/probe_attr";
    writeFile(plain, "x");
    const bool ok = qv::FileSetAttributes(plain, qv::faHidden) && (qv::FileGetAttributes(plain) & qv::faHidden);
    qv::FileDelete(probe);
    qv::FileSetAttributes(plain, 0);
    qv::FileDelete(plain);
    return ok;
}

}  // namespace cabtest
