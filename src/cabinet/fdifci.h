// Our cabinet library: FCI (writer) and FDI (reader) with the published
// signatures, structures and callbacks. Every byte of file I/O and every
// temporary file goes through the caller's callbacks.
//
// The types mirror the published 32-bit Windows ones (long and ULONG are 32
// bits wide there), and live in namespace cab so that they never collide
// with the platform's own typedefs.
#pragma once

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#endif

#include <cstdint>

namespace cab {

using BOOL = int;
using UINT = std::uint32_t;
using USHORT = std::uint16_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using INT_PTR = std::intptr_t;
using TCOMP = USHORT;

constexpr ULONG CB_MAX_CHUNK = 32768U;
constexpr ULONG CB_MAX_DISK = 0x7FFFFFFFUL;
constexpr int CB_MAX_FILENAME = 256;
constexpr int CB_MAX_CABINET_NAME = 256;
constexpr int CB_MAX_CAB_PATH = 256;
constexpr int CB_MAX_DISK_NAME = 256;

constexpr TCOMP tcompMASK_TYPE = 0x000F;
constexpr TCOMP tcompTYPE_NONE = 0x0000;
constexpr TCOMP tcompTYPE_MSZIP = 0x0001;
constexpr TCOMP tcompTYPE_QUANTUM = 0x0002;
constexpr TCOMP tcompTYPE_LZX = 0x0003;
constexpr TCOMP tcompBAD = 0x000F;
constexpr TCOMP tcompMASK_LZX_WINDOW = 0x1F00;
constexpr TCOMP tcompLZX_WINDOW_LO = 0x0F00;
constexpr TCOMP tcompLZX_WINDOW_HI = 0x1500;
constexpr int tcompSHIFT_LZX_WINDOW = 8;
constexpr TCOMP TCOMPfromLZXWindow(int bits) { return static_cast<TCOMP>((bits << tcompSHIFT_LZX_WINDOW) | tcompTYPE_LZX); }
constexpr TCOMP tcompMASK_QUANTUM_LEVEL = 0x00F0;
constexpr TCOMP tcompQUANTUM_LEVEL_LO = 0x0010;
constexpr TCOMP tcompQUANTUM_LEVEL_HI = 0x0070;
constexpr int tcompSHIFT_QUANTUM_LEVEL = 4;
constexpr TCOMP tcompMASK_QUANTUM_MEM = 0x1F00;
constexpr TCOMP tcompQUANTUM_MEM_LO = 0x0A00;
constexpr TCOMP tcompQUANTUM_MEM_HI = 0x1500;
constexpr int tcompSHIFT_QUANTUM_MEM = 8;

#ifdef _WIN32
// The C runtime's headers (taken in at the top, whose guards keep them from
// coming back) define these names as macros of the same values; they give
// way to the interface's own constants.
#undef _A_RDONLY
#undef _A_HIDDEN
#undef _A_SYSTEM
#undef _A_ARCH
#undef _A_EXEC
#undef _A_NAME_IS_UTF
#undef _O_RDONLY
#undef _O_WRONLY
#undef _O_RDWR
#undef _O_APPEND
#undef _O_RANDOM
#undef _O_SEQUENTIAL
#undef _O_TEMPORARY
#undef _O_CREAT
#undef _O_TRUNC
#undef _O_EXCL
#undef _O_SHORT_LIVED
#undef _O_BINARY
#undef _S_IREAD
#undef _S_IWRITE
#endif

// Attribute bits of a cabinet file entry.
constexpr USHORT _A_RDONLY = 0x01;
constexpr USHORT _A_HIDDEN = 0x02;
constexpr USHORT _A_SYSTEM = 0x04;
constexpr USHORT _A_ARCH = 0x20;
constexpr USHORT _A_EXEC = 0x40;
constexpr USHORT _A_NAME_IS_UTF = 0x80;

// C run-time open flags that the library passes to the open callback.
constexpr int _O_RDONLY = 0x0000;
constexpr int _O_WRONLY = 0x0001;
constexpr int _O_RDWR = 0x0002;
constexpr int _O_APPEND = 0x0008;
constexpr int _O_RANDOM = 0x0010;
constexpr int _O_SEQUENTIAL = 0x0020;
constexpr int _O_TEMPORARY = 0x0040;
constexpr int _O_CREAT = 0x0100;
constexpr int _O_TRUNC = 0x0200;
constexpr int _O_EXCL = 0x0400;
constexpr int _O_SHORT_LIVED = 0x1000;
constexpr int _O_BINARY = 0x8000;
constexpr int _S_IREAD = 0x0100;
constexpr int _S_IWRITE = 0x0080;

// The error record, filled by the library when a call fails.
struct ERF {
    int erfOper;   // FCIERR_* or FDIERROR_* code
    int erfType;   // OS error code handed over by a file callback
    BOOL fError;
};
using PERF = ERF *;
using TERF = ERF;

enum FCIERROR : int {
    FCIERR_NONE = 0,
    FCIERR_OPEN_SRC,
    FCIERR_READ_SRC,
    FCIERR_ALLOC_FAIL,
    FCIERR_TEMP_FILE,
    FCIERR_BAD_COMPR_TYPE,
    FCIERR_CAB_FILE,
    FCIERR_USER_ABORT,
    FCIERR_MCI_FAIL,
    FCIERR_CAB_FORMAT_LIMIT,
};

// Cabinet descriptor.
struct CCAB {
    ULONG cb;               // largest size of one cabinet
    ULONG cbFolderThresh;   // size at which a folder is closed
    UINT cbReserveCFHeader;
    UINT cbReserveCFFolder;
    UINT cbReserveCFData;
    int iCab;
    int iDisk;
    int fFailOnIncompressible;
    USHORT setID;
    char szDisk[CB_MAX_DISK_NAME];
    char szCab[CB_MAX_CABINET_NAME];
    char szCabPath[CB_MAX_CAB_PATH];
};
using PCCAB = CCAB *;
using TCCAB = CCAB;

constexpr UINT statusFile = 0;
constexpr UINT statusFolder = 1;
constexpr UINT statusCabinet = 2;

using HFCI = void *;
using HFDI = void *;

using PFNFCIALLOC = void *(*)(ULONG cb);
using PFNFCIFREE = void (*)(void *memory);
using PFNFCIOPEN = INT_PTR (*)(char *pszFile, int oflag, int pmode, int *err, void *pv);
using PFNFCIREAD = UINT (*)(INT_PTR hf, void *memory, UINT cb, int *err, void *pv);
using PFNFCIWRITE = UINT (*)(INT_PTR hf, void *memory, UINT cb, int *err, void *pv);
using PFNFCICLOSE = int (*)(INT_PTR hf, int *err, void *pv);
using PFNFCISEEK = LONG (*)(INT_PTR hf, LONG dist, int seektype, int *err, void *pv);
using PFNFCIDELETE = int (*)(char *pszFile, int *err, void *pv);
using PFNFCIFILEPLACED = int (*)(PCCAB pccab, char *pszFile, LONG cbFile, BOOL fContinuation, void *pv);
using PFNFCIGETNEXTCABINET = BOOL (*)(PCCAB pccab, ULONG cbPrevCab, void *pv);
using PFNFCISTATUS = LONG (*)(UINT typeStatus, ULONG cb1, ULONG cb2, void *pv);
using PFNFCIGETOPENINFO = INT_PTR (*)(char *pszName, USHORT *pdate, USHORT *ptime, USHORT *pattribs, int *err,
                                      void *pv);
using PFNFCIGETTEMPFILE = BOOL (*)(char *pszTempName, int cbTempName, void *pv);

HFCI FCICreate(PERF perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf, PFNFCIOPEN pfnopen,
               PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose, PFNFCISEEK pfnseek,
               PFNFCIDELETE pfndelete, PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab, void *pv);
BOOL FCIAddFile(HFCI hfci, char *pszSourceFile, char *pszFileName, BOOL fExecute,
                PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis, PFNFCIGETOPENINFO pfnfcigoi,
                TCOMP typeCompress);
BOOL FCIFlushCabinet(HFCI hfci, BOOL fGetNextCab, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis);
BOOL FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis);
BOOL FCIDestroy(HFCI hfci);

