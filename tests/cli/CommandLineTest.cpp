// The real program run from the command line (CommandLineFixture.h), on
// every system; what only one system has is in CommandLine_posix_test.cpp
// and CommandLine_windows_test.cpp.
#include "CommandLineFixture.h"

#include "../cabinet/comp_rawcab.h"
#include "DemoData.h"
#include "FtpServer.h"
#include "archive/ArchiveName.h"
#include "archive/DataFolderLock.h"
#include "archive/RestoreJournal.h"
#include "platform/errors.h"
#include "platform/filelock.h"
#include "platform/process.h"
#include "platform/text.h"
#include "settings/keepers.h"
#include "settings/storedvalues.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cerrno>
#include <regex>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace qv;
using namespace qv::test;

namespace {

const std::string kPassword = "#(wnto)#";

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::ptrdiff_t indexOf(const std::vector<std::string> &list, const std::string &item)
{
    const auto it = std::find(list.begin(), list.end(), item);
    return it == list.end() ? -1 : it - list.begin();
}

std::string valueAt(const std::vector<std::string> &list, std::ptrdiff_t i)
{
    return i >= 0 && static_cast<std::size_t>(i) < list.size() ? list[static_cast<std::size_t>(i)] : std::string();
}

bool startsWith(const std::string &text, const std::string &lead) { return text.rfind(lead, 0) == 0; }

FileTime lastWriteTime(const std::string &path)
{
    FileTime t = 0;
    const FileHandle h = FileOpen(path, FileAccess::Read, FileShare::ReadWrite, FileDisposition::OpenExisting);
    EXPECT_NE(h, InvalidFileHandle) << path;
    if (h != InvalidFileHandle) {
        EXPECT_TRUE(FileGetTimes(h, nullptr, nullptr, &t));
        FileClose(h);
    }
    return t;
}

}  // namespace

