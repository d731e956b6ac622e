#include "settings/inifile.h"

#include "platform/cp1250.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/tempfiles.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace qv {

namespace {

const QByteArray kBom("\xEF\xBB\xBF");

struct Line {
    QByteArray text;  // without its line end
    QByteArray eol;   // "\r\n", "\n", or empty for a last line without one
};

enum class Kind { Other, Section, Key };

struct Parsed {
    Kind kind = Kind::Other;
    QByteArray name;   // section or key name, trimmed
    QByteArray value;  // key value, trimmed
};

QString decode(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return FromCP1250(bytes);
    return text;
}

bool sameName(const QByteArray &bytes, const QString &name)
{
    return decode(bytes).compare(name.trimmed(), Qt::CaseInsensitive) == 0;
}

Parsed parse(QByteArray text, bool first)
{
    if (first && text.startsWith(kBom))
        text.remove(0, kBom.size());
    const QByteArray t = text.trimmed();
    Parsed p;
    if (t.startsWith('[')) {
        const qsizetype close = t.indexOf(']');
        p.kind = Kind::Section;
        p.name = t.mid(1, close < 0 ? -1 : close - 1).trimmed();
        return p;
    }
    if (t.startsWith(';'))
        return p;
    const qsizetype eq = t.indexOf('=');
    if (eq <= 0)
        return p;
    p.kind = Kind::Key;
    p.name = t.left(eq).trimmed();
    p.value = t.mid(eq + 1).trimmed();
    return p;
}

std::vector<Line> splitLines(const QByteArray &data)
{
    std::vector<Line> lines;
    qsizetype start = 0;
    while (start < data.size()) {
        const qsizetype nl = data.indexOf('\n', start);
        if (nl < 0) {
            lines.push_back({data.mid(start), {}});
            break;
        }
        qsizetype end = nl;
        if (end > start && data[end - 1] == '\r')
            --end;
        lines.push_back({data.mid(start, end - start), data.mid(end, nl + 1 - end)});
        start = nl + 1;
    }
    return lines;
}

enum class ReadResult { Ok, Missing, Unreadable };

ReadResult readAll(const QString &fileName, QByteArray &out)
{
    QFile file(fileName);
    if (!file.exists())
        return ReadResult::Missing;
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly))
        return ReadResult::Unreadable;
    out = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return ReadResult::Unreadable;
    return ReadResult::Ok;
}

// The system's reason follows on a line of its own when there is one.
[[noreturn]] void unableToWrite(const QString &fileName, int osError = 0)
{
    QString text = QStringLiteral("Nie można zapisać pliku ustawień %1").arg(QDir::toNativeSeparators(fileName));
    if (osError != 0)
        text += QLatin1Char('\r') + QString::fromStdString(SysErrorMessage(osError)).trimmed();
    throw Exception(text.toStdString());
}

// The new text goes to an own temporary file beside the old one, reaches
// the disk, and only then takes the old one's name; the folder entry is
// flushed after. A crash or a full disk at any point leaves the old file or
// the new one, whole.
void replaceFile(const QString &fileName, const QByteArray &data)
{
    const QFileInfo info(fileName);
    // As before: a link is followed, and the file it points to is replaced.
    const QString resolved = info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
    const std::string target = QDir::toNativeSeparators(resolved).toStdString();
    const std::string folder = ExtractFilePath(target);
    std::string temp;
    const FileHandle h = CreateOwnTempFile(folder, "~" + ExtractFileName(target), temp);
    if (h == InvalidFileHandle)
        unableToWrite(fileName, LastOSError());
    // The copy gets the old file's permissions before it holds a byte: the
    // file keeps the FTP password.
    bool ok = !QFileInfo::exists(resolved) ||
              QFile::setPermissions(QString::fromStdString(temp), QFile::permissions(resolved));
    int error = 0;
    const auto failed = [&error] {
        if (error == 0)
            error = LastOSError();
        return false;
    };
    for (qsizetype done = 0; ok && done < data.size();) {
        const auto chunk = static_cast<std::uint32_t>(std::min<qsizetype>(data.size() - done, 1 << 20));
        const std::int64_t n = FileWrite(h, data.constData() + done, chunk);
        ok = n > 0 || failed();
        done += ok ? n : 0;
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

void checkName(const QString &name, const char *what)
{
    const QString t = name.trimmed();
    if (t.isEmpty() || t.contains(QLatin1Char('\n')) || t.contains(QLatin1Char('\r')) ||
        (what[0] == 's' && t.contains(QLatin1Char(']'))) ||
        (what[0] == 'k' && (t.contains(QLatin1Char('=')) || t.startsWith(QLatin1Char('[')) ||
                            t.startsWith(QLatin1Char(';')))))
        throw std::invalid_argument(std::string("invalid settings ") + what + " name: " + name.toStdString());
}

}  // namespace

std::optional<int> ParseDecimal(const QString &text)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return v;
}

