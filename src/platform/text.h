// UTF-8 text as the core handles it: Windows-1250 (the code page of every text
// the ledger program and the settings file hold) to and from Unicode, and
// letter case of names compared the way Windows compares file names.
//
// Case folding is our own table, not the C library's locale (which depends on
// the system's settings) nor a full Unicode table (which the core would have
// to carry). It covers Latin-1 and Latin Extended-A whole, so every letter of
// Windows-1250 (Polish Ą/ą .. Ż/ż, Czech, Slovak, Hungarian ...), plus the
// basic Greek and Cyrillic capitals. Bytes that are not valid UTF-8 compare as
// themselves, each distinct from every character.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace qv {

// The character of a Windows-1250 byte; bytes the code page leaves
// unassigned keep their C1 control code (0x81 -> U+0081).
char16_t Cp1250ToUnicode(unsigned char byte);
// The Windows-1250 byte of a character; '?' when the code page has none.
char UnicodeToCp1250(char32_t ch);

std::string Cp1250ToUtf8(std::string_view bytes);
// Characters without a Windows-1250 form, and bytes that are not valid UTF-8,
// become '?'.
std::string Utf8ToCp1250(std::string_view utf8);

#ifdef _WIN32
// UTF-8 to and from the UTF-16 of Windows' wide calls.
std::wstring Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::wstring_view utf16);
#endif

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool IsValidUtf8(std::string_view text);
// The characters of a UTF-8 text; each byte of an invalid sequence becomes
// U+DC00 + byte (a lone surrogate, which valid text never holds).
std::u32string DecodeUtf8(std::string_view text);

// A name from an archive or a folder made safe to print on a terminal, in a
// log file or a window: control characters (C0, DEL, C1) become <1B>, and the
// characters that reorder or break a line (bidirectional overrides, line and
// paragraph separators) <U+202E>; everything else stays as it is.
std::string PrintableName(std::string_view utf8);

// The lower-case form a letter folds to; any other character as it is.
char32_t FoldCase(char32_t ch);
// The capital a small letter of the same table belongs to.
char32_t UpperCaseOf(char32_t ch);
bool SameTextIgnoringCase(std::string_view a, std::string_view b);
std::string ToUpperText(std::string_view utf8);

std::string EncodeUtf8(std::u32string_view text);
// Characters, not bytes: what a column of text is counted in.
std::size_t CharacterCount(std::string_view utf8);

// The program's texts with numbered places: each %1 .. %9 of pattern becomes
// the argument of that number (inserted text is not looked at again); any
// other % stays.
std::string Format(std::string_view pattern, std::initializer_list<std::string_view> args);
// The text followed (PadRight) or preceded (PadLeft) by blanks up to width
// characters; a longer text stays whole.
std::string PadRight(std::string_view text, std::size_t width);
std::string PadLeft(std::string_view text, std::size_t width);
// White space (blanks, tabs, line breaks) trimmed from both ends; Simplified
// also turns every run of it inside into one blank.
std::string Trimmed(std::string_view text);
std::string Simplified(std::string_view text);

}  // namespace qv
