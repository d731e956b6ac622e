#include "settings/storedvalues.h"

#include "platform/text.h"
#include "settings/inifile.h"

#include <stdexcept>

namespace qv {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string TrimControls(const std::string &text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return text.substr(begin, end - begin);
}

std::string EncodeStoredValue(const std::string &text, const std::string &key)
{
    const std::string t = Utf8ToCp1250(text);
    const std::string k = Utf8ToCp1250(key);
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(t.size() * 2);
    for (std::size_t i = 0; i < t.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(t[i]);
        if (!k.empty())
            b = static_cast<unsigned char>(b ^ static_cast<unsigned char>(k[i % k.size()]));
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

std::string DecodeStoredValue(const std::string &hex, const std::string &key)
{
    const std::string k = Utf8ToCp1250(key);
    // Pairs of characters, not of bytes: a letter outside ASCII is no digit.
    const std::u32string chars = DecodeUtf8(hex);
    const auto digit = [](char32_t c) { return c < 0x80 ? hexDigit(static_cast<char>(c)) : -1; };
    std::string bytes;
    bytes.reserve(chars.size() / 2);
    for (std::size_t i = 0; 2 * i + 1 < chars.size(); ++i) {
        const int hi = digit(chars[2 * i]);
        const int lo = digit(chars[2 * i + 1]);
        unsigned char b = static_cast<unsigned char>(hi < 0 || lo < 0 ? 32 : hi * 16 + lo);
        if (!k.empty())
            b = static_cast<unsigned char>(b ^ static_cast<unsigned char>(k[i % k.size()]));
        bytes += static_cast<char>(b);
    }
    return Cp1250ToUtf8(bytes);
}

std::string QuoteForWrite(const std::string &value)
{
    if (value.empty())
        return value;
    const char first = value.front();
    const char last = value.back();
    if ((first == '"' && last == '"') || (first == '\'' && last == '\''))
        return '"' + value + '"';
    return value;
}

TStoredValue &TStoredValues::Add(const std::string &name, const std::string &value, const std::string &keyString)
{
    if (Trimmed(name).empty())
        throw std::invalid_argument("a stored value needs a name");
    if (Find(name))
        throw std::invalid_argument("duplicate stored value name: " + name);
    items_.push_back(TStoredValue{name, value, keyString});
    return items_.back();
}

TStoredValue *TStoredValues::Find(const std::string &name)
{
    for (TStoredValue &v : items_)
        if (SameTextIgnoringCase(v.Name, name))
            return &v;
    return nullptr;
}

const TStoredValue *TStoredValues::Find(const std::string &name) const
{
    return const_cast<TStoredValues *>(this)->Find(name);
}

std::string RestoredPropertyText(const IniFile &ini, const std::string &section, const std::string &key,
                                 const std::string &current)
{
    return TrimControls(ini.ReadString(section, key, current));
}

void RestoreStoredValues(const IniFile &ini, const std::string &section, TStoredValues &values)
{
    for (TStoredValue &v : values) {
        std::string text = v.Value;
        if (!v.KeyString.empty())
            text = EncodeStoredValue(text, v.KeyString);
        text = ini.ReadString(section, v.Name, text);
        if (!v.KeyString.empty())
            text = DecodeStoredValue(text, v.KeyString);
        v.Value = text;
    }
}

void SaveStoredValues(IniFile &ini, const std::string &section, const TStoredValues &values)
{
    for (const TStoredValue &v : values) {
        std::string text = v.Value;
        if (!v.KeyString.empty())
            text = EncodeStoredValue(text, v.KeyString);
        ini.WriteString(section, v.Name, QuoteForWrite(text));
    }
}

}  // namespace qv
