#include "DemoData.h"

#include "platform/cp1250.h"
#include "register/CompanyRegister.h"
#include "register/qvTransPL.h"

#include <QDate>
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

void putText(QByteArray &record, int at, int span, const QByteArray &text)
{
    const int n = std::min<int>(span, static_cast<int>(text.size()));
    record[at] = static_cast<char>(n);
    for (int i = 0; i < n; ++i)
        record[at + 1 + i] = text[i];
}

void putLe16(QByteArray &b, int at, unsigned v)
{
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

void putLe32(QByteArray &b, int at, unsigned v)
{
    putLe16(b, at, v & 0xFFFF);
    putLe16(b, at + 2, v >> 16);
}

// Deterministic pseudo-random numbers, so every generated folder is alike.
struct Lcg {
    unsigned state;
    unsigned next() { return state = state * 1103515245u + 12345u, (state >> 8) & 0xFFFFFF; }
};

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

QByteArray DbaseTable(int records, unsigned seed)
{
    struct Field {
        const char *name;
        char type;
        int length;
        int decimals;
    };
    static const Field fields[] = {
        {"LP", 'N', 6, 0}, {"DATA", 'D', 8, 0}, {"KONTO", 'C', 12, 0},
        {"OPIS", 'C', 40, 0}, {"WN", 'N', 14, 2}, {"MA", 'N', 14, 2},
    };
    int recordLength = 1;
    for (const Field &f : fields)
        recordLength += f.length;
    const int headerLength = 32 + 32 * static_cast<int>(std::size(fields)) + 1;

    QByteArray table(headerLength, '\0');
    table[0] = 0x03;  // dBase III without memo
    table[1] = 105;   // last update 2005-03-03
    table[2] = 3;
    table[3] = 3;
    putLe32(table, 4, static_cast<unsigned>(records));
    putLe16(table, 8, static_cast<unsigned>(headerLength));
    putLe16(table, 10, static_cast<unsigned>(recordLength));
    int at = 32;
    for (const Field &f : fields) {
        QByteArray name(f.name);
        for (int i = 0; i < name.size(); ++i)
            table[at + i] = name[i];
        table[at + 11] = f.type;
        table[at + 16] = static_cast<char>(f.length);
        table[at + 17] = static_cast<char>(f.decimals);
        at += 32;
    }
    table[headerLength - 1] = 0x0D;

    static const char *const descriptions[] = {
        "Zakup materiałów biurowych", "Sprzedaż towarów", "Wynagrodzenia za marzec",
        "Składki ZUS", "Opłata za czynsz", "Faktura korygująca", "Przelew od kontrahenta",
    };
    Lcg rng{seed};
    const QDate start(2005, 1, 3);
    for (int r = 0; r < records; ++r) {
        QByteArray row(" ");
        row += QByteArray::number(r + 1).rightJustified(6, ' ');
        row += start.addDays(static_cast<int>(rng.next() % 365)).toString(QStringLiteral("yyyyMMdd")).toLatin1();
        row += QByteArray::number(200 + rng.next() % 700).leftJustified(12, ' ');
        row += ToCP1250(QString::fromUtf8(descriptions[rng.next() % std::size(descriptions)]))
                   .leftJustified(40, ' ', true);
        const double wn = (rng.next() % 10000000) / 100.0;
        row += QByteArray::number(wn, 'f', 2).rightJustified(14, ' ');
        row += QByteArray::number(r % 3 ? 0.0 : wn, 'f', 2).rightJustified(14, ' ');
        table += row;
    }
    table += '\x1A';
    return table;
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
