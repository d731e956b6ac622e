// The real program run from the command line, as cron or the Task Scheduler
// runs it: no DISPLAY, no WAYLAND_DISPLAY, no QT_QPA_PLATFORM. Each test has
// its own demo data; the program is a copy in a folder of its own, so its
// settings file (beside it) is the test's to write and to watch.
#pragma once

#include "ChildProcess.h"
#include "CoreTest.h"
#include "DemoData.h"
#include "archive/ArchiveName.h"
#include "archive/DataFolderLock.h"
#include "platform/filelock.h"
#include "settings/inifile.h"
#include "settings/keepers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace qv::test {

struct Result {
    int status = -1;
    bool crashed = false;
    std::string out;
    std::string err;
    std::vector<std::string> outLines() const { return SplitLines(out); }
    std::vector<std::string> errLines() const { return SplitLines(err); }
};

// The names an archive holds ("\" between folders, as the archive has them),
// in byte order: as cabextract reads them where there is one (Linux);
// under Windows, where no cabextract runs, as the cabinet library reads them.
std::vector<std::string> CabinetNames(const std::string &archive);
// Whether the archive reads back whole (cabextract -t; the library's test on
// Windows).
bool CabinetReadsBackWhole(const std::string &archive);

// No window system of any kind for the program, and its home, settings and
// temporary files inside the test's folder.
Environment HeadlessEnvironment(const std::string &home);

// Whether an element is in a list.
template <class T>
bool Contains(const std::vector<std::string> &list, const T &item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}
// The last `count` elements (all of a shorter list).
std::vector<std::string> Tail(const std::vector<std::string> &list, std::size_t count);
std::string Join(const std::vector<std::string> &list, const std::string &between = " ");

class CommandLine : public ::testing::Test {
protected:
    static inline std::unique_ptr<ScratchDir> binDir;
    ScratchDir temp{"qvcli"};

    static void SetUpTestSuite();
    static void TearDownTestSuite() { binDir.reset(); }

    static std::string program() { return *binDir / ExecutableName("qvarchiwizator"); }
    static std::string settingsFile() { return *binDir / "qvarchiwizator.INI"; }

    void SetUp() override;
    void TearDown() override { FileDelete(settingsFile()); }

    // A name inside the test's folder; "/" parts it on every system.
    std::string file(const std::string &rel) const;
    std::string dataFolder() const { return file("LDG_2005"); }
    std::string company(const std::string &katalog) const { return dataFolder() + PathDelim + katalog; }
    std::string inData(const std::string &name) const { return dataFolder() + PathDelim + name; }
    // A data folder as the program names it (in capitals where the file
    // system ignores letter case, as the window holds it), and a name in it.
    static std::string held(const std::string &folder) { return DataFolderAsHeld(folder); }
    std::string heldData(const std::string &name = {}) const
    {
        return name.empty() ? held(dataFolder()) : held(dataFolder()) + PathDelim + name;
    }
    std::string archive(const std::string &name = "archiwum.cab") const { return file(name); }

    std::unique_ptr<ChildProcess> start(const std::vector<std::string> &args);
    static Result finish(std::unique_ptr<ChildProcess> child, int timeoutMs = 120000);
    Result run(const std::vector<std::string> &args) { return finish(start(args)); }

    // Every file a company's folder holds at its top level, as the archive names it.
    std::vector<std::string> filesOf(const std::vector<std::string> &katalogs) const;
    std::vector<std::string> companiesWithFolders() const;

    void setting(const std::string &key, const std::string &value)
    {
        IniFile(settingsFile()).WriteString(kMainSection, key, value);
    }

    // Bytes that do not compress, so that a run takes its time over them.
    static void writeRandomFile(const std::string &path, int megabytes, std::uint32_t seed);

    // Leftovers of a run: its temporary files, anywhere under the test's folder.
    std::vector<std::string> temporaries() const;

    // A lock on the data folder held from outside, as another run holds it.
    FileHandle holdDataFolder();

    // Reads the run's output until text has come.
    static std::string waitForOutput(ChildProcess &child, const std::string &text, int timeoutMs = 30000);
};

inline const std::string kEnd = "--- Koniec operacji \"Archiwizowanie\" ---";

}  // namespace qv::test
