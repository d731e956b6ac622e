#include "DemoData.h"

#include "DbaseTable.h"

#include "platform/cp1250.h"
#include "register/CompanyRegister.h"
#include "register/qvTransPL.h"

#include <QDir>
#include <QFile>
#include <stdexcept>

namespace qv::demo {

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

void writeFile(const QString &path, const std::string &bytes) { writeFile(path, QByteArray::fromStdString(bytes)); }

void putText(QByteArray &record, int at, int span, const QByteArray &text)
{
    const int n = std::min<int>(span, static_cast<int>(text.size()));
    record[at] = static_cast<char>(n);
    for (int i = 0; i < n; ++i)
        record[at + 1 + i] = text[i];
}

}  // namespace

QList<DemoCompany> DemoCompanies()
{
    return {
        {QStringLiteral("Biuro Rachunkowe Małgorzata"), QStringLiteral("FIRMA1"), QStringLiteral("NIP 5261040828")},
        {QStringLiteral("Zakład Stolarski Łukasz Wąs"), QStringLiteral("XFIRMA1"), QStringLiteral("REGON 0123")},
        {QStringLiteral("Piekarnia \"Żytnia\" s.c."), QStringLiteral("PIEKARN"), QStringLiteral("ks. handl.")},
        {QStringLiteral("Hurtownia Łęg sp. z o.o."), QStringLiteral("LEG"), QStringLiteral("zamknięta"), false},
        {QStringLiteral("Gospodarstwo Źródło"), QStringLiteral("ZRODLO"), QStringLiteral("ryczałt")},
        {QStringLiteral("Usługi Transportowe Ćwik"), QStringLiteral("CWIK"), QStringLiteral("KPiR 2005")},
        {QStringLiteral("Apteka pod Orłem"), QStringLiteral("APTEKA"), QStringLiteral("VAT-7")},
        {QStringLiteral("Kwiaciarnia Róża"), QStringLiteral("ROZA"), QStringLiteral("ryczałt")},
        {QStringLiteral("Sklep Spożywczy Ewa Nowak"), QStringLiteral("NOWAK"), QStringLiteral("KPiR")},
        {QStringLiteral("Przedsiębiorstwo Budowlane Dąb"), QStringLiteral("DAB"), QStringLiteral("pełna ks.")},
        {QStringLiteral("Gabinet Stomatologiczny Źrebiec"), QStringLiteral("STOMAT"), QStringLiteral("ZUS DRA")},
        {QStringLiteral("Fundacja Pomocy Żakom"), QStringLiteral("FUNDACJA"), QStringLiteral("OPP 2005/1")},
    };
}

void WriteRegister(const QString &path, const QList<DemoCompany> &companies, RegisterCodePage codePage)
{
    const TPLCodePage dos = codePage == RegisterCodePage::Mazovia ? plMazovia : plCP852;
    QByteArray out;
    for (const DemoCompany &c : companies) {
        QByteArray record(kCompanyRecordSize, '\0');
        putText(record, 0, 31, ConvertPL(ToCP1250(c.firma), plCP1250, dos));
        putText(record, 32, 8, ToCP1250(c.katalog));
        putText(record, 41, 20, ConvertPL(ToCP1250(c.info), plCP1250, dos));
        out += record;
    }
    writeFile(path, out);
}

QList<DemoCompany> WriteDemoDataFolder(const QString &folder, RegisterCodePage codePage)
{
    QDir dir(folder);
    if (!dir.mkpath(QStringLiteral(".")))
        throw std::runtime_error("cannot create " + folder.toStdString());
    const QList<DemoCompany> companies = DemoCompanies();
    WriteRegister(dir.filePath(QLatin1String(kRegisterFileName)), companies, codePage);

    unsigned seed = 1;
    for (const DemoCompany &c : companies) {
        QDir company(dir.filePath(c.katalog));
        if (!c.hasFolder) {
            company.removeRecursively();
            continue;
        }
        company.mkpath(QStringLiteral("ARCHIWUM"));
        ++seed;
        writeFile(company.filePath(QStringLiteral("KSIEGA.DBF")), DbaseTable(150 + int(seed * 37 % 700), seed));
        writeFile(company.filePath(QStringLiteral("KONTRAH.DBF")), DbaseTable(20 + int(seed % 30), seed * 7));
        writeFile(company.filePath(QStringLiteral("PARAM.DAT")),
                  ToCP1250(QStringLiteral("[Firma]\r\nNazwa=%1\r\nRok=2005\r\n").arg(c.firma)));
        writeFile(company.filePath(QStringLiteral("BLOKADA.LCK")), QByteArray());
        writeFile(company.filePath(QStringLiteral(".ukryty")), QByteArray("ustawienia lokalne\r\n"));
        writeFile(company.filePath(QStringLiteral("ARCHIWUM/KSIEGA04.DBF")), DbaseTable(40, seed * 13));
    }
    return companies;
}

}  // namespace qv::demo
