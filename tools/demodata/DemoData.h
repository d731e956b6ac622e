// Writes a demo data folder of the ledger program: a company register
// SPISFIRM.DAT and the companies' folders with dBase-like tables.
#pragma once

#include <string>
#include <vector>

namespace qv::demo {

enum class RegisterCodePage { Mazovia, CP852 };

struct DemoCompany {
    std::string firma;  // UTF-8; stored in the register's DOS code page
    std::string katalog;
    std::string info;
    bool hasFolder = true;
};

// The dozen companies of the demo register, in register order. The fourth
// has no folder on disk; FIRMA1 and XFIRMA1 share a prefix on purpose.
std::vector<DemoCompany> DemoCompanies();

// Writes the register (103-byte records) in the given DOS code page.
void WriteRegister(const std::string &path, const std::vector<DemoCompany> &companies, RegisterCodePage codePage);

// Creates folder with SPISFIRM.DAT and every company folder that exists in
// the demo (tables, a text file, an empty file, a hidden file, a sub-folder).
// Existing files are replaced. Returns the companies written.
std::vector<DemoCompany> WriteDemoDataFolder(const std::string &folder, RegisterCodePage codePage);

}  // namespace qv::demo
