#include "register/CompanyRegister.h"

#include "register/qvTransPL.h"

#include <QFile>
#include <algorithm>

namespace qv {

namespace {

// A length-prefixed text of at most `span` characters.
QByteArray lengthPrefixed(const char *at, int span, int keep)
{
    const int length = std::min({static_cast<int>(static_cast<unsigned char>(at[0])), span, keep});
    return QByteArray(at + 1, length);
}

// A text stored into a list field ends at its first zero byte.
QByteArray fieldText(QByteArray text)
{
    const qsizetype zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);
    return text;
}

}  // namespace

CompanyRecord ReadCompanyRecord(const char (&record)[kCompanyRecordSize])
{
    CompanyRecord out;
    out.Firma = lengthPrefixed(record + 0, 31, kFirmaWidth);
    out.Katalog = lengthPrefixed(record + 32, 8, kKatalogWidth);
    // The info text may run to the record's end; the list keeps 10 characters.
    out.Info = lengthPrefixed(record + 41, kCompanyRecordSize - 42, kInfoWidth);
    return out;
}

std::optional<std::vector<CompanyRecord>> LoadCompanyRegister(const QString &path)
{
    // QFile opens for reading with read and write sharing on every platform,
    // so the ledger program may keep the register open meanwhile.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;

    std::vector<CompanyRecord> rows;
    TPLCodePage codePage = plCP852;
    char record[kCompanyRecordSize];
    while (file.read(record, kCompanyRecordSize) == kCompanyRecordSize) {
        CompanyRecord raw = ReadCompanyRecord(record);
        DetectPLCodePage(raw.Firma, codePage);
        raw.Firma = fieldText(ConvertPLToWin1250(raw.Firma, codePage));
        raw.Katalog = fieldText(raw.Katalog);
        raw.Info = fieldText(ConvertPLToWin1250(raw.Info, codePage));
        rows.push_back(std::move(raw));
    }
    return rows;
}

}  // namespace qv
