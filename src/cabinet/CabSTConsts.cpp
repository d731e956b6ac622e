#include "cabinet/CabSTConsts.h"

#include <cstdio>

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

std::string FormatText(const char *pattern, const std::string &arg)
{
    std::string out = pattern;
    const std::size_t at = out.find("%s");
    if (at != std::string::npos)
        out.replace(at, 2, arg);
    return out;
}

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

namespace {

enum class Method { None, MsZip, Lzx, Quantum, Unknown };

// Only the method's own bits may be set beside its number.
Method methodOf(cab::TCOMP type)
{
    switch (type & cab::tcompMASK_TYPE) {
    case cab::tcompTYPE_NONE: return type == cab::tcompTYPE_NONE ? Method::None : Method::Unknown;
    case cab::tcompTYPE_MSZIP: return type == cab::tcompTYPE_MSZIP ? Method::MsZip : Method::Unknown;
    case cab::tcompTYPE_LZX:
        return (type & ~(cab::tcompMASK_TYPE | cab::tcompMASK_LZX_WINDOW)) == 0 ? Method::Lzx : Method::Unknown;
    case cab::tcompTYPE_QUANTUM:
        return (type & ~(cab::tcompMASK_TYPE | cab::tcompMASK_QUANTUM_LEVEL | cab::tcompMASK_QUANTUM_MEM)) == 0
                   ? Method::Quantum
                   : Method::Unknown;
    default: return Method::Unknown;
    }
}

int lzxWindow(cab::TCOMP type) { return (type & cab::tcompMASK_LZX_WINDOW) >> cab::tcompSHIFT_LZX_WINDOW; }
int quantumLevel(cab::TCOMP type) { return (type & cab::tcompMASK_QUANTUM_LEVEL) >> cab::tcompSHIFT_QUANTUM_LEVEL; }
int quantumWindow(cab::TCOMP type) { return (type & cab::tcompMASK_QUANTUM_MEM) >> cab::tcompSHIFT_QUANTUM_MEM; }

}  // namespace

std::string CompressionText(cab::TCOMP type)
{
    char buf[32];
    switch (methodOf(type)) {
    case Method::None: return "none";
    case Method::MsZip: return "MSZIP";
    case Method::Lzx: std::snprintf(buf, sizeof buf, "LZX:%d", lzxWindow(type)); break;
    case Method::Quantum: std::snprintf(buf, sizeof buf, "Quantum:%d:%d", quantumLevel(type), quantumWindow(type)); break;
    case Method::Unknown: std::snprintf(buf, sizeof buf, "unknown:0x%04X", static_cast<unsigned>(type)); break;
    }
    return buf;
}

std::string CompressionRefusalText(cab::TCOMP type)
{
    char buf[48];
    switch (methodOf(type)) {
    case Method::Lzx: std::snprintf(buf, sizeof buf, "LZX, window %d", lzxWindow(type)); break;
    case Method::Quantum:
        std::snprintf(buf, sizeof buf, "Quantum, level %d, window %d", quantumLevel(type), quantumWindow(type));
        break;
    default: std::snprintf(buf, sizeof buf, "typeCompress 0x%04X", static_cast<unsigned>(type)); break;
    }
    return buf;
}

const char sCabWriterClosed[] = "Cabinet writer is not open";
const char sCabNameTooLong[] = "Name too long for a cabinet (more than 255 bytes): %s";
const char sCabUnsafeEntryName[] = "Cabinet entry \"%s\" would be written outside the destination folder";
const char sCabDestinationNoFolder[] = "Destination \"%s\" has no folder";
const char sCabSetLoops[] = "Cabinet set leads back to \"%s\"";
const char sCabSetIncomplete[] = "Cabinet set incomplete: %s not found";
const char sCabSetForeignPart[] = "Cabinet set incomplete: %s is not the part of this set it names";
const char sCabSetEndsEarly[] = "Cabinet set ends before \"%s\"";
const char sCabSetGoesOn[] = "Cabinet set goes on after \"%s\"";
const char sCabFileSizeMismatch[] = "Cabinet file is corrupt: \"%s\" does not come out at its stated size";

}  // namespace qv
