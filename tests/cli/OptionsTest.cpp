// The command line's arguments: each accepted form, and each refusal with
// the exact reason a scheduled job's owner will read.
#include "cli/Options.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

using namespace qv::cli;

namespace {

std::vector<std::string> split(const char *line)
{
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

struct Refused {
    const char *args;
    const char *message;
};

// Names each case by its arguments in the test list, not by its bytes.
void PrintTo(const Refused &r, std::ostream *os) { *os << '"' << r.args << '"'; }

class RefusedLine : public ::testing::TestWithParam<Refused> {};

}  // namespace

TEST_P(RefusedLine, NamesWhatIsWrong)
{
    try {
        ParseOptions(split(GetParam().args));
        ADD_FAILURE() << "accepted: " << GetParam().args;
    } catch (const UsageError &e) {
        EXPECT_EQ(e.message(), GetParam().message) << GetParam().args;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Usage, RefusedLine,
    ::testing::Values(
        Refused{"", "Brak polecenia: podaj --archive, --list, --test albo --restore"},
        Refused{"--all", "Brak polecenia: podaj --archive, --list, --test albo --restore"},
        Refused{"--archive --list a.cab", "Podaj jedno polecenie, nie --archive i --list"},
        Refused{"--archive --al", "Nieznana opcja --al"},
        Refused{"-a", "Nieoczekiwany argument \"-a\""},
        Refused{"--archive --all extra", "Nieoczekiwany argument \"extra\""},
        Refused{"--archive --all --all", "Opcja --all podana więcej niż raz"},
        Refused{"--archive --all=1", "Opcja --all nie przyjmuje wartości"},
        Refused{"--archive --companies", "Opcja --companies wymaga wartości"},
        Refused{"--archive", "--archive wymaga --all albo --companies KAT1,KAT2,..."},
        Refused{"--archive --all --companies A", "Podaj --all albo --companies, nie obie"},
        Refused{"--archive --companies A,,B", "Pusta nazwa firmy w --companies \"A,,B\""},
        Refused{"--archive --companies=", "Pusta nazwa firmy w --companies \"\""},
        Refused{"--archive --all --output a.cab --generate-name", "Podaj --output albo --generate-name, nie obie"},
        Refused{"--archive --all --keep 3", "--keep działa tylko z --generate-name"},
        Refused{"--archive --all --generate-name --keep 0",
                "Opcja --keep wymaga liczby całkowitej nie mniejszej niż 1, podano \"0\""},
        Refused{"--archive --all --generate-name --keep dwa",
                "Opcja --keep wymaga liczby całkowitej nie mniejszej niż 1, podano \"dwa\""},
        Refused{"--archive --all --lock-wait -1",
                "Opcja --lock-wait wymaga liczby całkowitej nie mniejszej niż 0, podano \"-1\""},
        Refused{"--archive --all --from a.cab", "Opcja --from nie dotyczy polecenia --archive"},
        Refused{"--list a.cab --yes", "Opcja --yes nie dotyczy polecenia --list"},
        Refused{"--test a.cab --data D", "Opcja --data nie dotyczy polecenia --test"},
        Refused{"--list a.cab --upload", "Opcja --upload nie dotyczy polecenia --list"},
        Refused{"--restore FIRMA1 --yes", "--restore wymaga --from PLIK.cab"},
        Refused{"--restore FIRMA1 --from a.cab",
                "Odtwarzanie zastępuje pliki firmy danymi z archiwum: potwierdź je opcją --yes"},
        Refused{"--restore FIRMA1 --from a.cab --upload --yes", "Opcja --upload nie dotyczy polecenia --restore"},
        Refused{"--archive --all --data=", "Opcja --data wymaga niepustej wartości"}));

TEST(AcceptedLine, ArchiveWithEverythingItTakes)
{
    const Options o = ParseOptions(split("--archive --companies firma1,Łęg --data /d --generate-name --keep=7 --upload "
                                         "--log /l.txt --yes --lock-wait 5"));
    EXPECT_EQ(o.command, Command::Archive);
    EXPECT_FALSE(o.all);
    EXPECT_EQ(o.companies, (std::vector<std::string>{"firma1", "Łęg"}));
    EXPECT_EQ(o.data, "/d");
    EXPECT_TRUE(o.generateName);
    EXPECT_EQ(o.keep, 7);
    EXPECT_TRUE(o.upload);
    EXPECT_EQ(o.log, "/l.txt");
    EXPECT_TRUE(o.yes);
    EXPECT_EQ(o.lockWaitSeconds, 5);
}

TEST(AcceptedLine, DefaultsAndTheOtherCommands)
{
    Options o = ParseOptions(split("--archive --all"));
    EXPECT_TRUE(o.all);
    EXPECT_TRUE(o.output.empty());
    EXPECT_FALSE(o.generateName);
    EXPECT_EQ(o.keep, 0);
    EXPECT_FALSE(o.yes);
    EXPECT_EQ(o.lockWaitSeconds, 60);

    // A value may itself begin like an option once it follows its option.
    o = ParseOptions({"--archive", "--all", "--output", "--dziwna nazwa.cab"});
    EXPECT_EQ(o.output, "--dziwna nazwa.cab");

    o = ParseOptions(split("--list /a/b.cab"));
    EXPECT_EQ(o.command, Command::List);
    EXPECT_EQ(o.file, "/a/b.cab");
    o = ParseOptions(split("--test=b.cab --log x"));
    EXPECT_EQ(o.command, Command::Test);
    EXPECT_EQ(o.file, "b.cab");
    o = ParseOptions(split("--restore FIRMA1 --from a.cab --yes --data D"));
    EXPECT_EQ(o.command, Command::Restore);
    EXPECT_EQ(o.company, "FIRMA1");
    EXPECT_EQ(o.file, "a.cab");

    // --help and --version answer whatever else the line holds.
    EXPECT_EQ(ParseOptions(split("--archive --nonsense --help")).command, Command::Help);
    EXPECT_EQ(ParseOptions(split("--version --list")).command, Command::Version);
}
