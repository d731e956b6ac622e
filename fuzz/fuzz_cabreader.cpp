// Hostile cabinets, and sets of them, against FDIIsCabinet, FDICopy (and
// through it the MSZIP and LZX decoders), the walk back to a set's first part,
// EnumerateFiles, EnumerateFolders and TestCabinet, through the reader
// component. Every input is written to files, tested, listed and extracted
// into a scratch folder that is emptied afterwards.
#include "cabinet/CabSTComps.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>
#include <cstdlib>
#include <fstream>
#include <string>

#include <ftw.h>
#include <unistd.h>

namespace {

std::string g_root;

int removeEntry(const char *path, const struct stat *, int, struct FTW *)
{
    ::remove(path);
    return 0;
}

void wipe(const std::string &path) { ::nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }


extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : qv::TempDirectory();
    std::string tmpl = base + "qvfuzz.XXXXXX";
    g_root = ::mkdtemp(tmpl.data());
    std::atexit([] { wipe(g_root); });
    return 0;
}

// An input that starts with "QVSET" holds the parts of a set: a count byte
// (up to 8), then each part as a 4-byte little-endian length and its bytes; they
// are written as s.cab, s1.cab, ... (the names our writer gives a set made as
// s.cab) and read from the last, so the reader walks back to the first. Any
// other input is one cabinet.
std::vector<std::string> partsOf(const std::uint8_t *data, std::size_t size)
{
    if (size < 6 || std::memcmp(data, "QVSET", 5) != 0)
        return {std::string(reinterpret_cast<const char *>(data), size)};
    std::vector<std::string> parts;
    std::size_t at = 6;
    for (unsigned k = 0; k < std::min<unsigned>(data[5], 8) && at + 4 <= size; ++k) {
        const std::size_t n = std::min<std::size_t>(data[at] | (data[at + 1] << 8) | (data[at + 2] << 16) |
                                                        (static_cast<std::size_t>(data[at + 3]) << 24),
                                                    size - at - 4);
        parts.emplace_back(reinterpret_cast<const char *>(data + at + 4), n);
        at += 4 + n;
    }
    return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::vector<std::string> parts = partsOf(data, size);
    std::string cab;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        cab = g_root + (k == 0 ? std::string("/s.cab") : "/s" + std::to_string(k) + ".cab");
        std::ofstream f(cab, std::ios::binary | std::ios::trunc);
        f.write(parts[k].data(), static_cast<std::streamsize>(parts[k].size()));
    }
    const std::string dest = g_root + "/out";
    qv::TSTCabReader reader;
    // Sizes are the cabinet's word; keep the disk out of it.
    reader.OnCopyFile = [](qv::TSTCabReader &, const std::string &, std::int32_t size, std::uint16_t, std::uint16_t,
                           std::uint16_t, std::uint16_t, std::string &dst, bool &) {
        if (size < 0 || size > (1 << 20))
            dst.clear();
    };
    cab::FDICABINETINFO info;
    try {
        reader.IsCabinet(cab, info);
    } catch (const std::exception &) {
    }
    try {
        reader.EnumerateFiles(cab, [](qv::TSTCabReader &, const std::string &name, std::int32_t, std::uint16_t,
                                      std::uint16_t, std::uint16_t, std::uint16_t, bool &) {
            std::size_t chars = 0;
            for (unsigned char c : name)
                chars += (c & 0xC0) != 0x80;
            if (chars > 255)
                std::abort();  // a name the format cannot hold was listed
        });
    } catch (const std::exception &) {
    }
    try {
        reader.EnumerateFolders(cab, nullptr);
    } catch (const std::exception &) {
    }
    try {
        reader.ExtractFiles(cab, dest, false);
    } catch (const std::exception &) {
    }
    wipe(dest);
    // The read-back check, leaving out the folders it cannot read.
    reader.Options.insert(qv::croSkipUnreadableFolders);
    try {
        reader.TestCabinet(cab);
    } catch (const std::exception &) {
    }
    for (std::size_t k = 1; k < parts.size(); ++k)
        ::remove((g_root + "/s" + std::to_string(k) + ".cab").c_str());
    return 0;
}
