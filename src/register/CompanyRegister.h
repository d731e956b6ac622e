// The ledger program's company register SPISFIRM.DAT: fixed 103-byte records,
// no header, no trailer; read only.
#pragma once

#include <string>
#include <vector>

namespace qv {

inline constexpr char kRegisterFileName[] = "SPISFIRM.DAT";
inline constexpr int kCompanyRecordSize = 103;
inline constexpr int kFirmaWidth = 31;
inline constexpr int kKatalogWidth = 8;
inline constexpr int kInfoWidth = 10;

// One company as the list keeps it: Windows-1250 bytes.
struct CompanyRecord {
    std::string Firma;
    std::string Katalog;
    std::string Info;
};

// Decodes one record. A length byte larger than its span is read up to the
// span, so nothing outside the record is ever touched. Names are returned in
// the register's DOS code page, unconverted.
CompanyRecord ReadCompanyRecord(const char (&record)[kCompanyRecordSize]);

// What a load of the register found.
struct RegisterLoad {
    std::vector<CompanyRecord> rows;
    // The OS error of an open or a read that failed; 0 when the whole file was
    // read. A read that fails half way keeps the records read before it.
    int error = 0;
    bool opened = false;
};

// Reads every whole record, detecting the DOS code page name by name and
// converting names and info texts to Windows-1250. The file is opened with
// full sharing, since the ledger program may hold it open meanwhile.
RegisterLoad LoadCompanyRegister(const std::string &path);

// What the user is told about a data folder without a register, and about a
// register that could not be read whole (the path and the system's reason).
std::string MissingRegisterMessage(const std::string &dataFolder);
std::string UnreadableRegisterMessage(const std::string &path, int osError);

}  // namespace qv
