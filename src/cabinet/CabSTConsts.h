// Texts of the cabinet library's error codes and of the components' own
// refusals.
#pragma once

#include <string>

namespace qv {

std::string FCIErrorText(int code);
std::string FDIErrorText(int code);

extern const char sCabWriterClosed[];
extern const char sCabNameTooLong[];
extern const char sCabUnsafeEntryName[];
extern const char sCabDestinationNoFolder[];
extern const char sCabSetLoops[];
extern const char sCabFormatError[];
extern const char sCabStreamPosition[];
extern const char sCabStreamRead[];
extern const char sCabEntryNameTooLong[];
extern const char sCabSetEndsEarly[];
extern const char sCabSetGoesOn[];
extern const char sCabFileSizeMismatch[];

}  // namespace qv
