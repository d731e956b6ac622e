// qvcab: create, list, extract and test cabinets with the program's own
// cabinet writer and reader.
#include "cabinet/CabSTComps.h"
#include "cabinet/CabSTConsts.h"
#include "platform/cmdline.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

using namespace qv;

namespace {

int usage()
{
    std::fputs("usage:\n"
               "  qvcab create OUT.cab [--none|--mszip|--lzx[=15..21]] [--max-cabinet BYTES] [--folder-files N] [-v]\n"
               "               DIR...\n"
               "  qvcab list X.cab\n"
               "  qvcab extract X.cab DEST\n"
               "  qvcab test X.cab\n",
               stderr);
    return 2;
}

bool parseNumber(const char *text, std::uint32_t &out)
{
    char *end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (!*text || *end || errno || v > 0xFFFFFFFFull)
        return false;
    out = static_cast<std::uint32_t>(v);
    return true;
}

int create(int argc, char **argv)
{
    if (argc < 4)
        return usage();
    TSTCabWriter writer;
    writer.SetCompressionType(cctMsZip);
    bool verbose = false;
    std::vector<std::string> dirs;
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--none") {
            writer.SetCompressionType(cctNone);
        } else if (a == "--mszip") {
            writer.SetCompressionType(cctMsZip);
        } else if (a == "--lzx" || a.rfind("--lzx=", 0) == 0) {
            std::uint32_t level = 21;
            if (a.size() > 5 && (!parseNumber(a.c_str() + 6, level) || level < 15 || level > 21)) {
                std::fprintf(stderr, "qvcab: --lzx takes a window of 15 to 21\n");
                return 2;
            }
            writer.SetCompressionType(cctLzx);
            writer.SetCompressionLzxLevel(static_cast<TSTCabLzxLevel>(level));
        } else if (a == "--max-cabinet" || a == "--folder-files") {
            std::uint32_t v = 0;
            if (i + 1 >= argc || !parseNumber(argv[i + 1], v)) {
                std::fprintf(stderr, "qvcab: %s needs a number\n", a.c_str());
                return 2;
            }
            ++i;
            (a == "--max-cabinet" ? writer.CabinetSizeThreshold : writer.FolderFileCountThreshold) = v;
        } else if (a == "-v") {
            verbose = true;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            std::fprintf(stderr, "qvcab: unknown option %s\n", a.c_str());
            return 2;
        } else {
            dirs.push_back(a);
        }
    }
    if (dirs.empty())
        return usage();
    for (const std::string &d : dirs) {
        if (!DirectoryExists(d)) {
            std::fprintf(stderr, "qvcab: %s is not a folder\n", d.c_str());
            return 1;
        }
    }
    if (verbose)
        writer.OnFilePlaced = [](TSTCabWriter &, const cab::CCAB &ccab, const std::string &name, std::int32_t size,
                                 bool continuation, bool &) {
            std::printf("%s%s\t%d\t%s\n", ccab.szCab, continuation ? " (continued)" : "", size,
                        PrintableName(name).c_str());
        };
    writer.Open(argv[2]);
    for (const std::string &d : dirs) {
        const std::string folder = ExcludeTrailingDelimiter(ExpandFileName(d));
        writer.AddFiles(JoinPath({folder, "*"}), ExtractFileName(folder), true);
    }
    writer.Close(true);
    return 0;
}

int list(int argc, char **argv)
{
    if (argc != 3)
        return usage();
    TSTCabReader reader;
    // A line per folder with its method, then a line per file.
    const auto folderLine = [](TSTCabReader &, std::uint16_t folder, cab::TCOMP type, std::uint16_t, bool &) {
        std::printf("folder %u: %s\n", static_cast<unsigned>(folder), CompressionText(type).c_str());
    };
    const auto fileLine = [](TSTCabReader &, const std::string &name, std::int32_t size, std::uint16_t folder,
                             std::uint16_t date, std::uint16_t time, std::uint16_t attrs, bool &) {
        std::printf("%10u %04u-%02u-%02u %02u:%02u:%02u %c%c%c%c %5u %s\n", static_cast<unsigned>(size),
                    1980 + (date >> 9), (date >> 5) & 15, date & 31, time >> 11, (time >> 5) & 63, (time & 31) * 2,
                    attrs & 0x01 ? 'r' : '-', attrs & 0x02 ? 'h' : '-', attrs & 0x04 ? 's' : '-',
                    attrs & 0x20 ? 'a' : '-', folder, PrintableName(name).c_str());
    };
    if (!reader.EnumerateFolders(argv[2], folderLine) || !reader.EnumerateFiles(argv[2], fileLine)) {
        std::fprintf(stderr, "qvcab: %s is not a cabinet\n", argv[2]);
        return 1;
    }
    return 0;
}