std::optional<int> ParseIniInteger(const QString &text)
{
    const QString t = text.trimmed();
    if (t.size() > 2 && t[0] == QLatin1Char('0') && (t[1] == QLatin1Char('x') || t[1] == QLatin1Char('X'))) {
        const QString digits = t.mid(2);
        if (digits.size() > 8)
            return std::nullopt;
        for (QChar c : digits)
            if (!c.isDigit() && !QStringLiteral("abcdefABCDEF").contains(c))
                return std::nullopt;
        bool ok = false;
        const uint v = digits.toUInt(&ok, 16);
        if (!ok)
            return std::nullopt;
        return static_cast<int>(v);
    }
    // QString::toInt also takes a leading '+' and leading zeros, as the
    // decimal reading of the file does; it refuses blanks inside and overflow.
    return ParseDecimal(t);
}

IniFile::IniFile(QString fileName) : fileName_(std::move(fileName)) {}

std::optional<QString> IniFile::find(const QString &section, const QString &key) const
{
    QByteArray data;
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

QString IniFile::ReadString(const QString &section, const QString &key, const QString &defaultValue) const
{
    const std::optional<QString> found = find(section, key);
    QString value = found.value_or(defaultValue);
    // Only what the file holds loses its quotes; the caller's default is its own.
    if (found && value.size() >= 2) {
        const QChar q = value.front();
        if ((q == QLatin1Char('"') || q == QLatin1Char('\'')) && value.back() == q)
            value = value.mid(1, value.size() - 2);
    }
    if (value.size() > kMaxValueLength)
        value.truncate(kMaxValueLength);
    return value;
}

int IniFile::ReadInteger(const QString &section, const QString &key, int defaultValue) const
{
    // A missing key reads as the empty text, which is no integer either.
    return ParseIniInteger(ReadString(section, key, QString())).value_or(defaultValue);
}

void IniFile::WriteString(const QString &section, const QString &key, const QString &value)
{
    checkName(section, "section");
    checkName(key, "key");

    QByteArray data;
    const ReadResult rr = readAll(fileName_, data);
    if (rr == ReadResult::Unreadable)
        unableToWrite(fileName_);  // rewriting it would lose what we cannot read

    std::vector<Line> lines = splitLines(data);
    QByteArray eol("\r\n");
    for (const Line &l : lines) {
        if (!l.eol.isEmpty()) {
            eol = l.eol;
            break;
        }
    }

    QString flat = value;
    flat.replace(QLatin1String("\r\n"), QLatin1String(" "));
    flat.replace(QLatin1Char('\r'), QLatin1Char(' '));
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QByteArray keyLine = key.trimmed().toUtf8() + '=' + flat.toUtf8();

    auto insertAt = [&](std::size_t pos, QByteArray text) {
        if (pos > 0 && lines[pos - 1].eol.isEmpty())
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
        if (!lines[i].text.trimmed().isEmpty())
            lastFilled = i;
    }

    if (keyAt) {
        lines[*keyAt].text = keyLine;
    } else if (sectionAt) {
        insertAt(lastFilled + 1, keyLine);
    } else {
        if (!lines.empty() && !lines.back().text.trimmed().isEmpty() &&
            !(lines.size() == 1 && lines.back().text == kBom))
            insertAt(lines.size(), QByteArray());
        insertAt(lines.size(), '[' + section.trimmed().toUtf8() + ']');
        insertAt(lines.size(), keyLine);
    }

    QByteArray out;
    out.reserve(data.size() + keyLine.size() + 64);
    for (const Line &l : lines)
        out += l.text + l.eol;

    replaceFile(fileName_, out);
}

void IniFile::WriteInteger(const QString &section, const QString &key, int value)
{
    WriteString(section, key, QString::number(value));
}

}  // namespace qv
