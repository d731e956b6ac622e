// Writes a demo data folder of the ledger program: a company register
// SPISFIRM.DAT and the companies' folders with dBase-like tables.
#pragma once

#include <QString>
#include <QStringList>

namespace qv::demo {

enum class RegisterCodePage { Mazovia, CP852 };

struct DemoCompany {
    QString firma;    // Unicode; stored in the register's DOS code page
    QString katalog;
    QString info;
    bool hasFolder = true;
};

// The dozen companies of the demo register, in register order. The fourth
// has no folder on disk; FIRMA1 and XFIRMA1 share a prefix on purpose.
QList<DemoCompany> DemoCompanies();

// Writes the register (103-byte records) in the given DOS code page.
void WriteRegister(const QString &path, const QList<DemoCompany> &companies, RegisterCodePage codePage);

// Creates folder with SPISFIRM.DAT and every company folder that exists in
// the demo (tables, a text file, an empty file, a hidden file, a sub-folder).
// Existing files are replaced. Returns the companies written.
QList<DemoCompany> WriteDemoDataFolder(const QString &folder, RegisterCodePage codePage);

}  // namespace qv::demo
