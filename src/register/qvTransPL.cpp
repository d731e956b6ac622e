#include "register/qvTransPL.h"

#include <array>
#include <string_view>

namespace qv {

namespace {

// Position p of every row stands for the same letter:
// ą ć ę ł ń ó ś ż ź Ą Ć Ę Ł Ń Ó Ś Ż Ź
constexpr std::array<std::string_view, 6> kLetters = {
    std::string_view("acelnoszzACELNOSZZ", 18),
    std::string_view("\x86\x8D\x91\x92\xA4\xA2\x9E\xA7\xA6\x8F\x95\x90\x9C\xA5\xA3\x98\xA1\xA0", 18),
    std::string_view("\xA5\x86\xA9\x88\xE4\xA2\x98\xBE\xAB\xA4\x8F\xA8\x9D\xE3\xE0\x97\xBD\x8D", 18),
    std::string_view(",',/''''`,',/'''-'", 18),
    std::string_view("\xB1\xE6\xEA\xB3\xF1\xF3\xB6\xBF\xBC\xA1\xC6\xCA\xA3\xD1\xD3\xA6\xAF\xAC", 18),
    std::string_view("\xB9\xE6\xEA\xB3\xF1\xF3\x9C\xBF\x9F\xA5\xC6\xCA\xA3\xD1\xD3\x8C\xAF\x8F", 18),
};

constexpr std::string_view kMazoviaSet("\x90\x91\x92\x95\x9C\x9E\xA0\xA1\xA3", 9);
constexpr std::string_view kCP852Set("\x88\x97\x98\x9D\xA8\xA9\xAB\xBE\xC6\xE0\xE3\xE4", 12);

}  // namespace

std::string ConvertPL(const std::string &text, TPLCodePage source, TPLCodePage target)
{
    if (source == target || source == plAscii || source == plMarks || source >= kLetters.size() ||
        target >= kLetters.size())
        return text;
    const std::string_view from = kLetters[source];
    if (target == plMarks) {
        std::string out;
        out.reserve(text.size() * 2);
        for (char c : text) {
            const auto p = from.find(c);
            if (p == std::string_view::npos) {
                out += c;
            } else {
                out += kLetters[plMarks][p];
                out += kLetters[plAscii][p];
            }
        }
        return out;
    }
    const std::string_view to = kLetters[target];
    std::string out = text;
    for (char &c : out) {
        const auto p = from.find(c);
        if (p != std::string_view::npos)
            c = to[p];
    }
    return out;
}

std::string ConvertPLToWin1250(const std::string &text, TPLCodePage source)
{
    return ConvertPL(text, source, plCP1250);
}

void DetectPLCodePage(const std::string &text, TPLCodePage &codePage)
{
    for (char c : text) {
        if (kMazoviaSet.find(c) != std::string_view::npos) {
            codePage = plMazovia;
            return;
        }
        if (kCP852Set.find(c) != std::string_view::npos) {
            codePage = plCP852;
            return;
        }
    }
}

}  // namespace qv
