#include "register/CompanyRegister.h"

#include "platform/errors.h"
#include "platform/files.h"
#include "register/qvTransPL.h"

#include <QDir>

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

RegisterLoad LoadCompanyRegister(const QString &path)
{
    RegisterLoad load;
    const FileHandle file =
        FileOpen(path.toStdString(), FileAccess::Read, FileShare::ReadWrite, FileDisposition::OpenExisting, fhSequential);
    if (file == InvalidFileHandle) {
        load.error = LastOSError();
        return load;
    }
    load.opened = true;

    TPLCodePage codePage = plCP852;
    char record[kCompanyRecordSize];
    for (;;) {
        const std::int64_t got = FileRead(file, record, kCompanyRecordSize);
        if (got < 0)
            load.error = LastOSError();
        if (got != kCompanyRecordSize)
            break;
        CompanyRecord raw = ReadCompanyRecord(record);
        DetectPLCodePage(raw.Firma, codePage);
        raw.Firma = fieldText(ConvertPLToWin1250(raw.Firma, codePage));
        raw.Katalog = fieldText(raw.Katalog);
        raw.Info = fieldText(ConvertPLToWin1250(raw.Info, codePage));
        load.rows.push_back(std::move(raw));
    }
    FileClose(file);
    return load;
}

QString MissingRegisterMessage(const QString &dataFolder)
{
    return QStringLiteral("Podany katalog %1 nie zawiera pliku %2").arg(dataFolder, QLatin1String(kRegisterFileName));
}

QString UnreadableRegisterMessage(const QString &path, int osError)
{
    return QStringLiteral("Nie można odczytać pliku %1\r%2")
        .arg(QDir::toNativeSeparators(path), QString::fromStdString(SysErrorMessage(osError)));
}

}  // namespace qv
