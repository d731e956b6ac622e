// The reader decodes a folder's blocks ahead of the files being written, on
// a thread of its own: hand-made MSZIP folders with blocks of uneven sizes
// (as other writers make them), damage in blocks read ahead, and files
// listed out of folder order.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "cabinet/cabformat.h"
#include "comp_rawcab.h"
#include "engine_memfs.h"

using namespace cab;
using namespace enginetest;

namespace {

struct Entry {
    std::string name;
    std::uint32_t offset, size;
};

struct Folder {
    Bytes stream;                     // the folder's uncompressed bytes
    std::vector<std::uint32_t> cuts;  // uncompressed size of each block
    std::vector<Entry> files;
};

void put16(Bytes &b, std::uint32_t v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes &b, std::uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// Each block a raw deflate stream after "CK", with the 32 KiB of output
// before it as the dictionary.
Bytes mszipBlock(const Bytes &stream, std::uint32_t at, std::uint32_t n)
{
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    const std::uint32_t dict = at < 32768 ? at : 32768;
    if (dict > 0) {
        EXPECT_EQ(deflateSetDictionary(&zs, stream.data() + at - dict, dict), Z_OK);
    }
    Bytes out(2 + n + n / 100 + 64);
    out[0] = 'C';
    out[1] = 'K';
    zs.next_in = const_cast<Bytef *>(stream.data() + at);
    zs.avail_in = n;
    zs.next_out = out.data() + 2;
    zs.avail_out = static_cast<uInt>(out.size() - 2);
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(out.size() - zs.avail_out);
    deflateEnd(&zs);
    EXPECT_LE(out.size(), detail::kMaxMszipBlock);
    return out;
}

// One MSZIP folder. Returns the cabinet and, in blockAt, where each data
// block's bytes begin in it.
Bytes buildCabinet(const Folder &f, std::vector<std::uint32_t> *blockAt = nullptr)
{
    Bytes table;
    for (const Entry &e : f.files) {
        put32(table, e.size);
        put32(table, e.offset);
        put16(table, 0);
        put16(table, 0x3263);
        put16(table, 0x7000);
        put16(table, 0x20);
        table.insert(table.end(), e.name.begin(), e.name.end());
        table.push_back(0);
    }
    const std::uint32_t coffFiles = 36 + 8;
    const std::uint32_t dataStart = coffFiles + static_cast<std::uint32_t>(table.size());
    Bytes blocks;
    std::uint32_t at = 0;
    for (std::uint32_t n : f.cuts) {
        const Bytes data = mszipBlock(f.stream, at, n);
        std::uint8_t head[4] = {static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(data.size() >> 8),
                                static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)};
        put32(blocks, cabtest::cabChecksum(head, 4, cabtest::cabChecksum(data.data(), data.size(), 0)));
        put16(blocks, static_cast<std::uint32_t>(data.size()));
        put16(blocks, n);
        if (blockAt)
            blockAt->push_back(dataStart + static_cast<std::uint32_t>(blocks.size()));
        blocks.insert(blocks.end(), data.begin(), data.end());
        at += n;
    }
    Bytes cab = {'M', 'S', 'C', 'F'};
    put32(cab, 0);
    put32(cab, dataStart + static_cast<std::uint32_t>(blocks.size()));
    put32(cab, 0);
    put32(cab, coffFiles);
    put32(cab, 0);
    cab.push_back(3);
    cab.push_back(1);
    put16(cab, 1);  // folders
    put16(cab, static_cast<std::uint32_t>(f.files.size()));
    put16(cab, 0);  // flags
    put16(cab, 0x1234);
    put16(cab, 0);
    put32(cab, dataStart);
    put16(cab, static_cast<std::uint32_t>(f.cuts.size()));
    put16(cab, tcompTYPE_MSZIP);
    cab.insert(cab.end(), table.begin(), table.end());
    cab.insert(cab.end(), blocks.begin(), blocks.end());
    return cab;
}

// Ledger-like text: compresses, and refers far back.
Folder unevenFolder()
{
    Folder f;
    f.cuts = {1000, 32768, 5000, 32768, 32768, 700, 32768, 32768, 17, 32768, 32768, 32768, 9000};
    std::uint32_t total = 0;
    for (std::uint32_t n : f.cuts)
        total += n;
    const Bytes text = pattern(total, 7, true);
    f.stream = text;
    f.files = {{"A.DBF", 0, 40000}, {"B.TXT", 40000, 150000}, {"C.DAT", 190000, total - 190000}};
    return f;
}

Bytes slice(const Folder &f, const Entry &e)
{
    return Bytes(f.stream.begin() + e.offset, f.stream.begin() + e.offset + e.size);
}

ReadResult read(const Bytes &cab, ReadOptions opts = {})
{
    MemFs fs;
    fs.put("out/p.cab", cab);
    return readCabinet(fs, "p.cab", std::move(opts));
}

}  // namespace

TEST(Pipeline, UnevenBlocksComeOutByteExactAndTheHistorySpansShortBlocks)
{
    const Folder f = unevenFolder();
    const ReadResult r = read(buildCabinet(f));
    ASSERT_TRUE(r.ok) << r.erf.erfOper;
    ASSERT_EQ(r.files.size(), f.files.size());
    for (const Entry &e : f.files)
        EXPECT_EQ(r.files.at(e.name), slice(f, e)) << e.name;
}

TEST(Pipeline, DamageReadAheadCountsOnlyWhereAFileNeedsIt)
{
    Folder f = unevenFolder();
    f.files.pop_back();  // the last blocks now belong to no file
    std::vector<std::uint32_t> at;
    Bytes cab = buildCabinet(f, &at);
    cab[at.back() + 10] ^= 0x55;
    ReadResult r = read(cab);
    ASSERT_TRUE(r.ok) << "a block no file needs was damaged: " << r.erf.erfOper;
    EXPECT_EQ(r.files.at("B.TXT"), slice(f, f.files[1]));

    // The same damage in a block a file needs fails the extraction with the
    // checksum's error, after the files before it came out whole.
    f = unevenFolder();
    at.clear();
    cab = buildCabinet(f, &at);
    cab[at[10] + 10] ^= 0x55;  // inside C.DAT
    r = read(cab);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_CORRUPT_CABINET);
    EXPECT_EQ(r.files.at("A.DBF"), slice(f, f.files[0]));
    EXPECT_EQ(r.files.at("B.TXT"), slice(f, f.files[1]));
}

TEST(Pipeline, FilesListedOutOfOrderRestartTheFolder)
{
    Folder f = unevenFolder();
    std::swap(f.files[0], f.files[2]);  // the folder's last file first
    ReadOptions skipB;
    skipB.skip = [](const std::string &name) { return name == "B.TXT"; };
    for (const ReadOptions &opts : {ReadOptions{}, skipB}) {
        const ReadResult r = read(buildCabinet(f), opts);
        ASSERT_TRUE(r.ok) << r.erf.erfOper;
        for (const Entry &e : f.files) {
            if (opts.skip && opts.skip(e.name)) {
                EXPECT_EQ(r.files.count(e.name), 0u);
                continue;
            }
            EXPECT_EQ(r.files.at(e.name), slice(f, e)) << e.name;
        }
    }
}
