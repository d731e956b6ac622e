#include "DemoData.h"

#include "DbaseTable.h"

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/pathcase.h"
#include "platform/text.h"
#include "register/CompanyRegister.h"
#include "register/qvTransPL.h"

#include <algorithm>
#include <stdexcept>

namespace qv::demo {

namespace {

void writeFile(const std::string &path, const std::string &bytes)
{
    const FileHandle h = FileOpen(path, FileAccess::Write, FileShare::None, FileDisposition::CreateAlways);
    const bool ok = h != InvalidFileHandle &&
                    (bytes.empty() || FileWrite(h, bytes.data(), static_cast<std::uint32_t>(bytes.size())) ==
                                          static_cast<std::int64_t>(bytes.size()));
    if (h != InvalidFileHandle)
        FileClose(h);
    if (!ok)
        throw std::runtime_error("cannot write " + path);
}

void putText(std::string &record, int at, int span, const std::string &text)
{
    const int n = std::min<int>(span, static_cast<int>(text.size()));
    record[static_cast<std::size_t>(at)] = static_cast<char>(n);
    for (int i = 0; i < n; ++i)
        record[static_cast<std::size_t>(at + 1 + i)] = text[static_cast<std::size_t>(i)];
}

}  // namespace

std::vector<DemoCompany> DemoCompanies()
{
    return {
        {"Biuro Rachunkowe Małgorzata", "FIRMA1", "NIP 5261040828"},
        {"Zakład Stolarski Łukasz Wąs", "XFIRMA1", "REGON 0123"},
        {"Piekarnia \"Żytnia\" s.c.", "PIEKARN", "ks. handl."},
        {"Hurtownia Łęg sp. z o.o.", "LEG", "zamknięta", false},
        {"Gospodarstwo Źródło", "ZRODLO", "ryczałt"},
        {"Usługi Transportowe Ćwik", "CWIK", "KPiR 2005"},
        {"Apteka pod Orłem", "APTEKA", "VAT-7"},
        {"Kwiaciarnia Róża", "ROZA", "ryczałt"},
        {"Sklep Spożywczy Ewa Nowak", "NOWAK", "KPiR"},
        {"Przedsiębiorstwo Budowlane Dąb", "DAB", "pełna ks."},
        {"Gabinet Stomatologiczny Źrebiec", "STOMAT", "ZUS DRA"},
        {"Fundacja Pomocy Żakom", "FUNDACJA", "OPP 2005/1"},
    };
}

void WriteRegister(const std::string &path, const std::vector<DemoCompany> &companies, RegisterCodePage codePage)
{
    const TPLCodePage dos = codePage == RegisterCodePage::Mazovia ? plMazovia : plCP852;
    std::string out;
    for (const DemoCompany &c : companies) {
        std::string record(kCompanyRecordSize, '\0');
        putText(record, 0, 31, ConvertPL(Utf8ToCp1250(c.firma), plCP1250, dos));
        putText(record, 32, 8, Utf8ToCp1250(c.katalog));
        putText(record, 41, 20, ConvertPL(Utf8ToCp1250(c.info), plCP1250, dos));
        out += record;
    }
    writeFile(path, out);
}

std::vector<DemoCompany> WriteDemoDataFolder(const std::string &folder, RegisterCodePage codePage)
{
    if (!ForceDirectories(folder))
        throw std::runtime_error("cannot create " + folder);
    const std::vector<DemoCompany> companies = DemoCompanies();
    WriteRegister(JoinFsPath(folder, kRegisterFileName), companies, codePage);

    unsigned seed = 1;
    for (const DemoCompany &c : companies) {
        const std::string company = JoinFsPath(folder, c.katalog);
        if (!c.hasFolder) {
            DirectoryDeleteTree(company);
            continue;
        }
        ForceDirectories(JoinFsPath(company, "ARCHIWUM"));
        ++seed;
        writeFile(JoinFsPath(company, "KSIEGA.DBF"), DbaseTable(150 + int(seed * 37 % 700), seed));
        writeFile(JoinFsPath(company, "KONTRAH.DBF"), DbaseTable(20 + int(seed % 30), seed * 7));
        writeFile(JoinFsPath(company, "PARAM.DAT"),
                  Utf8ToCp1250("[Firma]\r\nNazwa=" + c.firma + "\r\nRok=2005\r\n"));
        writeFile(JoinFsPath(company, "BLOKADA.LCK"), std::string());
        writeFile(JoinFsPath(company, ".ukryty"), "ustawienia lokalne\r\n");
        writeFile(JoinFsPath(JoinFsPath(company, "ARCHIWUM"), "KSIEGA04.DBF"), DbaseTable(40, seed * 13));
    }
    return companies;
}

}  // namespace qv::demo
