// Writes the fuzzer's starting corpus into a folder: small cabinets from our
// writer; LZX cabinets built bit by bit with the tests' stream writer (every
// block type, E8 on); and the reference cabinets of other compressors (LZX,
// Quantum), read from the test data folder when it is there. LZX seeds carry
// checksum 0 (not checked), so that mutations reach the decoder.
#include "cabinet/CabSTComps.h"
#include "cabinet/cabformat.h"
#include "lzx_streamwriter.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

using namespace qv;

namespace {

void put(const std::string &path, const std::string &data) { std::ofstream(path, std::ios::binary) << data; }

std::string text(std::size_t n, unsigned seed)
{
    static const char *w[] = {"KONTO ", "WINIEN ", "MA ", "2005 ", "PLN\r\n"};
    std::string s;
    while (s.size() < n)
        s += w[(seed = seed * 1103515245u + 12345u) >> 28 & 3];
    s.resize(n);
    return s;
}

void cabinet(const std::string &out, const std::string &src, TSTCabCompressionType type, std::uint32_t reserve,
             std::uint32_t maxCab, std::size_t size, TSTCabLzxLevel lzxWindow = 15)
{
    TSTCabWriter w;
    w.SetCompressionType(type);
    w.SetCompressionLzxLevel(lzxWindow);
    w.ReservePerCabinetSize = reserve;
    w.ReservePerFolderSize = reserve ? 3 : 0;
    w.ReservePerDataSize = reserve ? 5 : 0;
    w.CabinetSizeThreshold = maxCab;
    w.Open(out);
    put(src + "/a", text(size, 1));
    put(src + "/e", "");
    put(src + "/\xC5\xBB.txt", "pl");
    w.AddFile(src + "/a", "DIR\\A.DBF");
    w.AddFile(src + "/e", "EMPTY");
    w.FlushFolder();
    w.AddFile(src + "/\xC5\xBB.txt", "\xC5\xBB.txt", true);
    w.Close(true);
}

// One LZX folder holding one file, a data block per frame.
std::string lzxCabinet(const lzxtest::Stream &s)
{
    const lzxtest::Encoded e = lzxtest::StreamWriter{}.encode(s);
    std::uint32_t size = 0;
    std::string blocks;
    for (const lzxtest::Frame &f : e.frames) {
        std::uint8_t head[8] = {};
        cab::detail::put16(head + 4, static_cast<std::uint32_t>(f.data.size()));
        cab::detail::put16(head + 6, f.size);
        blocks.append(reinterpret_cast<const char *>(head), sizeof head);
        blocks.append(f.data.begin(), f.data.end());
        size += f.size;
    }
    std::uint8_t h[36 + 8 + 16] = {'M', 'S', 'C', 'F'};
    const std::uint32_t coffFiles = 36 + 8;
    const std::uint32_t dataStart = coffFiles + 16 + 6;
    cab::detail::put32(h + 8, dataStart + static_cast<std::uint32_t>(blocks.size()));
    cab::detail::put32(h + 16, coffFiles);
    h[24] = 3;
    h[25] = 1;
    cab::detail::put16(h + 26, 1);
    cab::detail::put16(h + 28, 1);
    cab::detail::put32(h + 36, dataStart);
    cab::detail::put16(h + 40, static_cast<std::uint32_t>(e.frames.size()));
    cab::detail::put16(h + 42, cab::TCOMPfromLZXWindow(s.windowBits));
    cab::detail::put32(h + 44, size);
    cab::detail::put16(h + 58, 0x20);
    return std::string(reinterpret_cast<const char *>(h), sizeof h) + std::string("F.BIN\0", 6) + blocks;
}

void lzxSeeds(const std::string &dir)
{
    using namespace lzxtest;
    lzxtest::TokenSource src(1, lzx::maxOffset(15));
    Stream s;
    s.windowBits = 15;
    s.e8 = true;
    s.e8Size = 12000000;
    Block v, a, u;
    v.tokens = src.take(3000);
    v.runs = true;
    u.type = lzx::kBlockUncompressed;
    u.raw.assign(333, 0xE8);
    src.skip(333);
    a.type = lzx::kBlockAligned;
    a.tokens = src.take(36000);  // into a second frame
    s.blocks = {v, u, a};
    put(dir + "/lzx_blocks.cab", lzxCabinet(s));
    Stream small;
    small.windowBits = 21;
    v.tokens = lzxtest::TokenSource(2, lzx::maxOffset(21)).take(200);
    v.runs = false;
    small.blocks = {v};
    put(dir + "/lzx_small.cab", lzxCabinet(small));
}

// A set packed as the fuzz target reads one ("QVSET", a count, each part
// with its length), its parts named s.cab, s1.cab, ...
void putSet(const std::string &path, const std::vector<std::string> &parts)
{
    std::string b = "QVSET";
    b += static_cast<char>(parts.size());
    for (const std::string &p : parts) {
        std::uint8_t n[4];
        cab::detail::put32(n, static_cast<std::uint32_t>(p.size()));
        b.append(reinterpret_cast<const char *>(n), 4);
        b += p;
    }
    put(path, b);
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Sets from our writer (a file across every part, stored and LZX), and a set
// laid out by hand with whole files in each part and links back.
void setSeeds(const std::string &dir, const std::string &src)
{
    for (const TSTCabCompressionType type : {cctNone, cctLzx}) {
        const std::string sub = src + "/set";
        ForceDirectories(sub);
        cabinet(sub + "/s.cab", src, type, 0, type == cctLzx ? 1000 : 1500, type == cctLzx ? 9000 : 4000, 15);
        std::vector<std::string> parts;
        for (int k = 0; FileExists(sub + (k == 0 ? std::string("/s.cab") : "/s" + std::to_string(k) + ".cab")); ++k) {
            const std::string part = sub + (k == 0 ? std::string("/s.cab") : "/s" + std::to_string(k) + ".cab");
            parts.push_back(slurp(part));
            FileDelete(part);
        }
        ::rmdir(sub.c_str());
        putSet(dir + (type == cctNone ? "/set_stored.bin" : "/set_lzx.bin"), parts);
    }
    std::vector<std::string> parts;
    for (int k = 0; k < 3; ++k) {
        TSTCabWriter w;
        w.SetCompressionType(cctNone);
        w.Open(src + "/hand.cab");
        put(src + "/a", text(100 + 50 * k, k));
        w.AddFile(src + "/a", "P" + std::to_string(k) + ".TXT");
        w.Close(true);
        std::string b = slurp(src + "/hand.cab");
        FileDelete(src + "/hand.cab");
        // Links put in by hand: the names before and after, and the place in the set.
        std::string names;
        std::uint16_t flags = 0;
        if (k > 0) {
            names += (k == 1 ? std::string("s.cab") : "s" + std::to_string(k - 1) + ".cab") + '\0' + "d" + '\0';
            flags |= 1;
        }
        if (k < 2) {
            names += "s" + std::to_string(k + 1) + ".cab" + '\0' + "d" + '\0';
            flags |= 2;
        }
        auto *p = reinterpret_cast<std::uint8_t *>(b.data());
        const auto grow = static_cast<std::uint32_t>(names.size());
        cab::detail::put32(p + 8, cab::detail::get32(p + 8) + grow);
        cab::detail::put32(p + 16, cab::detail::get32(p + 16) + grow);
        cab::detail::put16(p + 30, flags);
        cab::detail::put16(p + 32, 99);
        cab::detail::put16(p + 34, static_cast<std::uint32_t>(k));
        cab::detail::put32(p + 36, cab::detail::get32(p + 36) + grow);  // the one folder's data
        b.insert(36, names);
        parts.push_back(b);
    }
    putSet(dir + "/set_hand.bin", parts);
}

// The reference cabinets as they are, and again without checksums.
void referenceSeeds(const std::string &dir, const std::string &refs)
{
    std::error_code ec;
    for (const auto &item : std::filesystem::directory_iterator(refs, ec)) {
        if (item.path().extension() != ".cab")
            continue;
        std::ifstream in(item.path(), std::ios::binary);
        std::string b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string name = item.path().stem().string();
        put(dir + "/ref_" + name + ".cab", b);
        if (b.size() < 36)
            continue;
        auto *p = reinterpret_cast<std::uint8_t *>(b.data());
        for (std::uint32_t i = 0, folders = cab::detail::get16(p + 26); i < folders && 36 + 8 * i + 8 <= b.size(); ++i) {
            std::uint32_t at = cab::detail::get32(p + 36 + 8 * i);
            for (std::uint32_t k = cab::detail::get16(p + 36 + 8 * i + 4); k > 0 && at + 8 <= b.size(); --k) {
                cab::detail::put32(p + at, 0);
                at += 8 + cab::detail::get16(p + at + 4);
            }
        }
        put(dir + "/ref_" + name + "_nosum.cab", b);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: fuzz_cab_seeds FOLDER [REFERENCE-CABINETS]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::string src = dir + "/.src";
    ForceDirectories(src);
    try {
        cabinet(dir + "/stored.cab", src, cctNone, 0, 0, 300);
        cabinet(dir + "/mszip.cab", src, cctMsZip, 0, 0, 40000);
        cabinet(dir + "/reserve.cab", src, cctMsZip, 16, 0, 500);
        cabinet(dir + "/span.cab", src, cctNone, 0, 1200, 3000);
        // What our own LZX encoder writes: matches, repeats, several frames.
        cabinet(dir + "/lzx15.cab", src, cctLzx, 0, 0, 70000, 15);
        cabinet(dir + "/lzx21.cab", src, cctLzx, 8, 0, 3000, 21);
        cabinet(dir + "/lzxspan.cab", src, cctLzx, 0, 2000, 9000, 16);
        lzxSeeds(dir);
        setSeeds(dir, src);
        if (argc == 3)
            referenceSeeds(dir, argv[2]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "fuzz_cab_seeds: %s\n", e.what());
        return 1;
    }
    FileDelete(src + "/a");
    FileDelete(src + "/e");
    FileDelete(src + "/\xC5\xBB.txt");
    ::rmdir(src.c_str());
    return 0;
}
