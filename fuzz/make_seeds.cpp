// Writes small cabinets from our writer into a folder: the fuzzer's
// starting corpus.
#include "cabinet/CabSTComps.h"

#include <cstdio>
#include <fstream>
#include <string>

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
             std::uint32_t maxCab, std::size_t size)
{
    TSTCabWriter w;
    w.SetCompressionType(type);
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

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_cab_seeds FOLDER\n");
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