TEST_F(CommandLine, ArchivesEveryCompanyWithNoDisplayAndTheMissingFolderIsLogged)
{
    const Result r = run({"--archive", "--all", "--data", dataFolder(), "--output", archive()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(CabinetNames(archive()), filesOf(companiesWithFolders()));
    EXPECT_TRUE(CabinetReadsBackWhole(archive()));

    const std::vector<std::string> out = r.outLines();
    ASSERT_GE(out.size(), 16u);
    EXPECT_EQ(out[0], "-- Firma : Biuro Rachunkowe Małgorzata -- ");
    EXPECT_EQ(out[3], "-!- Brak katalogu LEG dla Firmy Hurtownia Łęg sp. z o.o. -!- ");
    EXPECT_EQ(out[12], "*** dodaję - czekaj ... ***");
    // One line per file placed: the name padded to 22, the size in 10.
    static const std::regex placed("^(.{22,}) ([ \\d]{10}) byte\\(s\\)$");
    std::vector<std::string> placedNames;
    for (std::size_t i = 13; i < out.size() - 3; ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(out[i], m, placed)) << out[i];
        placedNames.push_back(Trimmed(m[1].str()));
    }
    std::sort(placedNames.begin(), placedNames.end());
    EXPECT_EQ(placedNames, filesOf(companiesWithFolders()));
    EXPECT_EQ(Tail(out, 3), (std::vector<std::string>{"Archiwum sprawdzone: 55 plików", "***", kEnd}));
    // The question a window would ask, answered by its default button.
    EXPECT_EQ(r.errLines(),
              (std::vector<std::string>{"Dokonać archiwizacji wybarnych firm ? [12 sztuk]", "Odpowiedź: Tak"}));
    EXPECT_TRUE(temporaries().empty()) << Join(temporaries());
}

TEST_F(CommandLine, ArchivesTheNamedCompaniesWhateverTheLetterCase)
{
    const Result r = run({"--archive", "--companies", "firma1,Piekarn", "--data", dataFolder(), "--output", archive()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(CabinetNames(archive()), filesOf({"FIRMA1", "PIEKARN"}));
    EXPECT_EQ(r.out.find("XFIRMA1"), std::string::npos);

    // The other code page of the register reads the same.
    demo::WriteDemoDataFolder(dataFolder(), demo::RegisterCodePage::CP852);
    const Result again = run({"--archive", "--companies", "zrodlo", "--data", dataFolder(), "--output", archive("b.cab")});
    ASSERT_EQ(again.status, 0) << again.err;
    ASSERT_FALSE(again.outLines().empty());
    EXPECT_EQ(again.outLines().front(), "-- Firma : Gospodarstwo Źródło -- ");
    EXPECT_EQ(CabinetNames(archive("b.cab")), filesOf({"ZRODLO"}));
}

TEST_F(CommandLine, MissingCompanyFoldersAreLoggedAndARunWithNothingToAddFails)
{
    RemoveTree(company("ROZA"));
    Result r = run({"--archive", "--all", "--data", dataFolder(), "--output", archive()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.outLines(), "-!- Brak katalogu ROZA dla Firmy Kwiaciarnia Róża -!- "));
    EXPECT_EQ(CabinetNames(archive()), filesOf(companiesWithFolders()));

    r = run({"--archive", "--companies", "leg,roza", "--data", dataFolder(), "--output", archive("nic.cab")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.outLines(), "Brak plików do archiwizacji - archiwum nie zostało zmienione"));
    ASSERT_FALSE(r.outLines().empty());
    EXPECT_EQ(r.outLines().back(), "Błąd dodawania danych !");
    EXPECT_FALSE(PathExists(archive("nic.cab")));
}

// A restore killed half way (one file moved in, the older one aside) and then
// the nightly archive: the run settles the restore first, says so, and
// archives the company wholly restored. The number in the staging folder's
// name is a live process's (process 1, as in a container; this test's own):
// under the data folder's lock it proves nothing.
TEST_F(CommandLine, AnArchiveRunFirstFinishesWhatACrashedRestoreLeft)
{
    for (const std::uint32_t pid : {std::uint32_t{1}, CurrentProcessId()}) {
        RestoreJournal journal;
        journal.company = "FIRMA1";
        journal.stage = RestoreJournal::Stage::Moving;
        journal.moves = {{"KSIEGA.DBF", true}, {"NOWY.DBF", false}};
        const std::string staging = inData(".qvodtworz-" + std::to_string(pid) + "-abc");
        const std::string book = company("FIRMA1") + PathDelim + "KSIEGA.DBF";
        WriteBytes(staging + PathDelim + "dziennik", FormatRestoreJournal(journal));
        WriteBytes(staging + PathDelim + "nowe" + PathDelim + "NOWY.DBF", "z archiwum");
        WriteBytes(staging + PathDelim + "zastapione" + PathDelim + "KSIEGA.DBF", ReadBytes(book));
        WriteBytes(book, "z archiwum, już na miejscu");

        const Result r = run({"--archive", "--all", "--data", dataFolder(), "--output", archive(), "--yes"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> err = r.errLines();
        const std::ptrdiff_t at =
            indexOf(err, "Odtwarzanie danych firmy w katalogu " + heldData("FIRMA1") + " zostało przerwane.");
        ASSERT_GE(at, 0) << r.err;
        EXPECT_EQ(valueAt(err, at + 1), "Dokończono je: katalog zawiera dane z archiwum.");
        EXPECT_FALSE(PathExists(staging));
        EXPECT_EQ(CabinetNames(archive()), filesOf(companiesWithFolders()));
        EXPECT_TRUE(Contains(CabinetNames(archive()), "FIRMA1\\NOWY.DBF"));
        FileDelete(company("FIRMA1") + PathDelim + "NOWY.DBF");
    }
}

TEST_F(CommandLine, DefaultsComeFromTheSettingsFileWhichIsNeverWritten)
{
    const std::string named = file("moje archiwa/nocne.cab");
    // As the window keeps a name with a blank: quoted, and quoted once more on write.
    setting(kArchiveFieldKey, "\"\"" + named + "\"\"");
    setting(kDataFolderKey, "  " + dataFolder() + " ");
    const std::string before = ReadBytes(settingsFile());
    const FileTime stamp = lastWriteTime(settingsFile());

    const Result r = run({"--archive", "--companies", "FIRMA1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(CabinetNames(named), filesOf({"FIRMA1"}));
    EXPECT_EQ(ReadBytes(settingsFile()), before);
    EXPECT_EQ(lastWriteTime(settingsFile()), stamp);
    std::vector<std::string> expected{ExecutableName("qvarchiwizator"), "qvarchiwizator.INI"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesIn(binDir->path()), expected);
}

TEST_F(CommandLine, WithoutASettingsFileTheWindowsDefaultsHoldAndNoFileIsMade)
{
#ifdef _WIN32
    // The default data folder is C:\LDG_2005: the tests may make it only in
    // a Wine prefix of their own, and never over one that is there.
    const std::string defaults = "C:\\LDG_2005";
    if (!UnderWine())
        GTEST_SKIP() << "would write " << defaults << " on this computer";
    if (PathExists(defaults))
        GTEST_SKIP() << defaults << " is there already: not the tests' to change";
    struct Remove {
        std::string path;
        ~Remove() { RemoveTree(path); }
    } removeAfter{defaults};
    const std::string config = UserConfigFolder() + "\\qvarchiwizator";
#else
    // The default data folder lies in the Wine prefix of the home folder.
    const std::string defaults = file(".wine/drive_c/LDG_2005");
    const std::string config = file(".config/qvarchiwizator");
#endif
    const bool configBefore = PathExists(config);
    demo::WriteDemoDataFolder(defaults, demo::RegisterCodePage::Mazovia);
    const Result r = run({"--archive", "--companies", "apteka", "--generate-name"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> made = FilesIn(defaults, "Arch*.cab");
    ASSERT_EQ(made.size(), 1u);
    EXPECT_TRUE(IsGeneratedArchiveName(made[0])) << made[0];
    EXPECT_EQ(CabinetNames(defaults + PathDelim + made[0]).size(), 5u);
    EXPECT_EQ(FilesIn(binDir->path()), std::vector<std::string>{ExecutableName("qvarchiwizator")});
    if (!configBefore) {
        EXPECT_FALSE(PathExists(config));
    }
}

TEST_F(CommandLine, AnExistingArchiveIsReplacedOnlyWithYes)
{
    WriteBytes(archive(), "stare archiwum");
    Result r = run({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--output", archive()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadBytes(archive()), "stare archiwum");
    EXPECT_EQ(r.out, "") << "declined before any log line";
    ASSERT_FALSE(r.errLines().empty());
    EXPECT_EQ(r.errLines().front(), "WYBRANY PLIK ARCHIWUM " + archive() + " JUŻ ISTNIEJE !");
    EXPECT_EQ(r.errLines().back(), "Odpowiedź: Nie - istniejący plik archiwum jest zastępowany tylko z opcją --yes");

    r = run({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--output", archive(), "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(CabinetNames(archive()), filesOf({"FIRMA1"}));
}

TEST_F(CommandLine, KeepRemovesOnlyOlderGeneratedArchivesAfterTheNewOneIsMade)
{
    ASSERT_EQ(run({"--archive", "--companies", "CWIK", "--data", dataFolder(), "--output", archive("wzor.cab")}).status,
              0);
    const std::string cabinet = ReadBytes(archive("wzor.cab"));
    const std::vector<std::string> older{"Arch2005-03-03_1415.cab", "Arch2005-03-04_0300.cab",
                                         "Arch2004-12-31_2359.cab", "Arch2005-03-05_0300.cab"};
    // A text of the user's that bears the form, and an archive from a clock
    // set years ahead: neither counted nor removed. Names that differ in
    // letter case alone are one file on Windows.
    std::vector<std::string> unrelated{"Arch2001-01-01_0000.cab.bak", "Archiwum.cab", "notatki.txt",
                                       "Arch2001-01-01_0000.cab"};
    if (!kWindows)
        unrelated.insert(unrelated.end(), {"arch2001-01-01_0000.cab", "Arch2001-01-01_0000.CAB"});
    const std::string future = "Arch2999-01-01_0000.cab";
    for (const std::string &n : older)
        WriteBytes(inData(n), cabinet);
    WriteBytes(inData(future), cabinet);
    for (const std::string &n : unrelated)
        WriteBytes(inData(n), n);

    // A run that fails removes nothing.
    Result r = run({"--archive", "--companies", "LEG", "--data", dataFolder(), "--generate-name", "--keep", "1"});
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> untouched = older;
    untouched.insert(untouched.end(), unrelated.begin(), unrelated.end());
    for (const std::string &n : untouched)
        EXPECT_TRUE(PathExists(inData(n))) << n;

    r = run({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--generate-name", "--keep", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> made = FilesIn(dataFolder(), "Arch*.cab");
    std::erase_if(made, [&](const std::string &n) {
        return Contains(older, n) || Contains(unrelated, n) || n == future;
    });
    ASSERT_EQ(made.size(), 1u) << "the new archive";
    EXPECT_TRUE(CabinetReadsBackWhole(inData(made[0])));
    std::vector<std::string> left = FilesIn(dataFolder());
    std::erase(left, made[0]);
    std::vector<std::string> expected = unrelated;
    expected.insert(expected.end(), {"Arch2005-03-05_0300.cab", future, "SPISFIRM.DAT", kDataFolderLockName});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
    const std::vector<std::string> out = r.outLines();
    EXPECT_EQ(Tail(out, 4),
              (std::vector<std::string>{"Archiwa z datą późniejszą niż teraz nie są liczone ani usuwane: " + heldData(future),
                                        "Usunięto starsze archiwum " + heldData(older[2]),
                                        "Usunięto starsze archiwum " + heldData(older[0]),
                                        "Usunięto starsze archiwum " + heldData(older[1])}));
    EXPECT_EQ(valueAt(out, static_cast<std::ptrdiff_t>(out.size()) - 5), kEnd);
}

TEST_F(CommandLine, ListTestAndRestoreAnArchive)
{
    ASSERT_EQ(run({"--archive", "--all", "--data", dataFolder(), "--output", archive()}).status, 0);
    const std::vector<std::string> names = filesOf(companiesWithFolders());

    Result r = run({"--list", archive()});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.outLines().size(), names.size());
    const std::vector<std::string> listed = r.outLines();
    EXPECT_EQ(std::count_if(listed.begin(), listed.end(),
                            [](const std::string &l) {
                                return l.find("FIRMA1\\KSIEGA.DBF       21506 byte(s) ") != std::string::npos;
                            }),
              1)
        << r.out;
    EXPECT_EQ(r.err, "");

    r = run({"--test", archive()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.outLines().size(), names.size() + 1);
    EXPECT_EQ(r.outLines().back(), "Archiwum sprawdzone: " + std::to_string(names.size()) + " plików");

    // Restore: never without --yes.
    const std::string book = company("FIRMA1") + PathDelim + "KSIEGA.DBF";
    const std::string original = ReadBytes(book);
    const std::string neighbour = ReadBytes(company("XFIRMA1") + PathDelim + "KSIEGA.DBF");
    WriteBytes(book, "zepsute");
    FileDelete(company("FIRMA1") + PathDelim + "PARAM.DAT");
    r = run({"--restore", "firma1", "--from", archive(), "--data", dataFolder()});
    EXPECT_EQ(r.status, 2);
    ASSERT_FALSE(r.errLines().empty());
    EXPECT_EQ(r.errLines().front(),
              "qvarchiwizator: Odtwarzanie zastępuje pliki firmy danymi z archiwum: potwierdź je opcją --yes");
    EXPECT_EQ(ReadBytes(book), "zepsute");

    r = run({"--restore", "firma1", "--from", archive(), "--data", dataFolder(), "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(book), original);
    EXPECT_TRUE(PathExists(company("FIRMA1") + PathDelim + "PARAM.DAT"));
    EXPECT_EQ(ReadBytes(company("XFIRMA1") + PathDelim + "KSIEGA.DBF"), neighbour);
    EXPECT_EQ(Tail(r.outLines(), 2), (std::vector<std::string>{" Kopiowanie/odtwarzanie z Archiwum zakończone. ",
                                                               " 5 plików, łączna wielkości 23896 bytes"}));
    EXPECT_TRUE(Contains(r.errLines(), "Na pewno odtworzyć  dane dla firmy Biuro Rachunkowe Małgorzata ?"));

    r = run({"--restore", "NIEMA", "--from", archive(), "--data", dataFolder(), "--yes"});
    EXPECT_EQ(r.status, 2);
    ASSERT_FALSE(r.errLines().empty());
    EXPECT_EQ(r.errLines().front(), "qvarchiwizator: Nieznana firma \"NIEMA\": rejestr SPISFIRM.DAT w katalogu " +
                                        heldData() + " nie ma takiego katalogu firmy");
    // A company of the register that the archive does not hold.
    ASSERT_EQ(run({"--archive", "--companies", "CWIK", "--data", dataFolder(), "--output", archive("cwik.cab")}).status,
              0);
    r = run({"--restore", "apteka", "--from", archive("cwik.cab"), "--data", dataFolder(), "--yes"});
    EXPECT_EQ(r.status, 1);
    ASSERT_FALSE(r.outLines().empty());
    EXPECT_EQ(r.outLines().back(), "*!* Nie odnaleziono danych wskazanej firmy w Archiwum *!*");

    // An archive that is not there: said before anything is asked.
    r = run({"--restore", "FIRMA1", "--from", archive("brak.cab"), "--data", dataFolder(), "--yes"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines(), std::vector<std::string>{"Brak pliku archiwum " + archive("brak.cab") + " !"});
    EXPECT_EQ(r.out, "");

    // Names that would steer a terminal or break a line are listed escaped.
    WriteBytes(archive("wrogie.cab"),
               cabtest::buildRawCabinet({{"FIRMA1\\\x1b]0;tytul\x07X.DBF", "a"}, {"FIRMA1\\A\nB\rC.DBF", "b"}}));
    r = run({"--list", archive("wrogie.cab")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find_first_of("\x1b\x07\r"), std::string::npos);
    ASSERT_EQ(r.outLines().size(), 2u) << r.out;
    EXPECT_TRUE(startsWith(r.outLines()[0], "FIRMA1\\<1B>]0;tytul<07>X.DBF "));
    EXPECT_TRUE(startsWith(r.outLines()[1], "FIRMA1\\A<0A>B<0D>C.DBF "));
}

TEST_F(CommandLine, EveryFailureEndsWithStatusOneAndSaysWhy)
{
    // Missing register.
    ASSERT_TRUE(ForceDirectories(file("pusty")));
    Result r = run({"--archive", "--all", "--data", file("pusty"), "--output", archive()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines(),
              std::vector<std::string>{"Podany katalog " + held(file("pusty")) + " nie zawiera pliku SPISFIRM.DAT"});
    EXPECT_EQ(r.out, "");

    // An output that names a folder, or that cannot be written (its folder
    // would have to be made inside a file): said before anything is compressed.
    WriteBytes(file("plik"), "x");
#ifdef _WIN32
    const int insideAFile = ERROR_DIRECTORY;
#else
    const int insideAFile = ENOTDIR;
#endif
    const struct {
        std::string output;
        std::string reason;
    } unwritable[] = {{file("plik/a.cab"), Simplified(SysErrorMessage(insideAFile))},
                      {dataFolder(), "pod tą nazwą jest katalog"}};
    for (const auto &u : unwritable) {
        r = run({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--output", u.output, "--yes"});
        EXPECT_EQ(r.status, 1);
        const std::vector<std::string> err = r.errLines();
        const std::ptrdiff_t at = indexOf(err, "Nie można zapisać archiwum " + u.output);
        ASSERT_GE(at, 0) << r.err;
        EXPECT_EQ(valueAt(err, at + 1), u.reason);
        EXPECT_EQ(r.out.find("-- Firma"), std::string::npos) << r.out;
    }

    // Damaged archive: its last blocks spoiled.
    ASSERT_EQ(run({"--archive", "--all", "--data", dataFolder(), "--output", archive()}).status, 0);
    std::string cab = ReadBytes(archive());
    for (std::size_t i = 1; i <= 64; ++i)
        cab[cab.size() - i] = static_cast<char>(cab[cab.size() - i] ^ 0x5A);
    WriteBytes(archive(), cab);
    r = run({"--test", archive()});
    EXPECT_EQ(r.status, 1);
    ASSERT_FALSE(r.outLines().empty());
    EXPECT_TRUE(startsWith(r.outLines().back(), "-!- Archiwum nie przeszło sprawdzenia: ")) << r.out;
    const std::string fund = ReadBytes(company("FUNDACJA") + PathDelim + "KSIEGA.DBF");
    r = run({"--restore", "FUNDACJA", "--from", archive(), "--data", dataFolder(), "--yes"});
    EXPECT_EQ(r.status, 1);
    ASSERT_FALSE(r.outLines().empty());
    EXPECT_EQ(r.outLines().back(), " *** Błąd wypakowania danych ! *** ");
    EXPECT_EQ(ReadBytes(company("FUNDACJA") + PathDelim + "KSIEGA.DBF"), fund);

    // Not a cabinet, and no file at all.
    WriteBytes(archive("tekst.cab"), "zwykły tekst");
    r = run({"--list", archive("tekst.cab")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines(), std::vector<std::string>{"Plik \"" + archive("tekst.cab") + "\" nie jest plikiem typu .CAB"});
    r = run({"--test", archive("brak.cab")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines(), std::vector<std::string>{"Brak pliku archiwum " + archive("brak.cab") + " !"});

    // A log file that cannot be opened stops the run before anything is done.
    r = run({"--archive", "--all", "--data", dataFolder(), "--output", archive("x.cab"), "--log", file("plik/d.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(startsWith(r.err, "Nie można otworzyć pliku dziennika " + file("plik/d.txt") + ": ")) << r.err;
    EXPECT_FALSE(PathExists(archive("x.cab")));

#ifndef _WIN32
    // A log file that takes no line (a full disk) fails the run, said on
    // standard error, though the archive itself was made. The log is a
    // file already past the largest file the run may write, which the
    // archive stays far below.
    const std::string full = file("pelny.log");
    {
        const OwnedHandle h(FileOpen(full, FileAccess::Write, FileShare::Read, FileDisposition::CreateAlways));
        ASSERT_NE(h.h, InvalidFileHandle);
        ASSERT_EQ(FileSeek(h.h, (std::int64_t{64} << 20) - 1, 0), (std::int64_t{64} << 20) - 1);
        ASSERT_EQ(FileWrite(h.h, "\n", 1), 1);
    }
    ChildOptions limited;
    limited.environment = HeadlessEnvironment(temp.path());
    limited.workingFolder = temp.path();
    const RunResult capped = RunProgram("sh",
                                        {"-c", "trap '' XFSZ; ulimit -f 16384; exec \"$0\" \"$@\"", program(),
                                         "--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--output",
                                         archive("x.cab"), "--log", full},
                                        limited, 120000);
    ASSERT_TRUE(capped.started && !capped.timedOut) << capped.startError;
    EXPECT_EQ(capped.status, 1);
    ASSERT_FALSE(capped.errLines().empty());
    EXPECT_TRUE(startsWith(capped.errLines().back(), "Nie można zapisać pliku dziennika " + full + ": "))
        << capped.err;
    ASSERT_FALSE(capped.outLines().empty());
    EXPECT_EQ(capped.outLines().back(), kEnd);
    EXPECT_TRUE(CabinetReadsBackWhole(archive("x.cab")));
    FileDelete(archive("x.cab"));
#endif

    // A device named as the log takes it, as a scheduled run's "no log" does.
#ifdef _WIN32
    const std::string nullDevice = "NUL";
#else
    const std::string nullDevice = "/dev/null";
#endif
    r = run({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--output", archive("x.cab"), "--log",
             nullDevice});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(CabinetReadsBackWhole(archive("x.cab")));
    FileDelete(archive("x.cab"));

    // A usage error, by contrast, is status 2.
    r = run({"--archive", "--companies", "FIRMA1,NIEMA", "--data", dataFolder(), "--output", archive("x.cab")});
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(PathExists(archive("x.cab")));
    EXPECT_TRUE(temporaries().empty()) << Join(temporaries());
}

TEST_F(CommandLine, TheLogFileGathersAWeekOfRunsAndTheProgressStaysOnTheTerminal)
{
    const std::string log = file("nocne.log");
    ASSERT_EQ(run({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--output", archive(), "--log", log})
                  .status,
              0);
    const Result refused =
        run({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--output", archive(), "--log", log});
    ASSERT_EQ(refused.status, 1);

#ifndef _WIN32
    if (!RunProgram("script", {"--version"}).started)
        GTEST_SKIP() << "no script(1) to give the program a terminal";
    // On a terminal: the progress line is drawn (and wiped) on standard output.
    ChildOptions options;
    options.environment = HeadlessEnvironment(temp.path());
    const RunResult tty = RunProgram("script",
                                     {"-qec",
                                      program() + " --archive --companies FIRMA1 --data " + dataFolder() + " --output " +
                                          archive() + " --yes --log " + log,
                                      "/dev/null"},
                                     options, 60000);
    ASSERT_TRUE(tty.started && !tty.timedOut) << tty.startError;
    EXPECT_TRUE(std::regex_search(tty.out, std::regex("\r100% \\([^)]+\\)"))) << tty.out;
#else
    // Wine gives a program no terminal to draw on: the third run writes to a
    // pipe, as a scheduled one does.
    ASSERT_EQ(run({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--output", archive(), "--yes",
                   "--log", log})
                  .status,
              0);
#endif

    const std::vector<std::string> lines = TextFileLines(ReadBytes(log));
    static const std::regex stamped("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} [^\\r]*$");
    std::vector<std::string> texts;
    for (const std::string &line : lines) {
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
        texts.push_back(line.size() > 20 ? line.substr(20) : std::string());
    }
    const auto count = [&](const std::string &text) { return std::count(texts.begin(), texts.end(), text); };
    EXPECT_EQ(count("=== koniec, kod wyjścia 0"), 2);
    EXPECT_EQ(count("=== koniec, kod wyjścia 1"), 1);
    EXPECT_EQ(count(kEnd), 2);
    EXPECT_EQ(count("Dokonać archiwizacji wybarnych firm ? [1 sztuk]"), 1);
    EXPECT_EQ(count("Odpowiedź: Nie - istniejący plik archiwum jest zastępowany tylko z opcją --yes"), 1);
    EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                            [](const std::string &t) { return t.find('%') != std::string::npos; }),
              0)
        << "no progress in the log";
    ASSERT_FALSE(texts.empty());
    EXPECT_TRUE(startsWith(texts.front(), "=== qvarchiwizator --archive --companies FIRMA1")) << texts.front();
    // Which archive each run made, above its lines.
    EXPECT_EQ(count("=== Zawartość archiwum archiwum.cab"), 2);
}

TEST_F(CommandLine, UploadsTheNewArchiveAndARefusedLoginFails)
{
    FtpServer server("qv", kPassword);
    QV_REQUIRE_FTP_SERVER(server);
    setting("host", "127.0.0.1");
    setting("port", std::to_string(server.port()));
    setting(kDataFolderKey, dataFolder());
    const std::string log = file("nocne.log");

    // The nightly run: archive, keep a week, send.
    Result r = run({"--archive", "--all", "--generate-name", "--keep", "7", "--upload", "--log", log});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::vector<std::string> made = FilesIn(dataFolder(), "Arch*.cab");
    ASSERT_EQ(made.size(), 1u);
    ASSERT_EQ(server.storedNames().size(), 1u);
    EXPECT_EQ(server.stored(server.storedNames()[0]), ReadBytes(inData(made[0])));
    const std::vector<std::string> out = r.outLines();
    EXPECT_TRUE(Contains(out, kEnd));
    EXPECT_TRUE(Contains(out, "Wysyłanie pliku " + made[0] + " - start"));
    EXPECT_EQ(out.back(), " *** Koniec przesyłania *** ");
    // However few of the progress lines the console keeps, the whole count is one.
    const std::ptrdiff_t sent = indexOf(out, "Koniec wysyłania");
    ASSERT_GT(sent, 0);
    EXPECT_EQ(out[static_cast<std::size_t>(sent) - 1], "Wysłano już (" + std::to_string(FileSizeOf(inData(made[0]))) + ")");
    EXPECT_TRUE(Contains(r.errLines(), "Wysłać plik \"" + made[0] + "\" internetowym protokołem FTP ?"));

    // A refused login: the archive is made, the upload fails, and so does the run.
    setting("pw", EncodeStoredValue("złe hasło", kFtpKeyString));
    r = run({"--archive", "--companies", "FIRMA1", "--output", archive(), "--upload"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.outLines(), kEnd));
    ASSERT_FALSE(r.outLines().empty());
    EXPECT_EQ(r.outLines().back(), " *** Przesyłanie nieudane *** ");
    EXPECT_EQ(r.out.find("Koniec przesyłania"), std::string::npos);
    EXPECT_TRUE(CabinetReadsBackWhole(archive()));
    EXPECT_EQ(server.storedNames().size(), 1u);

    // A failed archive is never sent.
    r = run({"--archive", "--companies", "LEG", "--output", archive("nic.cab"), "--upload"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("Wysyłanie"), std::string::npos);
}

TEST_F(CommandLine, ASecondRunOnABusyDataFolderWaitsThenGivesUpClearly)
{
    ASSERT_EQ(run({"--archive", "--companies", "CWIK", "--data", dataFolder(), "--output", archive("cwik.cab")}).status,
              0);
    const OwnedHandle held(holdDataFolder());
    Clock::time_point t = Clock::now();
    const Result r = run({"--archive", "--all", "--data", dataFolder(), "--output", archive(), "--lock-wait", "1"});
    EXPECT_GE(msSince(t), 1000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.outLines(), std::vector<std::string>{"Katalog danych " + heldData() +
                                                     " jest zajęty przez inną operację programu - czekam do 1 s ..."});
    EXPECT_EQ(r.errLines(), (std::vector<std::string>{"Katalog danych " + heldData() +
                                                          " jest zajęty przez inną operację programu "
                                                          "(archiwizację lub odtwarzanie).",
                                                      "Spróbuj ponownie, gdy się zakończy."}));
    EXPECT_FALSE(PathExists(archive()));

    // A restore waits the same way; Ctrl+C ends the wait at once.
    if (const std::string why = ChildProcess::InterruptUnavailable(); !why.empty())
        GTEST_SKIP() << "Ctrl+C: " << why;
    std::unique_ptr<ChildProcess> p =
        start({"--restore", "CWIK", "--from", archive("cwik.cab"), "--data", dataFolder(), "--yes"});
    waitForOutput(*p, "czekam do 60 s");
    ASSERT_TRUE(p->interrupt()) << p->stopError();
    t = Clock::now();
    const Result stopped = finish(std::move(p));
    EXPECT_LT(msSince(t), 5000);
    EXPECT_EQ(stopped.status, 1);
}

TEST_F(CommandLine, AWaitingRunGoesOnOnceTheFolderIsFree)
{
    auto held = std::make_unique<OwnedHandle>(holdDataFolder());
    std::unique_ptr<ChildProcess> p =
        start({"--archive", "--all", "--data", dataFolder(), "--output", archive(), "--lock-wait", "60"});
    waitForOutput(*p, "czekam do 60 s");
    EXPECT_FALSE(PathExists(archive()));
    held.reset();
    const Result r = finish(std::move(p));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(CabinetReadsBackWhole(archive()));
}

TEST_F(CommandLine, TwoRunsAtOnceOnOneDataFolderNeitherSpoilsTheOther)
{
    // Enough data that the two runs overlap.
    writeRandomFile(company("FIRMA1") + PathDelim + "DUZY.DAT", 6, 13);
    const std::vector<std::string> args{"--archive", "--all", "--data", dataFolder(), "--output", archive(), "--yes"};
    std::unique_ptr<ChildProcess> a = start(args);
    std::unique_ptr<ChildProcess> b = start(args);
    // And a restore in between, into the same data folder.
    ASSERT_EQ(run({"--archive", "--companies", "CWIK", "--data", dataFolder(), "--output", archive("cwik.cab")}).status,
              0);
    std::unique_ptr<ChildProcess> c =
        start({"--restore", "CWIK", "--from", archive("cwik.cab"), "--data", dataFolder(), "--yes"});
    const Result ra = finish(std::move(a));
    const Result rb = finish(std::move(b));
    const Result rc = finish(std::move(c));
    EXPECT_EQ(ra.status, 0) << ra.out << ra.err;
    EXPECT_EQ(rb.status, 0) << rb.out << rb.err;
    EXPECT_EQ(rc.status, 0) << rc.out << rc.err;
    EXPECT_TRUE(CabinetReadsBackWhole(archive()));
    EXPECT_EQ(CabinetNames(archive()), filesOf(companiesWithFolders()));
    EXPECT_TRUE(temporaries().empty()) << Join(temporaries());
}

// Ctrl+C, or the system ending the program (SIGTERM at shutdown): the run
// stops cleanly and its log says it was stopped, and by whom, so that a
// scheduled run's log does not read like damaged data. Windows sends a
// console program no SIGTERM: there Ctrl+C alone.
TEST_F(CommandLine, CtrlCOrSigtermStopsAnArchiveRunSaysSoAndLeavesTheOldArchiveAndNoTemporaries)
{
    if (const std::string why = ChildProcess::InterruptUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    // Large enough that the run is still compressing when the signal comes.
    writeRandomFile(company("FIRMA1") + PathDelim + "DUZY.DAT", 48, 7);
    ASSERT_EQ(run({"--archive", "--companies", "CWIK", "--data", dataFolder(), "--output", archive()}).status, 0);
    const std::string old = ReadBytes(archive());

    struct Stop {
        bool keyboard;
        std::string line;
    };
    std::vector<Stop> stops{{true, "-!- Przerwano na żądanie użytkownika (Ctrl+C) -!- "}};
    if (!kWindows)
        stops.push_back({false, "-!- Przerwano: system zakończył program (sygnał zakończenia, zamknięcie "
                                "konsoli lub systemu) -!- "});
    for (const Stop &stop : stops) {
        SCOPED_TRACE(stop.line);
        std::unique_ptr<ChildProcess> p =
            start({"--archive", "--companies", "FIRMA1", "--data", dataFolder(), "--output", archive(), "--yes"});
        waitForOutput(*p, "-- Firma : ");
        ASSERT_TRUE(stop.keyboard ? p->interrupt() : p->terminate()) << p->stopError();
        const Result r = finish(std::move(p));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(Tail(r.outLines(), 3), (std::vector<std::string>{stop.line, "***", "Błąd dodawania danych !"}))
            << r.out;
        EXPECT_EQ(ReadBytes(archive()), old);
        EXPECT_TRUE(temporaries().empty()) << Join(temporaries());
    }
}

TEST_F(CommandLine, AReaderOfTheOutputThatGoesAwayDoesNotStopTheRun)
{
    // Standard output is a pipe whose reading end is already closed, as after
    // "| head -1": every write fails.
    const auto [reading, writing] = MakePipe();
    FileClose(reading);
    ChildOptions options;
    options.environment = HeadlessEnvironment(temp.path());
    options.output = writing;
    ChildProcess child(program(), {"--archive", "--all", "--data", dataFolder(), "--output", archive()}, options);
    FileClose(writing);
    ASSERT_TRUE(child.started()) << child.startError();
    ASSERT_TRUE(child.wait());
    EXPECT_FALSE(child.crashed()) << "ended abnormally";
    EXPECT_EQ(child.exitCode(), 0) << child.errorOutput();
    EXPECT_TRUE(CabinetReadsBackWhole(archive()));
}

TEST_F(CommandLine, HelpVersionAndUsageErrors)
{
    Result r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(startsWith(r.out, "Użycie:\n  qvarchiwizator --archive")) << r.out;
    EXPECT_EQ(r.err, "");
    r = run({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "qvarchiwizator 1.0\n");
    r = run({"--archive", "--wszystkie"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.errLines(), (std::vector<std::string>{"qvarchiwizator: Nieznana opcja --wszystkie",
                                                      "Opis użycia: qvarchiwizator --help"}));
    EXPECT_EQ(r.out, "");
}

// Whatever the argument holds, it reaches the program as one argument with
// every character: Polish letters (UTF-16 on Windows), blanks, quotes and
// the backslashes of Windows paths. The refusal names it whole.
TEST_F(CommandLine, AnArgumentReachesTheProgramWhole)
{
    for (const std::string arg : {"zażółć gęślą jaźń", "dwa  słowa", "\"w cudzysłowie\"", "C:\\Program Files\\",
                                  "a\\\\\"b\\", "tab\tw środku", ""}) {
        const Result r = run({arg});
        EXPECT_EQ(r.status, 2) << arg;
        EXPECT_EQ(valueAt(r.errLines(), 0), "qvarchiwizator: Nieoczekiwany argument \"" + arg + "\"");
    }
}
