#include "cabinet/CabSTConsts.h"

namespace qv {

namespace {
const char *const kFCIErrors[] = {
    "No error",
    "Failure opening file to be stored in cabinet",
    "Failure reading file to be stored in cabinet",
    "Out of memory in FCI",
    "Could not create a temporary file",
    "Unknown compression type",
    "Could not create cabinet file",
    "Client requested abort",
    "Failure compressing data",
};

const char *const kFDIErrors[] = {
    "No error",
    "Cabinet not found",
    "Cabinet file does not have the correct format",
    "Cabinet file has an unknown version number",
    "Cabinet file is corrupt",
    "Could not allocate enough memory",
    "Unknown compression type in a cabinet folder",
    "Failure decompressing data from a cabinet file",
    "Failure writing to target file",
    "Cabinets in a set do not have the same RESERVE sizes",
    "Cabinet returned on fdintNEXT_CABINET is incorrect",
    "FDI aborted",
};
}  // namespace

std::string FCIErrorText(int code)
{
    if (code >= 0 && code < static_cast<int>(std::size(kFCIErrors)))
        return kFCIErrors[code];
    return "FCI error";
}

std::string FDIErrorText(int code)
{
    if (code >= 0 && code < static_cast<int>(std::size(kFDIErrors)))
        return kFDIErrors[code];
    return "FDI error";
}

const char sCabWriterClosed[] = "Cabinet writer is not open";
const char sCabNameTooLong[] = "Name too long for a cabinet (more than 255 bytes): %s";
const char sCabUnsafeEntryName[] = "Cabinet entry \"%s\" would be written outside the destination folder";
const char sCabDestinationNoFolder[] = "Destination \"%s\" has no folder";
const char sCabSetLoops[] = "Cabinet set leads back to \"%s\"";
const char sCabFormatError[] = "Cabinet file does not have the correct format";
const char sCabStreamPosition[] = "Failure setting file stream position";
const char sCabStreamRead[] = "Stream read error";
const char sCabEntryNameTooLong[] = "Cabinet file is corrupt: a file name is longer than 780 characters";
const char sCabSetEndsEarly[] = "Cabinet set ends before \"%s\"";
const char sCabSetGoesOn[] = "Cabinet set goes on after \"%s\"";
const char sCabFileSizeMismatch[] = "Cabinet file is corrupt: \"%s\" does not come out at its stated size";

}  // namespace qv
