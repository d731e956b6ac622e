// The generated form is matched whole and its stamp must be a real date and
// time, and the file must read as a cabinet, so that --keep can never take a
// name that merely resembles one (a copy "Arch2005-03-03_1415.cab.bak", a
// link, a folder, a user's text file) for an old archive.
#include "archive/ArchiveName.h"

#include "cabinet/CabSTComps.h"
#include "platform/pathcase.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace qv {

QString FirstWord(const QString &text)
{
    const auto isSeparator = [](QChar c) { return c.unicode() >= 1 && c.unicode() <= 32; };
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        while (i < n && isSeparator(text[i]))
            ++i;
        QString word;
        bool quoted = false;
        bool any = false;
        while (i < n && (quoted || !isSeparator(text[i]))) {
            if (text[i] == QLatin1Char('"'))
                quoted = !quoted;
            else
                word += text[i];
            any = true;
            ++i;
        }
        // A lone pair of quotes is no word: go on to the next one.
        if (!word.isEmpty() || !any)
            return word;
    }
    return QString();
}

QString ArchiveFileNameFromText(const QString &text)
{
    QString name;
    if (!text.isEmpty() && QFileInfo(text).isFile())
        name = text;
    else
        name = FirstWord(text);
    return name.size() > kMaxArchiveNameLength ? QString() : name;
}

QString DataFolderAsHeld(const QString &folder) { return FileSystemIgnoresCase() ? folder.toUpper() : folder; }

namespace {

const QString kStampFormat = QStringLiteral("yyyy-MM-dd_HHmm");

bool isCabinet(const QString &path)
{
    try {
        TSTCabReader reader;
        cab::FDICABINETINFO info{};
        return reader.IsCabinet(path.toStdString(), info);
    } catch (const std::exception &) {
        return false;  // what cannot be read cannot be shown to be an archive
    }
}

}  // namespace

QString GeneratedArchiveName(const QString &dataFolder, const QDateTime &now)
{
    return JoinFsPath(dataFolder, QStringLiteral("Arch") + now.toString(kStampFormat) + QStringLiteral(".cab"));
}

bool IsGeneratedArchiveName(const QString &fileName)
{
    // Anchored whole: "$" alone would let a name end in a line break.
    static const QRegularExpression form(
        QRegularExpression::anchoredPattern(QStringLiteral("Arch([0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{4})\\.cab")));
    const QRegularExpressionMatch m = form.match(fileName);
    // A name that only looks like one ("Arch2005-13-45_9999.cab") was not
    // made by the generator.
    return m.hasMatch() && QDateTime::fromString(m.captured(1), kStampFormat).isValid();
}

GeneratedArchives FindGeneratedArchives(const QString &folder, int keep, const QString &current, const QDateTime &now)
{
    // Compared as the system finds them, links and letter case resolved.
    const QString currentPath = current.isEmpty() ? QString() : QFileInfo(current).canonicalFilePath();
    // A stamp counts to the minute, as the generator writes it.
    const QString nowStamp = now.toString(kStampFormat);
    GeneratedArchives found;
    QStringList names;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo &entry : entries) {
        // A link is not an archive of ours, whatever it points to.
        if (entry.isSymLink() || !entry.isFile() || !IsGeneratedArchiveName(entry.fileName()))
            continue;
        if (!currentPath.isEmpty() && entry.canonicalFilePath() == currentPath) {
            --keep;
            continue;
        }
        // Only a cabinet is an archive: a file of the user's that merely
        // bears such a name is not ours to delete.
        if (!isCabinet(entry.filePath()))
            continue;
        // "Arch" + stamp + ".cab": the stamp sorts as the time does.
        if (entry.fileName().mid(4, nowStamp.size()) > nowStamp)
            found.future << QDir(folder).filePath(entry.fileName());
        else
            names << entry.fileName();
    }
    // The stamp runs from the largest unit down, so name order is time order.
    std::sort(names.begin(), names.end());
    const qsizetype extra = std::max<qsizetype>(0, names.size() - std::max(0, keep));
    for (qsizetype i = 0; i < extra; ++i)
        found.beyond << QDir(folder).filePath(names[i]);
    return found;
}

}  // namespace qv
