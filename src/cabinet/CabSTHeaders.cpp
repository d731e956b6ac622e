#include "cabinet/CabSTHeaders.h"

#include "cabinet/CabSTConsts.h"
#include "platform/text.h"

#include <algorithm>

namespace qv {

HeaderFile::HeaderFile(const std::string &path)
{
    h_ = FileOpen(path, FileAccess::Read, FileShare::Read, FileDisposition::OpenExisting, fhSequential);
    if (h_ == InvalidFileHandle)
        RaiseLastOSError();
    const std::int64_t size = FileSeek(h_, 0, 2);
    limit = size < 0 ? 0 : size > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<std::uint32_t>(size);
}

HeaderFile::~HeaderFile() { FileClose(h_); }

cab::detail::CabinetHeader HeaderFile::header()
{
    cab::detail::CabinetHeader h;
    check(cab::detail::readHeader(*this, h));
    return h;
}

void HeaderFile::check(int fdiError)
{
    if (fdiError != cab::FDIERROR_NONE)
        throw ESTCabinet(FDIErrorText(fdiError), fdiError, 0, false);
}

bool HeaderFile::readRaw(std::uint32_t offset, void *p, std::uint32_t n)
{
    if (FileSeek(h_, offset, 0) != offset)
        return false;
    auto *out = static_cast<unsigned char *>(p);
    while (n > 0) {
        const std::int64_t got = FileRead(h_, out, n);
        if (got <= 0)
            return false;
        out += got;
        n -= static_cast<std::uint32_t>(got);
    }
    return true;
}

// A part that cannot be read here is left to the library's walk, which
// reports it where it is needed.
void UnreadableFiles::find(const std::string &firstCabinet)
{
    using namespace cab::detail;
    files_.clear();
    std::vector<std::string> visited;
    std::string current = firstCabinet;
    while (!current.empty() && FileExists(current) && visited.size() < 65536 &&
           std::none_of(visited.begin(), visited.end(),
                        [&](const std::string &v) { return SameTextIgnoringCase(v, current); })) {
        visited.push_back(current);
        try {
            HeaderFile c(current);
            const CabinetHeader h = c.header();
            std::vector<cab::TCOMP> methods;
            for (std::uint16_t i = 0; i < h.cFolders; ++i) {
                FolderEntry f;
                HeaderFile::check(readFolder(c, h, i, f));
                methods.push_back(f.typeCompress);
            }
            FileEntry e;
            char utf8[kUtf8NameField];
            std::uint32_t at = h.coffFiles;
            for (std::uint32_t i = 0; i < h.cFiles; ++i, at += e.bytes) {
                HeaderFile::check(readFile(c, at, e));
                if (e.continuedFromPrev() || methods.empty())
                    continue;  // known where it begins
                const std::size_t folder = e.iFolder == kContinuedToNext ? methods.size() - 1 : e.iFolder;
                if (folder < methods.size() && !methodSupported(methods[folder]))
                    files_.push_back({h.iCabinet, e.iFolder, utf8Name(e, utf8), methods[folder]});
            }
            current = (h.flags & kFlagNext) ? JoinPath({ExtractFilePath(current), h.nextCab}) : std::string();
        } catch (const Exception &) {
            return;
        }
    }
}

std::optional<cab::TCOMP> UnreadableFiles::methodOf(const cab::FDINOTIFICATION &n) const
{
    const std::string name = n.psz1 ? n.psz1 : "";
    for (const File &f : files_)
        if (f.cabinet == n.iCabinet && f.folder == n.iFolder && f.name == name)
            return f.method;
    return std::nullopt;
}

}  // namespace qv
