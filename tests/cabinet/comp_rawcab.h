// Hand-built stored cabinets, for layouts our writer never makes: hostile
// names, no entries, sets that point back at themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cabtest {

struct RawFile {
    std::string name;  // bytes as stored
    std::string data;
    std::uint16_t attribs = 0x20;
    std::uint16_t date = 0x3263, time = 0x7000;
};

struct RawSet {
    std::string prevCab, prevDisk, nextCab, nextDisk;
    std::uint16_t setID = 0, iCabinet = 0;
};

inline std::uint32_t cabChecksum(const unsigned char *p, std::size_t n, std::uint32_t seed)
{
    std::uint32_t c = seed;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4)
        c ^= static_cast<std::uint32_t>(p[i]) | (static_cast<std::uint32_t>(p[i + 1]) << 8) |
             (static_cast<std::uint32_t>(p[i + 2]) << 16) | (static_cast<std::uint32_t>(p[i + 3]) << 24);
    std::uint32_t tail = 0;
    switch (n - i) {
    case 3: tail = (static_cast<std::uint32_t>(p[i]) << 16) | (static_cast<std::uint32_t>(p[i + 1]) << 8) | p[i + 2]; break;
    case 2: tail = (static_cast<std::uint32_t>(p[i]) << 8) | p[i + 1]; break;
    case 1: tail = p[i]; break;
    default: break;
    }
    return c ^ tail;
}

// One stored folder; every file in it; data blocks of 32768 bytes.
inline std::string buildRawCabinet(const std::vector<RawFile> &files, const RawSet &set = {})
{
    auto put16 = [](std::string &s, std::uint32_t v) {
        s += static_cast<char>(v & 0xFF);
        s += static_cast<char>((v >> 8) & 0xFF);
    };
    auto put32 = [&](std::string &s, std::uint32_t v) {
        put16(s, v & 0xFFFF);
        put16(s, v >> 16);
    };
    std::string stream;
    for (const RawFile &f : files)
        stream += f.data;
    std::string names;
    if (!set.prevCab.empty()) {
        names += set.prevCab + '\0';
        names += set.prevDisk + '\0';
    }
    if (!set.nextCab.empty()) {
        names += set.nextCab + '\0';
        names += set.nextDisk + '\0';
    }
    const std::uint32_t headerSize = 36 + static_cast<std::uint32_t>(names.size());
    const std::uint32_t folders = files.empty() ? 0 : 1;
    std::string fileTable;
    std::uint32_t offset = 0;
    for (const RawFile &f : files) {
        put32(fileTable, static_cast<std::uint32_t>(f.data.size()));
        put32(fileTable, offset);
        put16(fileTable, 0);
        put16(fileTable, f.date);
        put16(fileTable, f.time);
        put16(fileTable, f.attribs);
        fileTable += f.name + '\0';
        offset += static_cast<std::uint32_t>(f.data.size());
    }
    const std::uint32_t coffFiles = headerSize + folders * 8;
    const std::uint32_t dataStart = coffFiles + static_cast<std::uint32_t>(fileTable.size());
    std::string blocks;
    std::uint32_t blockCount = 0;
    for (std::size_t at = 0; at < stream.size(); at += 32768) {
        const std::string chunk = stream.substr(at, 32768);
        std::string head;
        put16(head, static_cast<std::uint32_t>(chunk.size()));
        put16(head, static_cast<std::uint32_t>(chunk.size()));
        std::uint32_t c = cabChecksum(reinterpret_cast<const unsigned char *>(chunk.data()), chunk.size(), 0);
        c = cabChecksum(reinterpret_cast<const unsigned char *>(head.data()), 4, c);
        put32(blocks, c);
        blocks += head + chunk;
        ++blockCount;
    }
    std::string out = "MSCF";
    put32(out, 0);
    put32(out, dataStart + static_cast<std::uint32_t>(blocks.size()));
    put32(out, 0);
    put32(out, coffFiles);
    put32(out, 0);
    out += '\x03';
    out += '\x01';
    put16(out, folders);
    put16(out, static_cast<std::uint32_t>(files.size()));
    put16(out, (set.prevCab.empty() ? 0 : 1) | (set.nextCab.empty() ? 0 : 2));
    put16(out, set.setID);
    put16(out, set.iCabinet);
    out += names;
    if (folders) {
        put32(out, dataStart);
        put16(out, blockCount);
        put16(out, 0);
    }
    return out + fileTable + blocks;
}

}  // namespace cabtest
