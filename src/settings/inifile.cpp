#include "settings/inifile.h"

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/pathcase.h"
#include "platform/tempfiles.h"
#include "platform/text.h"

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <vector>

namespace qv {

namespace {

const std::string kBom("\xEF\xBB\xBF");

struct Line {
    std::string text;  // without its line end
    std::string eol;   // "\r\n", "\n", or empty for a last line without one
};

enum class Kind { Other, Section, Key };

struct Parsed {
    Kind kind = Kind::Other;
    std::string name;   // section or key name, trimmed
    std::string value;  // key value, trimmed
};

std::string decode(const std::string &bytes) { return IsValidUtf8(bytes) ? bytes : Cp1250ToUtf8(bytes); }

bool sameName(const std::string &bytes, const std::string &name)
{
    return SameTextIgnoringCase(decode(bytes), Trimmed(name));
}

bool startsWith(const std::string &s, const std::string &prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

Parsed parse(std::string text, bool first)
{
    if (first && startsWith(text, kBom))
        text.erase(0, kBom.size());
    const std::string t = Trimmed(text);
    Parsed p;
    if (!t.empty() && t[0] == '[') {
        const std::size_t close = t.find(']');
        p.kind = Kind::Section;
        p.name = Trimmed(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
        return p;
    }
    if (!t.empty() && t[0] == ';')
        return p;
    const std::size_t eq = t.find('=');
    if (eq == std::string::npos || eq == 0)
        return p;
    p.kind = Kind::Key;
    p.name = Trimmed(t.substr(0, eq));
    p.value = Trimmed(t.substr(eq + 1));
    return p;
}

std::vector<Line> splitLines(const std::string &data)
{
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < data.size()) {
        const std::size_t nl = data.find('\n', start);
        if (nl == std::string::npos) {
            lines.push_back({data.substr(start), {}});
            break;
        }
        std::size_t end = nl;
        if (end > start && data[end - 1] == '\r')
            --end;
        lines.push_back({data.substr(start, end - start), data.substr(end, nl + 1 - end)});
        start = nl + 1;
    }
    return lines;
}

enum class ReadResult { Ok, Missing, Unreadable };

ReadResult readAll(const std::string &fileName, std::string &out)
{
    if (!PathExists(fileName))
        return ReadResult::Missing;
    if (!FileExists(fileName) || !ReadWholeFile(fileName, out))
        return ReadResult::Unreadable;
    return ReadResult::Ok;
}

// The system's reason follows on a line of its own when there is one.
[[noreturn]] void unableToWrite(const std::string &fileName, int osError = 0)
{
    std::string text = Format("Nie można zapisać pliku ustawień %1", {ToNativeSeparators(fileName)});
    if (osError != 0)
        text += '\r' + Trimmed(SysErrorMessage(osError));
    throw Exception(text);
}

// The new text goes to an own temporary file beside the old one, reaches
// the disk, and only then takes the old one's name; the folder entry is
// flushed after. A crash or a full disk at any point leaves the old file or
// the new one, whole.
void replaceFile(const std::string &fileName, const std::string &data)
{
    // As before: a link is followed, and the file it points to is replaced.
    std::string target = PathIsLink(fileName) ? ResolvePath(fileName) : ExpandFileName(fileName);
    if (target.empty())
        target = ExpandFileName(fileName);
    const std::string folder = ExtractFilePath(target);
    std::string temp;
    const FileHandle h = CreateOwnTempFile(folder, "~" + ExtractFileName(target), temp);
    if (h == InvalidFileHandle)
        unableToWrite(fileName, LastOSError());
    int error = 0;
    const auto failed = [&error] {
        if (error == 0)
            error = LastOSError();
        return false;
    };
    // The copy gets the old file's permissions before it holds a byte: the
    // file keeps the FTP password.
    bool ok = !FileExists(target) || CopyFilePermissions(target, temp) || failed();
    for (std::size_t done = 0; ok && done < data.size();) {
        const auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(data.size() - done, 1u << 20));
        const std::int64_t n = FileWrite(h, data.data() + done, chunk);
        ok = n > 0 || failed();
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && (FileFlush(h) || failed());
    ok = (FileClose(h) || failed()) && ok;
    ok = ok && (FileRename(temp, target) || failed());
    if (!ok) {
        FileDelete(temp);
        unableToWrite(fileName, error);
    }
    // The new file already stands under its name: a folder that cannot be
    // flushed (one we may not read, say) does not make the write a failure.
    FlushDirectory(folder);
}

void checkName(const std::string &name, const char *what)
{
    const std::string t = Trimmed(name);
    if (t.empty() || t.find_first_of("\r\n") != std::string::npos ||
        (what[0] == 's' && t.find(']') != std::string::npos) ||
        (what[0] == 'k' && (t.find('=') != std::string::npos || t[0] == '[' || t[0] == ';')))
        throw std::invalid_argument(std::string("invalid settings ") + what + " name: " + name);
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

std::optional<int> ParseDecimal(std::string_view text)
{
    const std::string t = Trimmed(text);
    std::size_t i = 0;
    const bool negative = !t.empty() && t[0] == '-';
    if (!t.empty() && (t[0] == '-' || t[0] == '+'))
        ++i;
    if (i == t.size())
        return std::nullopt;
    long long v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9')
            return std::nullopt;
        v = v * 10 + (t[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1)
            return std::nullopt;
    }
    v = negative ? -v : v;
    if (v > INT_MAX || v < INT_MIN)
        return std::nullopt;
    return static_cast<int>(v);
}

std::optional<int> ParseIniInteger(std::string_view text)
{
    const std::string t = Trimmed(text);
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        const std::string digits = t.substr(2);
        if (digits.size() > 8 || !std::all_of(digits.begin(), digits.end(), isHexDigit))
            return std::nullopt;
        return static_cast<int>(static_cast<unsigned>(std::stoul(digits, nullptr, 16)));
    }
    // A leading '+' and leading zeros are taken, as the decimal reading of
    // the file does; blanks inside and overflow are not.
    return ParseDecimal(t);
}

IniFile::IniFile(std::string fileName) : fileName_(std::move(fileName)) {}

std::optional<std::string> IniFile::find(const std::string &section, const std::string &key) const
{
    std::string data;
    if (readAll(fileName_, data) != ReadResult::Ok)
        return std::nullopt;
    const std::vector<Line> lines = splitLines(data);
    bool inSection = false;
    bool sectionSeen = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Parsed p = parse(lines[i].text, i == 0);
        if (p.kind == Kind::Section) {
            if (inSection)
                return std::nullopt;  // only the first section of the name counts
            inSection = !sectionSeen && sameName(p.name, section);
            sectionSeen = sectionSeen || inSection;
        } else if (p.kind == Kind::Key && inSection && sameName(p.name, key)) {
            return decode(p.value);
        }
    }
    return std::nullopt;
}

std::string IniFile::ReadString(const std::string &section, const std::string &key,
                                const std::string &defaultValue) const
{
    const std::optional<std::string> found = find(section, key);
    std::string value = found.value_or(defaultValue);
    // Only what the file holds loses its quotes; the caller's default is its own.
    if (found && value.size() >= 2) {
        const char q = value.front();
        if ((q == '"' || q == '\'') && value.back() == q)
            value = value.substr(1, value.size() - 2);
    }
    std::u32string chars = DecodeUtf8(value);
    if (chars.size() > static_cast<std::size_t>(kMaxValueLength)) {
        chars.resize(kMaxValueLength);
        value = EncodeUtf8(chars);
    }
    return value;
}

int IniFile::ReadInteger(const std::string &section, const std::string &key, int defaultValue) const
{
    // A missing key reads as the empty text, which is no integer either.
    return ParseIniInteger(ReadString(section, key, std::string())).value_or(defaultValue);
}

void IniFile::WriteString(const std::string &section, const std::string &key, const std::string &value)
{
    checkName(section, "section");
    checkName(key, "key");

    std::string data;
    const ReadResult rr = readAll(fileName_, data);
    if (rr == ReadResult::Unreadable)
        unableToWrite(fileName_);  // rewriting it would lose what we cannot read

    std::vector<Line> lines = splitLines(data);
    std::string eol("\r\n");
    for (const Line &l : lines) {
        if (!l.eol.empty()) {
            eol = l.eol;
            break;
        }
    }

    std::string flat;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
            continue;  // "\r\n" becomes one blank, at its "\n"
        flat += (value[i] == '\r' || value[i] == '\n') ? ' ' : value[i];
    }
    const std::string keyLine = Trimmed(key) + '=' + flat;

