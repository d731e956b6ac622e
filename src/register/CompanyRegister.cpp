#include "register/CompanyRegister.h"

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/pathcase.h"
#include "platform/text.h"
#include "register/qvTransPL.h"

#include <algorithm>

namespace qv {

namespace {

// A length-prefixed text of at most `span` characters.
std::string lengthPrefixed(const char *at, int span, int keep)
{
    const int length = std::min({static_cast<int>(static_cast<unsigned char>(at[0])), span, keep});
    return std::string(at + 1, static_cast<std::size_t>(length));
}

// A text stored into a list field ends at its first zero byte.
std::string fieldText(std::string text)
{
    const std::size_t zero = text.find('\0');
    if (zero != std::string::npos)
        text.resize(zero);
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

RegisterLoad LoadCompanyRegister(const std::string &path)
{
    RegisterLoad load;
    const FileHandle file =
        FileOpen(path, FileAccess::Read, FileShare::ReadWrite, FileDisposition::OpenExisting, fhSequential);
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

std::string MissingRegisterMessage(const std::string &dataFolder)
{
    return Format("Podany katalog %1 nie zawiera pliku %2", {dataFolder, kRegisterFileName});
}

std::string UnreadableRegisterMessage(const std::string &path, int osError)
{
    return Format("Nie można odczytać pliku %1\r%2", {ToNativeSeparators(path), SysErrorMessage(osError)});
}

}  // namespace qv
