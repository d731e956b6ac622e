// An in-memory file system behind the FCI/FDI callbacks, with hooks to make
// single operations fail and a log of what the library asked for.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cabinet/fdifci.h"

namespace enginetest {

using Bytes = std::vector<std::uint8_t>;

struct MemFile {
    Bytes data;
    std::int64_t fakeSize = -1;  // >= 0: a source file that only claims this size
};

struct MemHandle {
    std::string name;
    std::uint32_t pos = 0;
    int flags = 0;
};

class MemFs {
public:
    std::map<std::string, std::shared_ptr<MemFile>> files;
    std::map<cab::INT_PTR, MemHandle> handles;
    std::vector<std::string> log;  // "open NAME", "close NAME", "delete NAME", "temp NAME"
    int tempCounter = 0;
    std::size_t liveAllocs = 0;
    // Return true to make that operation fail ("open", "read", "write", "seek", "close", "delete", "temp",
    // "alloc"); the name is the file's.
    std::function<bool(const std::string &op, const std::string &name)> failIf;
    int failErr = 5;  // error code handed back by a failing FCI callback

    void put(const std::string &name, Bytes data);
    Bytes &get(const std::string &name);
    bool exists(const std::string &name) const { return files.count(name) != 0; }
    std::size_t openHandles() const { return handles.size(); }
    std::size_t count(const std::string &prefix) const;

    cab::INT_PTR open(const std::string &name, int flags);
    cab::UINT read(cab::INT_PTR hf, void *p, cab::UINT cb);
    cab::UINT write(cab::INT_PTR hf, const void *p, cab::UINT cb);
    int close(cab::INT_PTR hf);
    cab::LONG seek(cab::INT_PTR hf, cab::LONG dist, int type);
    int remove(const std::string &name);
    bool fails(const std::string &op, const std::string &name) const { return failIf && failIf(op, name); }

private:
    cab::INT_PTR next_ = 100;
};

// The FDI callbacks have no user value: they work on this one.
extern MemFs *g_fs;

// FCI callbacks (pv is the MemFs).
void *fciAlloc(cab::ULONG cb);
void fciFree(void *p);
cab::INT_PTR fciOpen(char *name, int oflag, int pmode, int *err, void *pv);
cab::UINT fciRead(cab::INT_PTR hf, void *p, cab::UINT cb, int *err, void *pv);
cab::UINT fciWrite(cab::INT_PTR hf, void *p, cab::UINT cb, int *err, void *pv);
int fciClose(cab::INT_PTR hf, int *err, void *pv);
cab::LONG fciSeek(cab::INT_PTR hf, cab::LONG dist, int type, int *err, void *pv);
int fciDelete(char *name, int *err, void *pv);
cab::BOOL fciTemp(char *name, int cb, void *pv);
cab::INT_PTR fciOpenInfo(char *name, cab::USHORT *date, cab::USHORT *time, cab::USHORT *attribs, int *err, void *pv);

// FDI callbacks (on g_fs).
cab::INT_PTR fdiOpen(char *name, int oflag, int pmode);
cab::UINT fdiRead(cab::INT_PTR hf, void *p, cab::UINT cb);
cab::UINT fdiWrite(cab::INT_PTR hf, void *p, cab::UINT cb);
int fdiClose(cab::INT_PTR hf);
cab::LONG fdiSeek(cab::INT_PTR hf, cab::LONG dist, int type);

// Attributes, date and time fciOpenInfo reports for a source file.
struct SourceInfo {
    cab::USHORT date = 0x5A21;
    cab::USHORT time = 0x6000;
    cab::USHORT attribs = cab::_A_ARCH;
};
extern std::map<std::string, SourceInfo> g_sourceInfo;

// --- building cabinets ------------------------------------------------------

struct Source {
    std::string path;   // in the MemFs
    std::string name;   // in the cabinet
    bool execute = false;
    cab::TCOMP type = cab::tcompTYPE_MSZIP;
    bool flushFolderAfter = false;   // FCIFlushFolder after this file
    bool nextCabinetAfter = false;   // FCIFlushCabinet(TRUE) after this file
};

// What the writer told its callbacks, in order.
struct WriterLog {
    std::vector<std::string> events;  // "add NAME", "placed NAME cont", "file", "folder", "cabinet NAME", "next N"
    std::vector<std::pair<cab::ULONG, cab::ULONG>> fileStatus;
    std::vector<std::pair<cab::ULONG, cab::ULONG>> cabinetStatus;
    std::vector<std::string> placed;   // NAME or NAME+ for continuations
    // Aborts: the n-th call (1-based) of that kind returns the abort value.
    int abortPlacedAt = 0, abortFileAt = 0, abortFolderAt = 0, abortCabinetAt = 0, refuseNextAt = 0;
    int placedCalls = 0, fileCalls = 0, folderCalls = 0, cabinetCalls = 0, nextCalls = 0;
    MemFs *fs = nullptr;
    std::string nameTemplate = "part%d.cab";
};

struct WriterRun {
    cab::ERF erf{};
    bool ok = false;
    WriterLog log;
};

cab::CCAB makeCcab(const std::string &cabName, cab::ULONG cb = 0, cab::ULONG folderThresh = 0);

// Adds every source, then flushes the cabinet; stops at the first failure.
WriterRun writeCabinet(MemFs &fs, cab::CCAB ccab, const std::vector<Source> &sources, WriterLog log = {});

// --- reading cabinets -------------------------------------------------------

struct ReadOptions {
    std::function<bool(const std::string &name)> skip;  // COPY_FILE returns 0
    int abortAt = -1;                                   // notification index that returns -1
    std::function<cab::INT_PTR(cab::FDINOTIFICATION *)> onNext;  // NEXT_CABINET; default 0
};

struct ReadResult {
    cab::ERF erf{};
    bool ok = false;
    std::map<std::string, Bytes> files;
    std::map<std::string, cab::USHORT> attribs;  // as given by CLOSE_FILE_INFO
    std::map<std::string, long> execFlag;        // cb of CLOSE_FILE_INFO
    std::vector<std::string> events;  // "info NEXT", "copy NAME", "close NAME", "partial NAME", "next NAME fdie"
};

ReadResult readCabinet(MemFs &fs, const std::string &cabName, ReadOptions opts = {});

Bytes pattern(std::size_t n, std::uint32_t seed, bool compressible);

}  // namespace enginetest
