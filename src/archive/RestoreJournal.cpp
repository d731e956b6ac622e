#include "archive/RestoreJournal.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <set>

namespace qv {

namespace {

constexpr std::string_view kHeader = "qvArchiwizator: dziennik odtwarzania 1\n";
constexpr std::string_view kDone = "gotowe\n";
constexpr std::string_view kUndone = "wycofane\n";
// Far above any real journal (10,000 moves take about 300 kB); a bigger file
// is damage, and is not read whole into memory.
constexpr std::size_t kMaxJournalBytes = 64u << 20;

std::uint64_t fnv1a(std::string_view bytes)
{
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// Control characters and "%" as %XX, so that every record stays on one line.
std::string escape(const std::string &text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == '%') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::string> unescape(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F)
            return std::nullopt;
        if (c != '%') {
            out += static_cast<char>(c);
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int hi = hexValue(text[i + 1]), lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

bool parseCount(std::string_view text, std::size_t &value)
{
    if (text.empty() || text.size() > 9 || (text.size() > 1 && text[0] == '0'))
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    return true;
}

bool takePrefix(std::string_view &line, std::string_view prefix)
{
    if (line.substr(0, prefix.size()) != prefix)
        return false;
    line.remove_prefix(prefix.size());
    return true;
}

bool isSafePart(std::string_view part)
{
    if (part.empty() || part == "." || part == "..")
        return false;
    if (part.find(':') != std::string_view::npos || part.find('\0') != std::string_view::npos)
        return false;
#ifdef _WIN32
    // Windows drops trailing dots and blanks and opens devices by name.
    if (part.back() == '.' || part.back() == ' ')
        return false;
    if (part.find_first_of("<>\"|?*") != std::string_view::npos)
        return false;
    std::string stem(part.substr(0, part.find('.')));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char &c : stem)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const std::set<std::string> devices = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                                  "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                                  "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9",
                                                  "CONIN$", "CONOUT$"};
    if (devices.count(stem))
        return false;
#endif
    return true;
}

// "\" between folders, whichever separator the name came with.
std::string canonicalName(std::string name)
{
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

}  // namespace

bool IsSafeNameInCompany(const std::string &name)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '\\' || name[i] == '/') {
            if (!isSafePart(std::string_view(name).substr(start, i - start)))
                return false;
            start = i + 1;
        }
    }
    return true;
}

bool IsSafeCompanyFolderName(const std::string &name)
{
    return name.find_first_of("\\/") == std::string::npos && IsSafeNameInCompany(name);
}

std::string FormatRestoreJournal(const RestoreJournal &journal)
{
    std::string out(kHeader);
    out += "katalog " + escape(journal.company) + "\n";
    out += journal.companyExisted ? "istnial tak\n" : "istnial nie\n";
    const bool moving = journal.stage != RestoreJournal::Stage::Extracting;
    out += moving ? "etap przenoszenie\n" : "etap wypakowanie\n";
    if (moving)
        for (const RestoreJournal::Move &m : journal.moves)
            out += std::string("plik ") + (m.replaces ? "+ " : "- ") + escape(canonicalName(m.name)) + "\n";
    char trailer[64];
    std::snprintf(trailer, sizeof trailer, "koniec %zu %016llx\n", moving ? journal.moves.size() : std::size_t{0},
                  static_cast<unsigned long long>(fnv1a(out)));
    return out + trailer;
}

std::string RestoreJournalMark(RestoreJournal::Stage stage)
{
    return std::string(stage == RestoreJournal::Stage::Undone ? kUndone : kDone);
}

std::optional<RestoreJournal> ParseRestoreJournal(std::string_view bytes)
{
    if (bytes.size() > kMaxJournalBytes || bytes.substr(0, kHeader.size()) != kHeader)
        return std::nullopt;
    RestoreJournal journal;
    std::size_t at = kHeader.size();
    // The next whole line without its "\n"; false at the end or on a torn line.
    auto nextLine = [&](std::string_view &line) {
        const std::size_t end = bytes.find('\n', at);
        if (end == std::string_view::npos)
            return false;
        line = bytes.substr(at, end - at);
        at = end + 1;
        return true;
    };

    std::string_view line;
    if (!nextLine(line) || !takePrefix(line, "katalog "))
        return std::nullopt;
    const std::optional<std::string> company = unescape(line);
    if (!company || !IsSafeCompanyFolderName(*company))
        return std::nullopt;
    journal.company = *company;

    if (!nextLine(line))
        return std::nullopt;
    if (line == "istnial tak")
        journal.companyExisted = true;
    else if (line == "istnial nie")
        journal.companyExisted = false;
    else
        return std::nullopt;

    if (!nextLine(line))
        return std::nullopt;
    if (line == "etap wypakowanie")
        journal.stage = RestoreJournal::Stage::Extracting;
    else if (line == "etap przenoszenie")
        journal.stage = RestoreJournal::Stage::Moving;
    else
        return std::nullopt;

    std::set<std::string> seen;
    for (;;) {
        const std::size_t lineStart = at;
        if (!nextLine(line))
            return std::nullopt;
        if (takePrefix(line, "plik ")) {
            if (journal.stage != RestoreJournal::Stage::Moving || line.size() < 2 || line[1] != ' ' ||
                (line[0] != '+' && line[0] != '-'))
                return std::nullopt;
            const std::optional<std::string> name = unescape(line.substr(2));
            if (!name || !IsSafeNameInCompany(*name) || canonicalName(*name) != *name || !seen.insert(*name).second)
                return std::nullopt;
            journal.moves.push_back({*name, line[0] == '+'});
            continue;
        }
        if (!takePrefix(line, "koniec "))
            return std::nullopt;
        const std::size_t blank = line.find(' ');
        std::size_t count = 0;
        if (blank == std::string_view::npos || !parseCount(line.substr(0, blank), count) ||
            count != journal.moves.size())
            return std::nullopt;
        char expected[32];
        std::snprintf(expected, sizeof expected, "%016llx",
                      static_cast<unsigned long long>(fnv1a(bytes.substr(0, lineStart))));
        if (line.substr(blank + 1) != expected)
            return std::nullopt;
        break;
    }

    // An append cut short reads as no mark, which is always safe to act on.
    const std::string_view rest = bytes.substr(at);
    if (journal.stage == RestoreJournal::Stage::Moving) {
        if (rest == kDone)
            journal.stage = RestoreJournal::Stage::Done;
        else if (rest == kUndone)
            journal.stage = RestoreJournal::Stage::Undone;
    }
    return journal;
}

}  // namespace qv