// Files in folders whose method the reader cannot decode (Quantum) are left
// out and named, the others read; the run then fails and says which method
// is not supported.
class Skipped {
public:
    explicit Skipped(TSTCabReader &r)
    {
        r.Options.insert(croSkipUnreadableFolders);
        r.OnFileSkipped = [this](TSTCabReader &, const std::string &name, std::int32_t, cab::TCOMP method) {
            files_.emplace_back(name, method);
        };
    }
    // The exit status, after the lines that explain a non-zero one.
    int report(unsigned done, const char *verb) const
    {
        if (files_.empty())
            return 0;
        std::vector<std::string> methods;
        for (const auto &[name, method] : files_) {
            const std::string refusal = CompressionRefusalText(method);
            std::fprintf(stderr, "qvcab: skipped %s: %s\n", PrintableName(name).c_str(),
                         ESTCabinet::ComposeMessage(FDIErrorText(cab::FDIERROR_BAD_COMPR_TYPE),
                                                    cab::FDIERROR_BAD_COMPR_TYPE, true, 0, refusal)
                             .c_str());
            const bool quantum = (method & cab::tcompMASK_TYPE) == cab::tcompTYPE_QUANTUM;
            const std::string family = quantum ? "Quantum" : refusal;
            if (std::find(methods.begin(), methods.end(), family) == methods.end())
                methods.push_back(family);
        }
        std::string list;
        for (std::size_t i = 0; i < methods.size(); ++i)
            list += (i == 0 ? "" : i + 1 == methods.size() ? " and " : ", ") + methods[i];
        std::fprintf(stderr, "qvcab: %s %s not supported: %zu file%s skipped, %u of %zu files %s\n", list.c_str(),
                     methods.size() == 1 ? "is" : "are", files_.size(), files_.size() == 1 ? "" : "s", done,
                     done + files_.size(), verb);
        return 1;
    }

private:
    std::vector<std::pair<std::string, cab::TCOMP>> files_;
};

int extract(int argc, char **argv)
{
    if (argc != 4)
        return usage();
    TSTCabReader reader;
    cab::FDICABINETINFO info;
    if (!reader.IsCabinet(argv[2], info)) {
        std::fprintf(stderr, "qvcab: %s is not a cabinet\n", argv[2]);
        return 1;
    }
    const Skipped skipped(reader);
    unsigned extracted = 0;
    reader.OnCloseFile = [&](TSTCabReader &, const std::string &, std::uint16_t, std::uint16_t, std::uint16_t,
                             std::uint16_t, bool &, const std::string &, bool &) { ++extracted; };
    reader.ExtractFiles(argv[2], argv[3], false);
    return skipped.report(extracted, "extracted");
}

// ---- test: decompress everything, write nothing ----

int test(int argc, char **argv)
{
    if (argc != 3)
        return usage();
    TSTCabReader reader;
    const Skipped skipped(reader);
    const TSTCabTestResult r = reader.TestCabinet(argv[2]);
    if (const int status = skipped.report(r.Files, "read"))
        return status;
    std::printf("%s: OK, %u files, %llu bytes, %u cabinet(s)\n", argv[2], r.Files,
                static_cast<unsigned long long>(r.Bytes), r.Cabinets);
    return 0;
}

}  // namespace

int run(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    const std::string cmd = argv[1];
    try {
        if (cmd == "create")
            return create(argc, argv);
        if (cmd == "list")
            return list(argc, argv);
        if (cmd == "extract")
            return extract(argc, argv);
        if (cmd == "test")
            return test(argc, argv);
    } catch (const std::exception &e) {
        // Multi-line messages become one line of the tool's output, and a
        // name from the cabinet inside one cannot steer the terminal.
        std::string msg;
        for (const char *c = e.what(); *c; ++c)
            if (*c != '\n')
                msg += *c == '\r' ? ' ' : *c;
        std::fprintf(stderr, "qvcab: %s\n", PrintableName(msg).c_str());
        return 1;
    }
    return usage();
}

// Windows hands the arguments over as UTF-16 (wmain), so a name with Polish
// letters arrives whole whatever the ANSI code page; everything below works
// on UTF-8.
#ifdef _WIN32
int wmain(int argc, wchar_t **wargv)
{
    std::vector<std::string> args = Utf8Arguments(argc, wargv);
#else
int main(int argc, char **argv)
{
    std::vector<std::string> args(argv, argv + argc);
#endif
    UseUtf8Console();
    std::vector<char *> argvUtf8;
    for (std::string &a : args)
        argvUtf8.push_back(a.data());
    argvUtf8.push_back(nullptr);
    return run(static_cast<int>(args.size()), argvUtf8.data());
}
