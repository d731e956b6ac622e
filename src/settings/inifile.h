// The settings file's INI format, read and written by our own code so that it
// behaves the same on every platform:
//  - "[Section]" lines head sections, "key=value" lines hold keys; section and
//    key names are compared without regard to letter case; the first section
//    and the first key of a name count;
//  - names and values are trimmed of blanks and tabs; a value enclosed in one
//    pair of matching quotes (single or double) is read without them;
//  - a read gives at most 2047 characters; a missing file, section or key
//    gives the caller's default;
//  - integers are decimal, or hexadecimal when the text is longer than two
//    characters and begins with 0x or 0X;
//  - nothing is cached: every call reads the file, every write rewrites it.
//
// The file is UTF-8 (a value that is not valid UTF-8 is read as Windows-1250,
// for files edited with an old editor). CRLF and LF line ends are both read.
// A write keeps every line it does not change byte for byte, keeps each line's
// own line end, and ends lines it adds like the file's first line (CRLF in a
// new file). Each write replaces the whole file through a temporary file in
// the same folder and a rename, so a failed write leaves the old file as it was.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qv {

class IniFile {
public:
    static constexpr int kMaxValueLength = 2047;

    explicit IniFile(std::string fileName);

    const std::string &fileName() const { return fileName_; }

    std::string ReadString(const std::string &section, const std::string &key, const std::string &defaultValue) const;
    int ReadInteger(const std::string &section, const std::string &key, int defaultValue) const;

    // Replaces the key's value or adds the key, creating the section and the
    // file when needed. Throws qv::Exception "Nie można zapisać pliku
    // ustawień %s" (and the system's reason) and leaves the file unchanged
    // when it cannot be written. A line break in the value becomes a blank: a
    // value cannot span lines of the file.
    void WriteString(const std::string &section, const std::string &key, const std::string &value);
    void WriteInteger(const std::string &section, const std::string &key, int value);

private:
    std::optional<std::string> find(const std::string &section, const std::string &key) const;

    std::string fileName_;
};

// The integer rule of the file: decimal with an optional sign, or 0x/0X
// followed by up to eight hexadecimal digits (taken as a 32-bit pattern).
// Blanks around the text are allowed. Empty when the text is not an integer
// or does not fit in 32 bits.
std::optional<int> ParseIniInteger(std::string_view text);

// Decimal only, with an optional sign, as position lists are read.
std::optional<int> ParseDecimal(std::string_view text);

}  // namespace qv