enum FDIERROR : int {
    FDIERROR_NONE,
    FDIERROR_CABINET_NOT_FOUND,
    FDIERROR_NOT_A_CABINET,
    FDIERROR_UNKNOWN_CABINET_VERSION,
    FDIERROR_CORRUPT_CABINET,
    FDIERROR_ALLOC_FAIL,
    FDIERROR_BAD_COMPR_TYPE,
    FDIERROR_MDI_FAIL,
    FDIERROR_TARGET_FILE,
    FDIERROR_RESERVE_MISMATCH,
    FDIERROR_WRONG_CABINET,
    FDIERROR_USER_ABORT,
};
using TFDIERROR = FDIERROR;

enum FDINOTIFICATIONTYPE : int {
    fdintCABINET_INFO,
    fdintPARTIAL_FILE,
    fdintCOPY_FILE,
    fdintCLOSE_FILE_INFO,
    fdintNEXT_CABINET,
    fdintENUMERATE,
};
using TFDINOTIFICATIONTYPE = FDINOTIFICATIONTYPE;

struct FDINOTIFICATION {
    LONG cb;
    char *psz1;
    char *psz2;
    char *psz3;
    void *pv;
    INT_PTR hf;
    USHORT date;
    USHORT time;
    USHORT attribs;
    USHORT setID;
    USHORT iCabinet;
    USHORT iFolder;
    FDIERROR fdie;
};
using PFDINOTIFICATION = FDINOTIFICATION *;
using TFDINOTIFICATION = FDINOTIFICATION;