    auto insertAt = [&](std::size_t pos, std::string text) {
        if (pos > 0 && lines[pos - 1].eol.empty())
            lines[pos - 1].eol = eol;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(pos), Line{std::move(text), eol});
    };

    std::optional<std::size_t> sectionAt;
    std::optional<std::size_t> keyAt;
    std::size_t lastFilled = 0;  // last non-blank line of the section
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Parsed p = parse(lines[i].text, i == 0);
        if (p.kind == Kind::Section) {
            if (sectionAt)
                break;
            if (sameName(p.name, section)) {
                sectionAt = i;
                lastFilled = i;
            }
            continue;
        }
        if (!sectionAt)
            continue;
        if (p.kind == Kind::Key && sameName(p.name, key)) {
            keyAt = i;
            break;
        }
        if (!Trimmed(lines[i].text).empty())
            lastFilled = i;
    }

    if (keyAt) {
        lines[*keyAt].text = keyLine;
    } else if (sectionAt) {
        insertAt(lastFilled + 1, keyLine);
    } else {
        if (!lines.empty() && !Trimmed(lines.back().text).empty() && !(lines.size() == 1 && lines.back().text == kBom))
            insertAt(lines.size(), std::string());
        insertAt(lines.size(), '[' + Trimmed(section) + ']');
        insertAt(lines.size(), keyLine);
    }

    std::string out;
    out.reserve(data.size() + keyLine.size() + 64);
    for (const Line &l : lines)
        out += l.text + l.eol;

    replaceFile(fileName_, out);
}

void IniFile::WriteInteger(const std::string &section, const std::string &key, int value)
{
    WriteString(section, key, std::to_string(value));
}

}  // namespace qv
