// The restore journal from bytes: what is written reads back, marks are read
// only whole, and anything damaged, cut short or hostile is refused whole.
#include "archive/RestoreJournal.h"

#include "CoreTest.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <random>

using namespace qv;
using Stage = RestoreJournal::Stage;

namespace {

RestoreJournal moving()
{
    RestoreJournal j;
    j.company = "FIRMA1";
    j.companyExisted = true;
    j.stage = Stage::Moving;
    j.moves = {{"KSIEGA.DBF", true},
               {"SUB\\Zażółć gęślą.TXT", false},
               {"50% rabatu\tnowy\nwiersz.txt", true},
               // Windows drops a trailing blank, so there no name may end in one.
               {qv::test::kWindows ? "z spacją w środku.txt" : "z spacją na końcu ", false}};
    return j;
}

bool sameJournal(const RestoreJournal &a, const RestoreJournal &b)
{
    if (a.company != b.company || a.companyExisted != b.companyExisted || a.stage != b.stage ||
        a.moves.size() != b.moves.size())
        return false;
    for (std::size_t i = 0; i < a.moves.size(); ++i)
        if (a.moves[i].name != b.moves[i].name || a.moves[i].replaces != b.moves[i].replaces)
            return false;
    return true;
}

}  // namespace

TEST(RestoreJournal, WhatIsWrittenReadsBackWithItsMark)
{
    RestoreJournal extracting;
    extracting.company = "XFIRMA1";
    extracting.companyExisted = false;
    const auto e = ParseRestoreJournal(FormatRestoreJournal(extracting));
    ASSERT_TRUE(e);
    EXPECT_TRUE(sameJournal(*e, extracting));

    const RestoreJournal j = moving();
    const std::string text = FormatRestoreJournal(j);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 9) << "one line per record, whatever the names hold";
    const auto m = ParseRestoreJournal(text);
    ASSERT_TRUE(m);
    EXPECT_TRUE(sameJournal(*m, j));

    RestoreJournal done = j, undone = j;
    done.stage = Stage::Done;
    undone.stage = Stage::Undone;
    const auto d = ParseRestoreJournal(text + RestoreJournalMark(Stage::Done));
    const auto u = ParseRestoreJournal(text + RestoreJournalMark(Stage::Undone));
    ASSERT_TRUE(d && u);
    EXPECT_TRUE(sameJournal(*d, done));
    EXPECT_TRUE(sameJournal(*u, undone));
}

TEST(RestoreJournal, AMarkCutShortOrGarbledCountsAsNoMark)
{
    const std::string text = FormatRestoreJournal(moving());
    for (const std::string &tail : std::vector<std::string>{"g", "gotow", "gotowe", "gotowe\ngotowe\n", "wycofane", "GOTOWE\n",
                                   std::string("\0\0\0\0\0\0\0", 7), "gotowe\nwycofane\n"}) {
        SCOPED_TRACE(tail);
        const auto j = ParseRestoreJournal(text + tail);
        ASSERT_TRUE(j);
        EXPECT_EQ(j->stage, Stage::Moving);
    }
    RestoreJournal extracting;
    extracting.company = "FIRMA1";
    const auto e = ParseRestoreJournal(FormatRestoreJournal(extracting) + RestoreJournalMark(Stage::Done));
    ASSERT_TRUE(e);
    EXPECT_EQ(e->stage, Stage::Extracting) << "a mark means nothing before the moves are journalled";
}

TEST(RestoreJournal, EveryCutAndEveryChangedByteIsRefused)
{
    const std::string text = FormatRestoreJournal(moving());
    for (std::size_t n = 0; n < text.size(); ++n)
        EXPECT_FALSE(ParseRestoreJournal(text.substr(0, n))) << "cut after " << n << " bytes";
    for (std::size_t i = 0; i < text.size(); ++i) {
        for (unsigned char flip : {0x01, 0x20, 0x80}) {
            std::string changed = text;
            changed[i] = static_cast<char>(changed[i] ^ flip);
            EXPECT_FALSE(ParseRestoreJournal(changed)) << "byte " << i << " ^ " << int(flip);
        }
    }
}

