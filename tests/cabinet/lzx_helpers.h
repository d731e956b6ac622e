// Ledger-like data for the LZX and spanned-set tests, the outside readers
// they are checked with, and a raw view of a cabinet's folders and blocks.
#pragma once

#include "comp_helpers.h"

#include "DbaseTable.h"

#include <utility>

namespace cabtest {

// A dBase table of the demo ledger (95-byte records).
inline std::string ledgerTable(int records, unsigned seed) { return qv::demo::DbaseTable(records, seed); }

// A register as the ledger prints it: date, account, counterparty, amount.
inline std::string ledgerText(std::size_t size, std::uint32_t seed)
{
    static const char *const names[] = {"KOWALSKI JAN",     "NOWAK ANNA", "ZAKLAD USLUG SP. Z O.O.", "PHU MAREK",
                                        "HURTOWNIA WISLA", "BIURO RACHUNKOWE"};
    std::uint32_t x = seed * 2654435761u + 7;
    auto next = [&x](std::uint32_t range) {
        x = x * 1664525u + 1013904223u;
        return (x >> 8) % range;
    };
    std::string out;
    char line[128];
    while (out.size() < size) {
        std::snprintf(line, sizeof line, "2005-%02u-%02u  %03u-%02u-%03u  %-30s %9u.%02u PLN\r\n", 1 + next(12),
                      1 + next(28), 100 + next(800), next(100), next(1000), names[next(6)], next(1000000), next(100));
        out += line;
    }
    out.resize(size);
    return out;
}

// The input on which 7-Zip (26.02) gave back wrong bytes with success: 2^W +
// 7232 letters a-p, then 20 bytes copied from 2^W - 3 back, then 100 letters;
// at W = 15, 40,120 bytes. The letters are random where copies come from
// (the first 16 KiB), and run through the alphabet over and over beyond, which
// costs the encoder little in the larger windows.
inline std::string farMatchInput(int windowBits)
{
    const std::size_t window = std::size_t{1} << windowBits;
    std::string out;
    std::uint32_t x = 2005u + static_cast<std::uint32_t>(windowBits);
    auto letters = [&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            x = x * 1664525u + 1013904223u;
            out += static_cast<char>('a' + ((x >> 20) & 15));
        }
    };
    letters(16384);
    while (out.size() < window + 7232)
        out += static_cast<char>('a' + out.size() % 16);
    out += out.substr(out.size() - (window - 3), 20);
    letters(100);
    return out;
}

using Files = std::vector<std::pair<std::string, std::string>>;  // name inside the cabinet, with "\", and data

// Extracts a cabinet (the first of a set) with one of the outside readers
// into dest; the result's output explains a failure.
// Ours is this library's reader component, in process; the others are
// independent readers run as black boxes.
enum class Reader { Ours, Cabextract, SevenZip, Bsdtar };

inline const char *readerTool(Reader r)
{
    switch (r) {
    case Reader::Ours: return "qvcab";
    case Reader::Cabextract: return "cabextract";
    case Reader::SevenZip: return "7zz";
    case Reader::Bsdtar: return "bsdtar";
    }
    return "?";
}

inline RunResult extractWith(Reader r, const std::string &cabinet, const std::string &dest)
{
    qv::ForceDirectories(dest);
    switch (r) {
    case Reader::Ours:
        try {
            qv::TSTCabReader reader;
            reader.ExtractFiles(cabinet, dest, false);
            return {0, ""};
        } catch (const std::exception &e) {
            return {1, e.what()};
        }
    case Reader::Cabextract: return run("cabextract -q -d " + quote(dest) + " " + quote(cabinet));
    case Reader::SevenZip: return run("7zz x -y -bd -o" + quote(dest) + " " + quote(cabinet));
    case Reader::Bsdtar: return run("cd " + quote(dest) + " && LC_ALL=C.UTF-8 bsdtar -xf " + quote(cabinet));
    }
    return {};
}

// Names of the files that did not come back byte for byte ("" when all did).
inline std::string differences(const Files &files, const std::string &root)
{
    std::string bad;
    for (const auto &[name, data] : files) {
        std::string path = name;
        std::replace(path.begin(), path.end(), '\\', '/');
        const std::string got = readFile(root + "/" + path);
        if (got != data)
            bad += name + " (" + std::to_string(got.size()) + " bytes of " + std::to_string(data.size()) + ") ";
    }
    return bad;
}

struct RawBlock {
    std::uint16_t cbData = 0, cbUncomp = 0;
};
struct RawFolder {
    std::uint32_t dataStart = 0;
    std::uint16_t type = 0;
    std::vector<RawBlock> blocks;
};
struct RawLayout {
    std::uint16_t flags = 0;
    std::vector<RawFolder> folders;
    std::vector<std::uint16_t> fileFolders;  // iFolder of each entry, continuation codes included
};

inline RawLayout parseLayout(const std::string &path)
{
    const std::string b = readFile(path);
    RawLayout l;
    l.flags = le16(b, 30);
    std::size_t pos = 36;
    std::uint32_t folderReserve = 0, dataReserve = 0;
    if (l.flags & 4) {
        folderReserve = static_cast<unsigned char>(b.at(38));
        dataReserve = static_cast<unsigned char>(b.at(39));
        pos += 4 + le16(b, 36);
    }
    const int names = ((l.flags & 1) ? 2 : 0) + ((l.flags & 2) ? 2 : 0);
    for (int i = 0; i < names; ++i)
        pos = b.find('\0', pos) + 1;
    for (unsigned i = 0; i < le16(b, 26); ++i, pos += 8 + folderReserve) {
        RawFolder f;
        f.dataStart = le32(b, pos);
        f.type = le16(b, pos + 6);
        std::size_t at = f.dataStart;
        for (unsigned k = 0; k < le16(b, pos + 4); ++k) {
            f.blocks.push_back(RawBlock{le16(b, at + 4), le16(b, at + 6)});
            at += 8 + dataReserve + le16(b, at + 4);
        }
        l.folders.push_back(f);
    }
    for (const RawEntry &e : parseCabinet(path).entries)
        l.fileFolders.push_back(e.folder);
    return l;
}

}  // namespace cabtest
