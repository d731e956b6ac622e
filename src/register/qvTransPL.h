// Conversion of the 18 Polish letters between six code pages, and the guess
// whether a DOS text is Mazovia or CP852. Texts are 8-bit byte strings.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

using TPLCodePage = std::uint8_t;

constexpr TPLCodePage plAscii = 0;
constexpr TPLCodePage plMazovia = 1;
constexpr TPLCodePage plCP852 = 2;
constexpr TPLCodePage plMarks = 3;
constexpr TPLCodePage plISO88592 = 4;
constexpr TPLCodePage plCP1250 = 5;

std::string ConvertPL(const std::string &text, TPLCodePage source, TPLCodePage target);
std::string ConvertPLToWin1250(const std::string &text, TPLCodePage source);
// Writes plMazovia or plCP852 into codePage at the first byte of either
// detection set, or leaves it as it was.
void DetectPLCodePage(const std::string &text, TPLCodePage &codePage);

}  // namespace qv