// A journal with a correct checksum is still refused when what it says could
// lead a move out of the company folder.
TEST(RestoreJournal, HostileContentWithACorrectChecksumIsRefused)
{
    for (const std::string company : {"", ".", "..", "A\\B", "A/B", "C:", "C:FIRMA"}) {
        SCOPED_TRACE("company " + company);
        RestoreJournal j = moving();
        j.company = company;
        EXPECT_FALSE(ParseRestoreJournal(FormatRestoreJournal(j)));
    }
    for (const std::string name : {"", "..\\XFIRMA1\\KSIEGA.DBF", "..", ".", "A\\..\\..\\x", "\\abs", "/abs",
                                   "C:\\x", "C:x", "A\\\\B", "A\\", "A\\.\\B", "KSIEGA.DBF:strumien"}) {
        SCOPED_TRACE("name " + name);
        RestoreJournal j = moving();
        j.moves.push_back({name, false});
        EXPECT_FALSE(ParseRestoreJournal(FormatRestoreJournal(j)));
    }
    RestoreJournal twice = moving();
    twice.moves.push_back(twice.moves.front());
    EXPECT_FALSE(ParseRestoreJournal(FormatRestoreJournal(twice))) << "one file moved twice";
}

TEST(RestoreJournal, HandWrittenDamageIsRefused)
{
    const std::string header = "qvArchiwizator: dziennik odtwarzania 1\n";
    const std::string good = FormatRestoreJournal(moving());
    const std::vector<std::pair<const char *, std::string>> cases = {
        {"empty", ""},
        {"header only", header},
        {"another version", "qvArchiwizator: dziennik odtwarzania 2\n" + good.substr(header.size())},
        {"escape cut short", header + "katalog FIRMA%4\n"},
        {"escape not hex", header + "katalog FIRMA%G1\n"},
        {"count with a sign", std::string(good).replace(good.find("koniec 4"), 8, "koniec +4")},
        {"count with a leading zero", std::string(good).replace(good.find("koniec 4"), 8, "koniec 04")},
        {"no trailer", good.substr(0, good.find("koniec"))},
        {"too big", header + std::string((64u << 20) + 1, 'x')},
    };
    for (const auto &[why, bytes] : cases)
        EXPECT_FALSE(ParseRestoreJournal(bytes)) << why;
}

// Random damage of several kinds: the parser never crashes, and what it
// accepts is the journal as written, only its mark possibly lost.
TEST(RestoreJournal, RandomDamageNeverYieldsAnotherJournal)
{
    const RestoreJournal written = moving();
    const std::string good = FormatRestoreJournal(written) + RestoreJournalMark(Stage::Done);
    std::mt19937 rng(20050303);
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string bytes = good;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !bytes.empty(); ++e) {
            const std::size_t at = rng() % bytes.size();
            switch (rng() % 5) {
            case 0: bytes[at] = static_cast<char>(rng()); break;
            case 1: bytes.erase(at, 1 + rng() % 8); break;
            case 2: bytes.insert(at, 1, static_cast<char>(rng())); break;
            case 3: bytes.insert(at, bytes.substr(rng() % bytes.size(), 1 + rng() % 40)); break;
            default: bytes.resize(at); break;
            }
        }
        const auto j = ParseRestoreJournal(bytes);
        if (!j)
            continue;
        ++accepted;
        RestoreJournal read = *j;
        EXPECT_TRUE(read.stage == Stage::Done || read.stage == Stage::Moving);
        read.stage = Stage::Moving;
        EXPECT_TRUE(sameJournal(read, written));
    }
    EXPECT_GT(accepted, 0) << "damage to the mark alone was never drawn";
}

TEST(RestoreJournal, NamesThatMayBeJoinedToACompanyFolder)
{
    for (const char *safe : {"KSIEGA.DBF", ".ukryty", "..DAT", "SUB\\X.DBF", "SUB/X.DBF", "a b", "Zażółć", "CONSOLE.DBF",
                             "NULL", "COM10"})
        EXPECT_TRUE(IsSafeNameInCompany(safe)) << safe;
    // What Windows would take for another name (trailing dots and blanks
    // dropped) or for a device, in any folder and with any extension.
    for (const char *windows : {"KSIEGA.DBF.", "a ", "SUB.\\X", "CON", "con.txt", "SUB\\NUL", "Lpt1.DBF", "COM9",
                                "AUX .txt", "CONIN$", "x<y", "a?b", "a*b", "a|b", "a\"b"})
        EXPECT_EQ(IsSafeNameInCompany(windows), !qv::test::kWindows) << windows;
    for (const char *unsafe : {"", ".", "..", "..\\X", "A\\..", "A\\..\\B", "\\X", "/X", "X\\", "A\\\\B", "C:X",
                               "C:\\X", "A\\B:C", "A/./B"})
        EXPECT_FALSE(IsSafeNameInCompany(unsafe)) << unsafe;
    EXPECT_TRUE(IsSafeCompanyFolderName("FIRMA1"));
    EXPECT_FALSE(IsSafeCompanyFolderName("A\\B"));
    EXPECT_FALSE(IsSafeCompanyFolderName("A/B"));
}
