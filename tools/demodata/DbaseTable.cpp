#include "DbaseTable.h"

#include "platform/text.h"

#include <cstdint>
#include <cstdio>
#include <iterator>

namespace qv::demo {

namespace {

void putLe16(std::string &b, std::size_t at, unsigned v)
{
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

void putLe32(std::string &b, std::size_t at, unsigned v)
{
    putLe16(b, at, v & 0xFFFF);
    putLe16(b, at + 2, v >> 16);
}

// Deterministic pseudo-random numbers, so every generated table is alike.
struct Lcg {
    unsigned state;
    unsigned next() { return state = state * 1103515245u + 12345u, (state >> 8) & 0xFFFFFF; }
};

// The date `days` after 2005-01-03 as dBase keeps it, "yyyyMMdd".
std::string DateAfterStart(int days)
{
    static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int y = 2005, m = 1, d = 3 + days;
    for (;;) {
        const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        const int inMonth = monthDays[m - 1] + (m == 2 && leap ? 1 : 0);
        if (d <= inMonth)
            break;
        d -= inMonth;
        if (++m > 12)
            m = 1, ++y;
    }
    char out[40];
    std::snprintf(out, sizeof out, "%04d%02d%02d", y, m, d);
    return out;
}

// Text padded with spaces to width, on the left or the right; longer text is
// kept whole unless cut is set.
std::string Justified(std::string text, std::size_t width, bool right, bool cut = false)
{
    if (text.size() < width)
        text.insert(right ? 0 : text.size(), width - text.size(), ' ');
    else if (cut)
        text.resize(width);
    return text;
}

// An amount in grosze as dBase's numeric field shows it, "1234.56".
std::string Amount(unsigned grosze)
{
    char out[32];
    std::snprintf(out, sizeof out, "%u.%02u", grosze / 100, grosze % 100);
    return out;
}

}  // namespace

std::string DbaseTable(int records, unsigned seed)
{
    struct Field {
        const char *name;
        char type;
        int length;
        int decimals;
    };
    static const Field fields[] = {
        {"LP", 'N', 6, 0}, {"DATA", 'D', 8, 0}, {"KONTO", 'C', 12, 0},
        {"OPIS", 'C', 40, 0}, {"WN", 'N', 14, 2}, {"MA", 'N', 14, 2},
    };
    unsigned recordLength = 1;
    for (const Field &f : fields)
        recordLength += static_cast<unsigned>(f.length);
    const std::size_t headerLength = 32 + 32 * std::size(fields) + 1;

    std::string table(headerLength, '\0');
    table[0] = 0x03;  // dBase III without memo
    table[1] = 105;   // last update 2005-03-03
    table[2] = 3;
    table[3] = 3;
    putLe32(table, 4, static_cast<unsigned>(records));
    putLe16(table, 8, static_cast<unsigned>(headerLength));
    putLe16(table, 10, recordLength);
    std::size_t at = 32;
    for (const Field &f : fields) {
        table.replace(at, std::char_traits<char>::length(f.name), f.name);
        table[at + 11] = f.type;
        table[at + 16] = static_cast<char>(f.length);
        table[at + 17] = static_cast<char>(f.decimals);
        at += 32;
    }
    table[headerLength - 1] = 0x0D;

    static const char *const descriptions[] = {
        "Zakup materiałów biurowych", "Sprzedaż towarów", "Wynagrodzenia za marzec",
        "Składki ZUS", "Opłata za czynsz", "Faktura korygująca", "Przelew od kontrahenta",
    };
    Lcg rng{seed};
    for (int r = 0; r < records; ++r) {
        std::string row(" ");
        row += Justified(std::to_string(r + 1), 6, true);
        row += DateAfterStart(static_cast<int>(rng.next() % 365));
        row += Justified(std::to_string(200 + rng.next() % 700), 12, false);
        row += Justified(Utf8ToCp1250(descriptions[rng.next() % std::size(descriptions)]), 40, false, true);
        const unsigned wn = rng.next() % 10000000;
        row += Justified(Amount(wn), 14, true);
        row += Justified(Amount(r % 3 ? 0 : wn), 14, true);
        table += row;
    }
    table += '\x1A';
    return table;
}

}  // namespace qv::demo
