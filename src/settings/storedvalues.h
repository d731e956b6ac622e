// What the settings keepers keep besides window places: named values (the FTP
// connection values), some of them encoded, and the texts of controls, with
// the steps of a restore that need no window, shared by the windows' keepers
// and by the command line, which reads the same file to the same texts.
#pragma once

#include <string>
#include <vector>

namespace qv {

class IniFile;

// A named value. Name is unique within its collection (letter case aside).
// A non-empty KeyString makes the value be written encoded with it.
struct TStoredValue {
    std::string Name;
    std::string Value;
    std::string KeyString;
};

class TStoredValues {
public:
    // Adds a value; throws std::invalid_argument for an empty name or one
    // already present.
    TStoredValue &Add(const std::string &name, const std::string &value, const std::string &keyString = {});

    // The value of that name (letter case aside), or null.
    TStoredValue *Find(const std::string &name);
    const TStoredValue *Find(const std::string &name) const;

    int Count() const { return static_cast<int>(items_.size()); }
    std::vector<TStoredValue>::iterator begin() { return items_.begin(); }
    std::vector<TStoredValue>::iterator end() { return items_.end(); }
    std::vector<TStoredValue>::const_iterator begin() const { return items_.begin(); }
    std::vector<TStoredValue>::const_iterator end() const { return items_.end(); }

private:
    std::vector<TStoredValue> items_;
};

// Every character's Windows-1250 byte, combined by exclusive or with the key's
// byte at the same position (the key repeating), as two lower-case hexadecimal
// digits. An empty key gives the plain hexadecimal form.
std::string EncodeStoredValue(const std::string &text, const std::string &key);

// The inverse: each pair of digits (either case) gives a byte, a pair that is
// no hexadecimal number the byte 32, then combined with the key and read as
// Windows-1250. A last single character is ignored.
std::string DecodeStoredValue(const std::string &hex, const std::string &key);

// Texts lose leading and trailing blanks and control characters before they
// are kept or put back.
std::string TrimControls(const std::string &text);

// A text value passes through this before it is written: a value enclosed in
// matching quotes gets one more pair of double quotes, which the reading rule
// of the file removes again.
std::string QuoteForWrite(const std::string &value);

// The two steps of a restore that do not need the window:
// a stored property's text: the key's value, the property's current text
// when the key is missing, trimmed;
std::string RestoredPropertyText(const IniFile &ini, const std::string &section, const std::string &key,
                                 const std::string &current);
// the stored values, in collection order: each one's current text (encoded
// with its key string) is the default, what is read is decoded.
void RestoreStoredValues(const IniFile &ini, const std::string &section, TStoredValues &values);
// And the save of the stored values, each encoded with its key string.
void SaveStoredValues(IniFile &ini, const std::string &section, const TStoredValues &values);

}  // namespace qv
