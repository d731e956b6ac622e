// Texts of the cabinet library's error codes and of the components' own
// refusals.
#pragma once

#include <string>

#include "cabinet/fdifci.h"

namespace qv {

// pattern with its "%s" replaced by arg.
std::string FormatText(const char *pattern, const std::string &arg);

std::string FCIErrorText(int code);
std::string FDIErrorText(int code);
// A folder's compression method as a listing shows it: "none", "MSZIP",
// "LZX:21", "Quantum:4:20", or "unknown:0x0004".
std::string CompressionText(cab::TCOMP type);
// The same, worded for the message of a folder the reader refused:
// "LZX, window 22", "Quantum, level 4, window 20", "typeCompress 0x0004".
std::string CompressionRefusalText(cab::TCOMP type);

extern const char sCabWriterClosed[];
extern const char sCabNameTooLong[];
extern const char sCabUnsafeEntryName[];
extern const char sCabDestinationNoFolder[];
extern const char sCabSetLoops[];
extern const char sCabSetIncomplete[];
extern const char sCabSetForeignPart[];
extern const char sCabSetEndsEarly[];
extern const char sCabSetGoesOn[];
extern const char sCabFileSizeMismatch[];

}  // namespace qv
