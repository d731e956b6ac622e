// Hostile cabinets against FDIIsCabinet, FDICopy (and through it the MSZIP
// and LZX decoders), EnumerateFiles and EnumerateFolders, through the reader
// component. Every input is written to a file, tested, listed
// and extracted into a scratch folder that is emptied afterwards.
#include "cabinet/CabSTComps.h"

#include <cstdint>
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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : qv::TempDirectory();
    std::string tmpl = base + "qvfuzz.XXXXXX";
    g_root = ::mkdtemp(tmpl.data());
    std::atexit([] { wipe(g_root); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string cab = g_root + "/in.cab";
    const std::string dest = g_root + "/out";
    {
        std::ofstream f(cab, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    }
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
    return 0;
}
