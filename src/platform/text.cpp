#include "platform/text.h"

#include <array>

namespace qv {

namespace {

// Unicode of the bytes 0x80..0xFF; 0 where the code page has no character.
constexpr std::array<char16_t, 128> kHigh = {
    0x20AC, 0,      0x201A, 0,      0x201E, 0x2026, 0x2020, 0x2021, 0,      0x2030, 0x0160, 0x2039, 0x015A,
    0x0164, 0x017D, 0x0179, 0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0,      0x2122,
    0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154,
    0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD,
    0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA,
    0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4,
    0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

void appendUtf8(std::string &out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Length of the valid sequence at text[i] and its character; 0 when invalid.
std::size_t decodeOne(std::string_view text, std::size_t i, char32_t &c)
{
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = b(i);
    std::size_t n;
    char32_t min;
    if (lead < 0x80) {
        c = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2, min = 0x80, c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3, min = 0x800, c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4, min = 0x10000, c = lead & 0x07;
    } else {
        return 0;
    }
    if (i + n > text.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (b(i + k) & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return n;
}

}  // namespace

char16_t Cp1250ToUnicode(unsigned char byte)
{
    if (byte < 0x80 || kHigh[byte - 0x80] == 0)
        return byte;
    return kHigh[byte - 0x80];
}

char UnicodeToCp1250(char32_t ch)
{
    if (ch < 0x80)
        return static_cast<char>(ch);
    for (std::size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == ch || (kHigh[i] == 0 && ch == 0x80 + i))
            return static_cast<char>(0x80 + i);
    return '?';
}

std::string Cp1250ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (char b : bytes)
        appendUtf8(out, Cp1250ToUnicode(static_cast<unsigned char>(b)));
    return out;
}

std::string Utf8ToCp1250(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (char32_t c : DecodeUtf8(utf8))
        out += (c >= 0xDC00 && c <= 0xDCFF) ? '?' : UnicodeToCp1250(c);
    return out;
}

bool IsValidUtf8(std::string_view text)
{
    char32_t c;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = decodeOne(text, i, c);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::u32string DecodeUtf8(std::string_view text)
{
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c;
        const std::size_t n = decodeOne(text, i, c);
        if (n == 0) {
            out += static_cast<char32_t>(0xDC00 + static_cast<unsigned char>(text[i]));
            ++i;
        } else {
            out += c;
            i += n;
        }
    }
    return out;
}

char32_t FoldCase(char32_t c)
{
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)  // Latin-1 capitals; 0xD7 is the multiplication sign
        return c + 0x20;
    if (c >= 0x100 && c <= 0x17F) {  // Latin Extended-A: capital and small side by side
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149)
            return c;  // dotted İ, dotless ı, kra, ŉ: no simple pair
        if (c == 0x178)
            return 0xFF;  // Ÿ
        if (c == 0x17F)
            return 's';  // long s
        const bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        return oddCapitals ? (c % 2 ? c + 1 : c) : (c | 1);
    }
    if ((c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F))  // Greek, Cyrillic
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F)  // Cyrillic Ѐ..Џ
        return c + 0x50;
    return c;
}

char32_t UpperCaseOf(char32_t c)
{
    if (c < 0x80)
        return c >= 'a' && c <= 'z' ? c - 0x20 : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)  // Latin-1 small letters; 0xF7 is the division sign
        return c - 0x20;
    if (c == 0xFF)
        return 0x178;  // ÿ
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x178 || c == 0x17F)
            return c;  // no simple pair, or a capital already
        const bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        return oddCapitals ? (c % 2 ? c : c - 1) : (c & ~char32_t{1});
    }
    if (c >= 0x3B1 && c <= 0x3CB)  // Greek; the final sigma is a sigma
        return c == 0x3C2 ? 0x3A3 : c - 0x20;
    if (c >= 0x430 && c <= 0x44F)  // Cyrillic
        return c - 0x20;
    if (c >= 0x450 && c <= 0x45F)  // Cyrillic ѐ..џ
        return c - 0x50;
    return c;
}

std::string ToUpperText(std::string_view utf8)
{
    std::u32string chars = DecodeUtf8(utf8);
    for (char32_t &c : chars)
        if (c < 0xDC00 || c > 0xDCFF)
            c = UpperCaseOf(c);
    return EncodeUtf8(chars);
}

std::string EncodeUtf8(std::u32string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        if (c >= 0xDC00 && c <= 0xDCFF)
            out += static_cast<char>(c - 0xDC00);  // a byte of invalid UTF-8 goes back as it came
        else
            appendUtf8(out, c);
    }
    return out;
}

std::size_t CharacterCount(std::string_view utf8) { return DecodeUtf8(utf8).size(); }

std::string Format(std::string_view pattern, std::initializer_list<std::string_view> args)
{
    std::string out;
    out.reserve(pattern.size() + 32);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const std::size_t n = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (n < args.size()) {
                out += *(args.begin() + n);
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

std::string PadRight(std::string_view text, std::size_t width)
{
    const std::size_t n = CharacterCount(text);
    return std::string(text) + std::string(n < width ? width - n : 0, ' ');
}

std::string PadLeft(std::string_view text, std::size_t width)
{
    const std::size_t n = CharacterCount(text);
    return std::string(n < width ? width - n : 0, ' ') + std::string(text);
}

namespace {

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::string Trimmed(std::string_view text)
{
    std::size_t b = 0, e = text.size();
    while (b < e && isSpace(text[b]))
        ++b;
    while (e > b && isSpace(text[e - 1]))
        --e;
    return std::string(text.substr(b, e - b));
}

std::string Simplified(std::string_view text)
{
    std::string out;
    bool blank = false;
    for (char c : Trimmed(text)) {
        if (isSpace(c)) {
            blank = true;
            continue;
        }
        if (blank)
            out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b)
{
    const std::u32string x = DecodeUtf8(a), y = DecodeUtf8(b);
    if (x.size() != y.size())
        return false;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (FoldCase(x[i]) != FoldCase(y[i]))
            return false;
    return true;
}

namespace {

bool reordersOrBreaksLines(char32_t c)
{
    return c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
           c == 0x200E || c == 0x200F || c == 0x061C;
}

}  // namespace

std::string PrintableName(std::string_view utf8)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(utf8.size());
    for (const char32_t c : DecodeUtf8(utf8)) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0xDC00 && c <= 0xDCFF)) {
            // Bytes of invalid UTF-8 come as U+DC00 + byte: shown as the byte.
            const unsigned v = c >= 0xDC00 ? static_cast<unsigned>(c - 0xDC00) : static_cast<unsigned>(c);
            out += '<';
            out += hex[(v >> 4) & 0xF];
            out += hex[v & 0xF];
            out += '>';
        } else if (reordersOrBreaksLines(c)) {
            out += "<U+";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += hex[(c >> shift) & 0xF];
            out += '>';
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

}  // namespace qv
