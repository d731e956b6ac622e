// The generated form is matched whole and its stamp must be a real date and
// time, and the file must read as a cabinet, so that --keep can never take a
// name that merely resembles one (a copy "Arch2005-03-03_1415.cab.bak", a
// link, a folder, a user's text file) for an old archive.
#include "archive/ArchiveName.h"

#include "cabinet/CabSTComps.h"
#include "platform/files.h"
#include "platform/pathcase.h"
#include "platform/text.h"

#include <algorithm>
#include <cstdio>

namespace qv {

std::string FirstWord(const std::string &text)
{
    const auto isSeparator = [](char c) { return c >= 1 && c <= 32; };
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        while (i < n && isSeparator(text[i]))
            ++i;
        std::string word;
        bool quoted = false;
        bool any = false;
        while (i < n && (quoted || !isSeparator(text[i]))) {
            if (text[i] == '"')
                quoted = !quoted;
            else
                word += text[i];
            any = true;
            ++i;
        }
        // A lone pair of quotes is no word: go on to the next one.
        if (!word.empty() || !any)
            return word;
    }
    return {};
}

std::string ArchiveFileNameFromText(const std::string &text)
{
    const std::string name = !text.empty() && FileExists(text) ? text : FirstWord(text);
    return CharacterCount(name) > kMaxArchiveNameLength ? std::string() : name;
}

std::string DataFolderAsHeld(const std::string &folder)
{
    return FileSystemIgnoresCase() ? ToUpperText(folder) : folder;
}

namespace {

// "yyyy-mm-dd_hhmm", which sorts as the time does.
std::string stamp(const LocalDateTime &t)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d_%02d%02d", t.year, t.month, t.day, t.hour, t.minute);
    return text;
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool isRealDate(int y, int m, int d)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || m < 1 || m > 12 || d < 1)
        return false;
    return d <= days[m - 1] + (m == 2 && isLeapYear(y) ? 1 : 0);
}

bool isCabinet(const std::string &path)
{
    try {
        TSTCabReader reader;
        cab::FDICABINETINFO info{};
        return reader.IsCabinet(path, info);
    } catch (const std::exception &) {
        return false;  // what cannot be read cannot be shown to be an archive
    }
}

}  // namespace

std::string GeneratedArchiveName(const std::string &dataFolder, const LocalDateTime &now)
{
    return JoinFsPath(dataFolder, "Arch" + stamp(now) + ".cab");
}

bool IsGeneratedArchiveName(const std::string &fileName)
{
    // "Arch" yyyy-mm-dd_hhmm ".cab", exactly.
    static const std::string form = "Arch0000-00-00_0000.cab";
    if (fileName.size() != form.size() || fileName.compare(0, 4, "Arch") != 0 ||
        fileName.compare(fileName.size() - 4, 4, ".cab") != 0)
        return false;
    for (std::size_t i = 4; i < form.size() - 4; ++i) {
        const bool digit = fileName[i] >= '0' && fileName[i] <= '9';
        if (form[i] == '0' ? !digit : fileName[i] != form[i])
            return false;
    }
    const auto number = [&](std::size_t at, std::size_t length) { return std::stoi(fileName.substr(at, length)); };
    // A name that only looks like one ("Arch2005-13-45_9999.cab") was not
    // made by the generator.
    return isRealDate(number(4, 4), number(9, 2), number(12, 2)) && number(15, 2) < 24 && number(17, 2) < 60;
}

GeneratedArchives FindGeneratedArchives(const std::string &folder, int keep, const std::string &current,
                                        const LocalDateTime &now)
{
    // Compared as the system finds them, links and letter case resolved.
    const std::string currentPath = current.empty() ? std::string() : ResolvePath(current);
    const std::string nowStamp = stamp(now);
    GeneratedArchives found;
    std::vector<std::string> names;
    FileSearch search;
    SearchEntry e;
    if (search.First(JoinFsPath(folder, "*"), e)) {
        do {
            const std::string path = JoinFsPath(folder, e.name);
            // A link is not an archive of ours, whatever it points to.
            if (!e.regular || !IsGeneratedArchiveName(e.name) || PathIsLink(path))
                continue;
            if (!currentPath.empty() && ResolvePath(path) == currentPath) {
                --keep;
                continue;
            }
            // Only a cabinet is an archive: a file of the user's that merely
            // bears such a name is not ours to delete.
            if (!isCabinet(path))
                continue;
            if (e.name.substr(4, nowStamp.size()) > nowStamp)
                found.future.push_back(path);
            else
                names.push_back(e.name);
        } while (search.Next(e));
    }
    // The stamp runs from the largest unit down, so name order is time order.
    std::sort(names.begin(), names.end());
    std::sort(found.future.begin(), found.future.end());
    const std::size_t kept = static_cast<std::size_t>(std::max(0, keep));
    for (std::size_t i = 0; i + kept < names.size(); ++i)
        found.beyond.push_back(JoinFsPath(folder, names[i]));
    return found;
}

}  // namespace qv
