// The settings file's rewrite where only POSIX can set the stage: permission
// bits, a symbolic link in place of the file, a file size limit for a full disk.
#include "settings/inifile.h"

#include "platform/errors.h"

#include "SettingsTest.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using qv::IniFile;
using qv::test::IniFileTest;
using qv::test::ListTree;
using qv::test::ReadBytes;
using qv::test::WriteBytes;

namespace {

TEST_F(IniFileTest, ARewriteKeepsThePermissionsAndFollowsALink)
{
    // The file holds the FTP password: a rewrite must not make it readable to others.
    WriteBytes(file(), "[Main]\r\npw=tajne\r\n");
    ASSERT_EQ(::chmod(file().c_str(), S_IRUSR | S_IWUSR), 0);
    const std::string link = path("LINK.INI");
    ASSERT_EQ(::symlink(file().c_str(), link.c_str()), 0);
    IniFile(link).WriteString("Main", "port", "21");
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
    EXPECT_EQ(ReadBytes(file()), "[Main]\r\npw=tajne\r\nport=21\r\n");
    ASSERT_EQ(::stat(file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, static_cast<mode_t>(S_IRUSR | S_IWUSR));
    EXPECT_EQ(ListTree(folder()), (std::vector<std::string>{"ARCH.INI", "LINK.INI"}));
}

TEST_F(IniFileTest, AFullDiskLeavesTheOldFileWhole)
{
    const std::string before = "[Main]\r\nFN_cab_Text=C:\\a.cab\r\nport=21\r\n";
    WriteBytes(file(), before);
    IniFile ini(file());

    // Files may not grow past 256 bytes from here on, as on a full disk.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string error =
        qv::test::ErrorOf([&] { ini.WriteString("Main", "FN_cab_Text", std::string(1000, 'x')); });
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(error.rfind("Nie można zapisać pliku ustawień ", 0), 0u) << error;
    EXPECT_EQ(ReadBytes(file()), before);
    EXPECT_EQ(ListTree(folder()), std::vector<std::string>{"ARCH.INI"}) << "no temporary file may be left behind";
    EXPECT_EQ(ini.ReadString("Main", "FN_cab_Text", ""), "C:\\a.cab");
}

}  // namespace
