#include "CommandLineFixture.h"

#include "platform/text.h"

#ifdef _WIN32
#include "cabinet/CabSTComps.h"
#endif

#include <cstring>
#include <random>

namespace qv::test {

namespace {

// The program's own line ends on Windows are "\r\n" (its streams are in text
// mode there); the tests read lines as on every other system.
std::string unixLineEnds(std::string text)
{
#ifdef _WIN32
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
#else
    return text;
#endif
}

}  // namespace

#ifdef _WIN32

std::vector<std::string> CabinetNames(const std::string &archive)
{
    std::vector<std::string> names;
    TSTCabReader reader;
    const bool read = reader.EnumerateFiles(
        archive, [&](TSTCabReader &, const std::string &name, std::int32_t, std::uint16_t, std::uint16_t,
                     std::uint16_t, std::uint16_t, bool &) { names.push_back(name); });
    EXPECT_TRUE(read) << "not a cabinet: " << archive;
    std::sort(names.begin(), names.end());
    return names;
}

bool CabinetReadsBackWhole(const std::string &archive)
{
    try {
        TSTCabReader reader;
        reader.TestCabinet(archive);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

#else

std::vector<std::string> CabinetNames(const std::string &archive)
{
    const RunResult r = RunProgram("cabextract", {"-l", archive}, {}, 60000);
    EXPECT_TRUE(r.started) << r.startError;
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> names;
    for (const std::string &line : SplitLines(r.out)) {
        std::vector<std::string> cols;
        for (std::size_t start = 0;;) {
            const std::size_t bar = line.find(" | ", start);
            cols.push_back(line.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
            if (bar == std::string::npos)
                break;
            start = bar + 3;
        }
        if (cols.size() == 3 && cols[0].find("File size") == std::string::npos) {
            std::string name = Trimmed(cols[2]);
            std::replace(name.begin(), name.end(), '/', '\\');
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool CabinetReadsBackWhole(const std::string &archive)
{
    const RunResult r = RunProgram("cabextract", {"-t", archive}, {}, 60000);
    return r.started && !r.crashed && !r.timedOut && r.status == 0;
}

#endif

Environment HeadlessEnvironment(const std::string &home)
{
    Environment env;
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY"})
        env.remove(name);
    env.set("HOME", home);
    env.set("XDG_CONFIG_HOME", home + PathDelim + ".config");
    const std::string tmp = home + PathDelim + "tmp";
    env.set("TMPDIR", tmp);
#ifdef _WIN32
    env.set("TEMP", tmp);
    env.set("TMP", tmp);
#endif
    return env;
}

std::vector<std::string> Tail(const std::vector<std::string> &list, std::size_t count)
{
    return {list.end() - static_cast<std::ptrdiff_t>(std::min(count, list.size())), list.end()};
}

std::string Join(const std::vector<std::string> &list, const std::string &between)
{
    std::string out;
    for (const std::string &s : list)
        out += (out.empty() ? "" : between) + s;
    return out;
}

void CommandLine::SetUpTestSuite()
{
    binDir = std::make_unique<ScratchDir>("qvclibin");
    ASSERT_TRUE(FileCopyNew(QV_PROGRAM, program())) << QV_PROGRAM;
    ASSERT_TRUE(CopyFilePermissions(QV_PROGRAM, program()));
}

void CommandLine::SetUp()
{
    FileDelete(settingsFile());
    ASSERT_TRUE(ForceDirectories(file("tmp")));
    demo::WriteDemoDataFolder(dataFolder(), demo::RegisterCodePage::Mazovia);
}

std::string CommandLine::file(const std::string &rel) const
{
    std::string native = rel;
    std::replace(native.begin(), native.end(), '/', PathDelim);
    return temp / native;
}

std::unique_ptr<ChildProcess> CommandLine::start(const std::vector<std::string> &args)
{
    ChildOptions options;
    options.environment = HeadlessEnvironment(temp.path());
    options.workingFolder = temp.path();
    auto child = std::make_unique<ChildProcess>(program(), args, options);
    EXPECT_TRUE(child->started()) << child->startError();
    return child;
}

Result CommandLine::finish(std::unique_ptr<ChildProcess> child, int timeoutMs)
{
    Result r;
    if (!child->wait(timeoutMs))
        ADD_FAILURE() << "the program did not end";
    r.crashed = child->crashed();
    r.status = child->exitCode();
    r.out = unixLineEnds(child->output());
    r.err = unixLineEnds(child->errorOutput());
    return r;
}

std::vector<std::string> CommandLine::filesOf(const std::vector<std::string> &katalogs) const
{
    std::vector<std::string> names;
    for (const std::string &k : katalogs)
        for (const std::string &f : FilesIn(company(k)))
            names.push_back(k + "\\" + f);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> CommandLine::companiesWithFolders() const
{
    std::vector<std::string> k;
    for (const demo::DemoCompany &c : demo::DemoCompanies())
        if (DirectoryExists(company(c.katalog)))
            k.push_back(c.katalog);
    return k;
}

void CommandLine::writeRandomFile(const std::string &path, int megabytes, std::uint32_t seed)
{
    std::string bytes(static_cast<std::size_t>(megabytes) * 1024 * 1024, '\0');
    std::mt19937 rng(seed);
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        const std::uint32_t v = rng();
        std::memcpy(bytes.data() + i, &v, 4);
    }
    WriteBytes(path, bytes);
}

std::vector<std::string> CommandLine::temporaries() const
{
    std::vector<std::string> found;
    for (const std::string &rel : ListTree(temp.path())) {
        const std::string name = rel.substr(rel.rfind('/') == std::string::npos ? 0 : rel.rfind('/') + 1);
        if (MatchesMask(name, "*.qv*.tmp") || MatchesMask(name, ".qvodtworz-*"))
            found.push_back(rel);
    }
    return found;
}

FileHandle CommandLine::holdDataFolder()
{
    const FileHandle h = OpenLockFile(inData(kDataFolderLockName));
    EXPECT_EQ(TryLockFile(h), FileLockResult::Locked);
    return h;
}

std::string CommandLine::waitForOutput(ChildProcess &child, const std::string &text, int timeoutMs)
{
    const bool came = child.waitForOutput(text, timeoutMs);
    EXPECT_TRUE(came) << "never came: " << text << "\n" << child.output();
    return child.output();
}

}  // namespace qv::test
