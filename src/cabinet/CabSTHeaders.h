// Cabinet headers as the reader component reads them itself, outside the
// library's walk: for the listing, for the links of a set, and for the
// files of folders that cannot be read.
#pragma once

#include "cabinet/CabSTComps.h"
#include "cabinet/cabformat.h"

#include <optional>
#include <string>
#include <vector>

namespace qv {

// One cabinet file read through the file layer.
class HeaderFile final : public cab::detail::Source {
public:
    // Raises the OS error when the file cannot be opened.
    explicit HeaderFile(const std::string &path);
    ~HeaderFile();
    HeaderFile(const HeaderFile &) = delete;
    HeaderFile &operator=(const HeaderFile &) = delete;

    // The header; a fault is raised as ESTCabinet with the reader's text for it.
    cab::detail::CabinetHeader header();
    // Raises the reader's text for an FDIERROR_ code other than FDIERROR_NONE.
    static void check(int fdiError);

protected:
    bool readRaw(std::uint32_t offset, void *p, std::uint32_t n) override;

private:
    FileHandle h_;
};

// The files of a set that lie in folders whose method the reader cannot
// decode (Quantum, unknown methods), found from the headers alone, from the
// set's first cabinet through the parts that are there. Each is known by the
// cabinet and folder code its entry has where the file begins, and its name
// as the library announces it.
class UnreadableFiles {
public:
    void find(const std::string &firstCabinet);
    // The method of the announced file's folder when it cannot be read.
    std::optional<cab::TCOMP> methodOf(const cab::FDINOTIFICATION &copyFile) const;

private:
    struct File {
        std::uint16_t cabinet;
        std::uint16_t folder;
        std::string name;
        cab::TCOMP method;
    };
    std::vector<File> files_;
};

}  // namespace qv