// The cabinet summary filled by FDIIsCabinet.
struct FDICABINETINFO {
    LONG cbCabinet;
    USHORT cFolders;
    USHORT cFiles;
    USHORT setID;
    USHORT iCabinet;
    BOOL fReserve;
    BOOL hasprev;
    BOOL hasnext;
};
using PFDICABINETINFO = FDICABINETINFO *;
using TFDICABINETINFO = FDICABINETINFO;

constexpr int cpuUNKNOWN = -1;
constexpr int cpu80286 = 0;
constexpr int cpu80386 = 1;

using PFNALLOC = void *(*)(ULONG cb);
using PFNFREE = void (*)(void *pv);
using PFNOPEN = INT_PTR (*)(char *pszFile, int oflag, int pmode);
using PFNREAD = UINT (*)(INT_PTR hf, void *pv, UINT cb);
using PFNWRITE = UINT (*)(INT_PTR hf, void *pv, UINT cb);
using PFNCLOSE = int (*)(INT_PTR hf);
using PFNSEEK = LONG (*)(INT_PTR hf, LONG dist, int seektype);
using PFNFDINOTIFY = INT_PTR (*)(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin);
using PFNFDIDECRYPT = int (*)(void *pfdid);  // decryption is not supported: pass nullptr

HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread, PFNWRITE pfnwrite,
               PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, PERF perf);
BOOL FDIIsCabinet(HFDI hfdi, INT_PTR hf, PFDICABINETINFO pfdici);
BOOL FDICopy(HFDI hfdi, char *pszCabinet, char *pszCabPath, int flags, PFNFDINOTIFY pfnfdin,
             PFNFDIDECRYPT pfnfdid, void *pvUser);
BOOL FDIDestroy(HFDI hfdi);

// Our own addition to the reader's interface: after FDICopy failed with
// FDIERROR_BAD_COMPR_TYPE, the typeCompress of the folder it refused, so that
// the message can name the method. FALSE when the last FDICopy refused none.
BOOL FDIGetRefusedCompression(HFDI hfdi, TCOMP *ptypeCompress);

}  // namespace cab
