#include "CoreTest.h"

#include <algorithm>
#include <stdexcept>

namespace qv::test {

namespace {

void listInto(const std::string &folder, const std::string &prefix, std::vector<std::string> &out)
{
    std::vector<std::string> names;
    {
        FileSearch search;
        SearchEntry e;
        if (search.First(folder + PathDelim + "*", e)) {
            do {
                if (e.name != "." && e.name != "..")
                    names.push_back(e.name);
            } while (search.Next(e));
        }
    }
    for (const std::string &name : names) {
        const std::string full = folder + PathDelim + name;
        out.push_back(prefix + name);
        if (DirectoryExists(full) && !PathIsLink(full))
            listInto(full, prefix + name + "/", out);
    }
}

void makeWritable(const std::string &path)
{
    const std::uint32_t attrs = FileGetAttributes(path);
    if (attrs == InvalidFileAttributes || PathIsLink(path))
        return;
    if (attrs & faReadOnly)
        FileSetAttributes(path, attrs & ~static_cast<std::uint32_t>(faReadOnly | faDirectory));
    if (!(attrs & faDirectory))
        return;
    std::vector<std::string> inside;
    listInto(path, "", inside);
    for (const std::string &rel : inside) {
        std::string native = rel;
        std::replace(native.begin(), native.end(), '/', PathDelim);
        const std::string full = path + PathDelim + native;
        const std::uint32_t a = FileGetAttributes(full);
        if (a != InvalidFileAttributes && (a & faReadOnly) && !PathIsLink(full))
            FileSetAttributes(full, a & ~static_cast<std::uint32_t>(faReadOnly | faDirectory));
    }
}

}  // namespace

ScratchDir::ScratchDir(const std::string &lead)
{
    std::string folder = TempDirectory();
    while (folder.size() > 1 && IsPathDelimiter(folder.back()))
        folder.pop_back();
    if (!CreateUniqueDirectory(folder, lead + ".", path_))
        throw std::runtime_error("cannot make a scratch folder in " + folder);
}

ScratchDir::~ScratchDir() { RemoveTree(path_); }

void RemoveTree(const std::string &path)
{
    makeWritable(path);
    DirectoryDeleteTree(path);
}

void WriteBytes(const std::string &path, const std::string &data)
{
    const std::string folder = ExtractFilePath(path);
    if (!folder.empty())
        ForceDirectories(folder);
    const FileHandle h = FileOpen(path, FileAccess::Write, FileShare::Read, FileDisposition::CreateAlways);
    if (h == InvalidFileHandle)
        throw std::runtime_error("cannot write " + path);
    std::size_t done = 0;
    while (done < data.size()) {
        const std::uint32_t chunk = static_cast<std::uint32_t>(std::min<std::size_t>(data.size() - done, 1u << 20));
        if (FileWrite(h, data.data() + done, chunk) != chunk) {
            FileClose(h);
            throw std::runtime_error("cannot write " + path);
        }
        done += chunk;
    }
    FileClose(h);
}

std::string ReadBytes(const std::string &path)
{
    const FileHandle h = FileOpen(path, FileAccess::Read, FileShare::ReadWrite, FileDisposition::OpenExisting);
    if (h == InvalidFileHandle)
        return "<missing " + path + ">";
    std::string out;
    char buf[65536];
    for (;;) {
        const std::int64_t n = FileRead(h, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    FileClose(h);
    return out;
}

std::vector<std::string> ListTree(const std::string &root)
{
    std::vector<std::string> out;
    listInto(root, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace qv::test
