#include "settings/settingsfile.h"

#include "platform/files.h"
#include "settings/inifile.h"

#include "SettingsTest.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

using qv::test::ListTree;
using qv::test::WriteBytes;

namespace {

TEST(SettingsFileName, ExtensionBecomesIni)
{
    struct Case {
        const char *program, *ini;
    };
    for (const Case &c : {Case{"C:\\Prog\\ARCH.EXE", "C:\\Prog\\ARCH.INI"},
                          Case{"/usr/bin/qvarchiwizator", "/usr/bin/qvarchiwizator.INI"},
                          Case{"/opt/qv.d/prog", "/opt/qv.d/prog.INI"}, Case{"C:\\qv.d\\prog", "C:\\qv.d\\prog.INI"},
                          Case{"/x/prog.tar.exe", "/x/prog.tar.INI"}, Case{"/x/.hidden", "/x/.hidden.INI"}})
        EXPECT_EQ(qv::IniNameForProgram(c.program), c.ini) << c.program;
}

class SettingsLocationTest : public qv::test::SettingsTest {
protected:
    // Only the folder "bin" cannot be written: a system-wide install.
    std::function<bool(const std::string &)> systemWide() const
    {
        return [bin = qv::ExpandFileName(path("bin"))](const std::string &folder) { return folder != bin; };
    }
};

TEST_F(SettingsLocationTest, BesideTheProgramWhenItsFolderCanBeWritten)
{
    ASSERT_TRUE(qv::ForceDirectories(path("prog")));
    const std::string program = path("prog/qvarchiwizator.exe");
    EXPECT_TRUE(qv::CanCreateFilesIn(path("prog")));
    EXPECT_EQ(qv::LocateSettingsFile(program, path("config")), path("prog/qvarchiwizator.INI"));
    EXPECT_FALSE(qv::PathExists(path("config"))) << "the configuration folder is left alone";
    EXPECT_EQ(ListTree(path("prog")), std::vector<std::string>()) << "the probe leaves nothing behind";
}

TEST_F(SettingsLocationTest, InTheUsersConfigurationFolderOtherwise)
{
    // The program's "folder" is a regular file, so nothing can be created in it.
    WriteBytes(path("usr"), "a file");
    const std::string program = path("usr/qvarchiwizator");
    EXPECT_FALSE(qv::CanCreateFilesIn(path("usr")));
    EXPECT_FALSE(qv::CanCreateFilesIn(path("missing")));
    const std::string located = qv::LocateSettingsFile(program, path("config"));
    EXPECT_EQ(located, path("config/qvarchiwizator/qvarchiwizator.INI"));
    EXPECT_TRUE(qv::DirectoryExists(path("config/qvarchiwizator")));

    qv::IniFile ini(located);
    ini.WriteString("Main", "port", "2121");
    EXPECT_EQ(qv::IniFile(path("config/qvarchiwizator/qvarchiwizator.INI")).ReadInteger("Main", "port", 0), 2121);
}

TEST_F(SettingsLocationTest, TheMakersFileBesideTheProgramSeedsTheUsersOne)
{
    ASSERT_TRUE(qv::ForceDirectories(path("bin")));
    WriteBytes(path("bin/ARCH.INI"), "[Main]\r\nhost=ftp.maker.example\r\n");
    ASSERT_TRUE(qv::FileSetAttributes(path("bin/ARCH.INI"), qv::faReadOnly));

    const std::string located = qv::LocateSettingsFile(path("bin/ARCH.EXE"), path("cfg"), systemWide());
    EXPECT_EQ(located, path("cfg/ARCH/ARCH.INI"));
    EXPECT_EQ(qv::IniFile(located).ReadString("Main", "host", ""), "ftp.maker.example");
    EXPECT_EQ(qv::FileGetAttributes(located) & qv::faReadOnly, 0u) << "the user's copy can be changed";
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(::stat(located.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IWUSR);
#endif

    // Once the user has a file of his own, it is not overwritten again.
    qv::IniFile(located).WriteString("Main", "host", "ftp.changed.example");
    EXPECT_EQ(qv::LocateSettingsFile(path("bin/ARCH.EXE"), path("cfg"), systemWide()), located);
    EXPECT_EQ(qv::IniFile(located).ReadString("Main", "host", ""), "ftp.changed.example");
}

TEST_F(SettingsLocationTest, TheDefaultNameCanBeSetForARun)
{
    qv::SetDefaultSettingsFileName(path("elsewhere.INI"));
    EXPECT_EQ(qv::DefaultSettingsFileName(), path("elsewhere.INI"));
    EXPECT_EQ(qv::DefaultSettingsFileToRead(), path("elsewhere.INI"));
    qv::SetDefaultSettingsFileName(std::string());
    const std::string own = qv::DefaultSettingsFileName();
    ASSERT_GE(own.size(), 4u);
    EXPECT_EQ(own.substr(own.size() - 4), ".INI");
    EXPECT_NE(own, path("elsewhere.INI"));
}

// A run that only reads the settings finds the same file without making one.
TEST_F(SettingsLocationTest, AReaderFindsTheSameFileAndCreatesNothing)
{
    ASSERT_TRUE(qv::ForceDirectories(path("bin")));
    auto besideWritable = [](const std::string &) { return true; };

    EXPECT_EQ(qv::SettingsFileToRead(path("bin/ARCH.EXE"), path("cfg"), besideWritable), path("bin/ARCH.INI"));
    // No file of the user's yet: the maker's beside the program is read in place.
    WriteBytes(path("bin/ARCH.INI"), "[Main]\r\nhost=ftp.maker.example\r\n");
    EXPECT_EQ(qv::SettingsFileToRead(path("bin/ARCH.EXE"), path("cfg"), systemWide()), path("bin/ARCH.INI"));
    EXPECT_FALSE(qv::PathExists(path("cfg"))) << "nothing is created or copied";
    // Once the user has one, that is it, as the window would use it.
    const std::string own = qv::LocateSettingsFile(path("bin/ARCH.EXE"), path("cfg"), systemWide());
    EXPECT_EQ(qv::SettingsFileToRead(path("bin/ARCH.EXE"), path("cfg"), systemWide()), own);
    EXPECT_NE(own, path("bin/ARCH.INI"));
}

}  // namespace
