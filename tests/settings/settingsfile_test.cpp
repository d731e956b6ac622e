#include "settings/settingsfile.h"

#include "settings/inifile.h"
#include "test_support.h"

#include <QDir>
#include <QFileInfo>

namespace {

TEST(SettingsFileName, ExtensionBecomesIni)
{
    EXPECT_EQ(qv::IniNameForProgram("C:\\Prog\\ARCH.EXE"), "C:\\Prog\\ARCH.INI");
    EXPECT_EQ(qv::IniNameForProgram("/usr/bin/qvarchiwizator"), "/usr/bin/qvarchiwizator.INI");
    EXPECT_EQ(qv::IniNameForProgram("/opt/qv.d/prog"), "/opt/qv.d/prog.INI");
    EXPECT_EQ(qv::IniNameForProgram("C:\\qv.d\\prog"), "C:\\qv.d\\prog.INI");
    EXPECT_EQ(qv::IniNameForProgram("/x/prog.tar.exe"), "/x/prog.tar.INI");
    EXPECT_EQ(qv::IniNameForProgram("/x/.hidden"), "/x/.hidden.INI");
}

class SettingsLocationTest : public TempDirTest {};

TEST_F(SettingsLocationTest, BesideTheProgramWhenItsFolderCanBeWritten)
{
    ASSERT_TRUE(QDir(dir_.path()).mkpath("prog"));
    const QString program = path("prog/qvarchiwizator.exe");
    EXPECT_TRUE(qv::CanCreateFilesIn(path("prog")));
    EXPECT_EQ(qv::LocateSettingsFile(program, path("config")), path("prog/qvarchiwizator.INI"));
    EXPECT_FALSE(QFileInfo::exists(path("config"))) << "the configuration folder is left alone";
    EXPECT_EQ(QDir(path("prog")).entryList(QDir::Files | QDir::Hidden), QStringList())
        << "the probe leaves nothing behind";
}

TEST_F(SettingsLocationTest, InTheUsersConfigurationFolderOtherwise)
{
    // The program's "folder" is a regular file, so nothing can be created in it.
    WriteBytes(path("usr"), "a file");
    const QString program = path("usr/qvarchiwizator");
    EXPECT_FALSE(qv::CanCreateFilesIn(path("usr")));
    const QString located = qv::LocateSettingsFile(program, path("config"));
    EXPECT_EQ(located, path("config/qvarchiwizator/qvarchiwizator.INI"));
    EXPECT_TRUE(QFileInfo(path("config/qvarchiwizator")).isDir());

    qv::IniFile ini(located);
    ini.WriteString("Main", "port", "2121");
    EXPECT_EQ(qv::IniFile(path("config/qvarchiwizator/qvarchiwizator.INI")).ReadInteger("Main", "port", 0), 2121);
}

TEST_F(SettingsLocationTest, TheMakersFileBesideTheProgramSeedsTheUsersOne)
{
    ASSERT_TRUE(QDir(dir_.path()).mkpath("bin"));
    WriteBytes(path("bin/ARCH.INI"), "[Main]\r\nhost=ftp.maker.example\r\n");
    QFile::setPermissions(path("bin/ARCH.INI"), QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    auto systemWide = [&](const QString &folder) { return QDir(folder) != QDir(path("bin")); };

    const QString located = qv::LocateSettingsFile(path("bin/ARCH.EXE"), path("cfg"), systemWide);
    EXPECT_EQ(located, path("cfg/ARCH/ARCH.INI"));
    EXPECT_EQ(qv::IniFile(located).ReadString("Main", "host", ""), "ftp.maker.example");
    EXPECT_TRUE(QFileInfo(located).permissions() & QFileDevice::WriteOwner);

    // Once the user has a file of his own, it is not overwritten again.
    qv::IniFile(located).WriteString("Main", "host", "ftp.changed.example");
    EXPECT_EQ(qv::LocateSettingsFile(path("bin/ARCH.EXE"), path("cfg"), systemWide), located);
    EXPECT_EQ(qv::IniFile(located).ReadString("Main", "host", ""), "ftp.changed.example");
}

TEST_F(SettingsLocationTest, TheDefaultNameCanBeSetForARun)
{
    qv::SetDefaultSettingsFileName(path("elsewhere.INI"));
    EXPECT_EQ(qv::DefaultSettingsFileName(), path("elsewhere.INI"));
    qv::SetDefaultSettingsFileName(QString());
    EXPECT_TRUE(qv::DefaultSettingsFileName().endsWith(".INI"));
    EXPECT_NE(qv::DefaultSettingsFileName(), path("elsewhere.INI"));
}

}  // namespace

// A run that only reads the settings finds the same file without making one.
TEST_F(SettingsLocationTest, AReaderFindsTheSameFileAndCreatesNothing)
{
    ASSERT_TRUE(QDir(dir_.path()).mkpath("bin"));
    auto systemWide = [&](const QString &folder) { return QDir(folder) != QDir(path("bin")); };
    auto besideWritable = [](const QString &) { return true; };

    EXPECT_EQ(qv::SettingsFileToRead(path("bin/ARCH.EXE"), path("cfg"), besideWritable), path("bin/ARCH.INI"));
    // No file of the user's yet: the maker's beside the program is read in place.
    WriteBytes(path("bin/ARCH.INI"), "[Main]\r\nhost=ftp.maker.example\r\n");
    EXPECT_EQ(qv::SettingsFileToRead(path("bin/ARCH.EXE"), path("cfg"), systemWide), path("bin/ARCH.INI"));
    EXPECT_FALSE(QFileInfo::exists(path("cfg"))) << "nothing is created or copied";
    // Once the user has one, that is it, as the window would use it.
    const QString own = qv::LocateSettingsFile(path("bin/ARCH.EXE"), path("cfg"), systemWide);
    EXPECT_EQ(qv::SettingsFileToRead(path("bin/ARCH.EXE"), path("cfg"), systemWide), own);
}
