#include "engine_memfs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace enginetest {

using namespace cab;

MemFs *g_fs = nullptr;
std::map<std::string, SourceInfo> g_sourceInfo;

void MemFs::put(const std::string &name, Bytes data)
{
    auto f = std::make_shared<MemFile>();
    f->data = std::move(data);
    files[name] = f;
}

Bytes &MemFs::get(const std::string &name) { return files.at(name)->data; }

std::size_t MemFs::count(const std::string &prefix) const
{
    std::size_t n = 0;
    for (const auto &[name, f] : files)
        n += name.rfind(prefix, 0) == 0;
    return n;
}

INT_PTR MemFs::open(const std::string &name, int flags)
{
    if (fails("open", name))
        return -1;
    auto it = files.find(name);
    if (flags & _O_CREAT) {
        if (it != files.end() && (flags & _O_EXCL))
            return -1;
        if (it == files.end())
            it = files.emplace(name, std::make_shared<MemFile>()).first;
        else if (flags & _O_TRUNC)
            it->second->data.clear();
    } else if (it == files.end()) {
        return -1;
    }
    log.push_back("open " + name);
    const INT_PTR h = next_++;
    handles[h] = MemHandle{name, 0, flags};
    return h;
}

UINT MemFs::read(INT_PTR hf, void *p, UINT cb)
{
    auto it = handles.find(hf);
    if (it == handles.end() || fails("read", it->second.name))
        return static_cast<UINT>(-1);
    MemFile &f = *files.at(it->second.name);
    if (f.fakeSize >= 0) {  // endless zeros: the size is all that matters
        std::memset(p, 0, cb);
        it->second.pos += cb;
        return cb;
    }
    const std::size_t pos = it->second.pos;
    const std::size_t n = pos >= f.data.size() ? 0 : std::min<std::size_t>(cb, f.data.size() - pos);
    if (n)
        std::memcpy(p, f.data.data() + pos, n);
    it->second.pos += static_cast<std::uint32_t>(n);
    return static_cast<UINT>(n);
}

UINT MemFs::write(INT_PTR hf, const void *p, UINT cb)
{
    auto it = handles.find(hf);
    if (it == handles.end() || fails("write", it->second.name))
        return static_cast<UINT>(-1);
    MemFile &f = *files.at(it->second.name);
    const std::size_t pos = it->second.pos;
    if (f.data.size() < pos + cb)
        f.data.resize(pos + cb);
    std::memcpy(f.data.data() + pos, p, cb);
    it->second.pos += cb;
    return cb;
}

int MemFs::close(INT_PTR hf)
{
    auto it = handles.find(hf);
    if (it == handles.end())
        return -1;
    const bool bad = fails("close", it->second.name);
    log.push_back("close " + it->second.name);
    handles.erase(it);
    return bad ? -1 : 0;
}

LONG MemFs::seek(INT_PTR hf, LONG dist, int type)
{
    auto it = handles.find(hf);
    if (it == handles.end() || fails("seek", it->second.name))
        return -1;
    const MemFile &f = *files.at(it->second.name);
    const std::int64_t size = f.fakeSize >= 0 ? f.fakeSize : static_cast<std::int64_t>(f.data.size());
    const std::int64_t base = type == 0 ? 0 : type == 1 ? it->second.pos : size;
    const std::int64_t pos = base + dist;
    if (pos < 0 || pos > 0x7FFFFFFF)
        return -1;
    it->second.pos = static_cast<std::uint32_t>(pos);
    return static_cast<LONG>(pos);
}

int MemFs::remove(const std::string &name)
{
    if (fails("delete", name))
        return -1;
    log.push_back("delete " + name);
    return files.erase(name) ? 0 : -1;
}

// --- callbacks ---------------------------------------------------------------

void *fciAlloc(ULONG cb)
{
    if (g_fs && g_fs->fails("alloc", std::to_string(cb)))
        return nullptr;
    if (g_fs)
        ++g_fs->liveAllocs;
    return std::malloc(cb);
}

void fciFree(void *p)
{
    if (g_fs && p)
        --g_fs->liveAllocs;
    std::free(p);
}

static MemFs &fsOf(void *pv) { return *static_cast<MemFs *>(pv); }

INT_PTR fciOpen(char *name, int oflag, int, int *err, void *pv)
{
    const INT_PTR h = fsOf(pv).open(name, oflag);
    if (h == -1)
        *err = fsOf(pv).failErr;
    return h;
}

UINT fciRead(INT_PTR hf, void *p, UINT cb, int *err, void *pv)
{
    const UINT n = fsOf(pv).read(hf, p, cb);
    if (n == static_cast<UINT>(-1))
        *err = fsOf(pv).failErr;
    return n;
}

UINT fciWrite(INT_PTR hf, void *p, UINT cb, int *err, void *pv)
{
    const UINT n = fsOf(pv).write(hf, p, cb);
    if (n == static_cast<UINT>(-1))
        *err = fsOf(pv).failErr;
    return n;
}

int fciClose(INT_PTR hf, int *err, void *pv)
{
    const int r = fsOf(pv).close(hf);
    if (r)
        *err = fsOf(pv).failErr;
    return r;
}

LONG fciSeek(INT_PTR hf, LONG dist, int type, int *err, void *pv)
{
    const LONG r = fsOf(pv).seek(hf, dist, type);
    if (r == -1)
        *err = fsOf(pv).failErr;
    return r;
}

int fciDelete(char *name, int *err, void *pv)
{
    const int r = fsOf(pv).remove(name);
    if (r)
        *err = fsOf(pv).failErr;
    return r;
}

BOOL fciTemp(char *name, int cb, void *pv)
{
    MemFs &fs = fsOf(pv);
    const std::string n = "tmp/" + std::to_string(++fs.tempCounter);
    if (fs.fails("temp", n) || static_cast<int>(n.size()) >= cb)
        return 0;
    std::strcpy(name, n.c_str());
    fs.log.push_back("temp " + n);
    return 1;
}

INT_PTR fciOpenInfo(char *name, USHORT *date, USHORT *time, USHORT *attribs, int *err, void *pv)
{
    const SourceInfo info = g_sourceInfo.count(name) ? g_sourceInfo[name] : SourceInfo{};
    *date = info.date;
    *time = info.time;
    *attribs = info.attribs;
    return fciOpen(name, _O_RDONLY | _O_BINARY, 0, err, pv);
}

INT_PTR fdiOpen(char *name, int oflag, int) { return g_fs->open(name, oflag); }
UINT fdiRead(INT_PTR hf, void *p, UINT cb) { return g_fs->read(hf, p, cb); }
UINT fdiWrite(INT_PTR hf, void *p, UINT cb) { return g_fs->write(hf, p, cb); }
int fdiClose(INT_PTR hf) { return g_fs->close(hf); }
LONG fdiSeek(INT_PTR hf, LONG dist, int type) { return g_fs->seek(hf, dist, type); }

// --- writer driver -------------------------------------------------------------

CCAB makeCcab(const std::string &cabName, ULONG cb, ULONG folderThresh)
{
    CCAB c{};
    c.cb = cb ? cb : 0x7FFFFFFF;
    c.cbFolderThresh = folderThresh ? folderThresh : 0x7FFFFFFF;
    c.iDisk = 1;
    std::snprintf(c.szCab, sizeof c.szCab, "%s", cabName.c_str());
    std::snprintf(c.szDisk, sizeof c.szDisk, "Disk1");
    std::snprintf(c.szCabPath, sizeof c.szCabPath, "out/");
    return c;
}

static int placedCb(PCCAB pccab, char *file, LONG cbFile, BOOL cont, void *pv)
{
    auto &l = *static_cast<WriterLog *>(pv);
    (void)cbFile;
    l.events.push_back(std::string("placed ") + file + (cont ? " cont" : "") + " in " + pccab->szCab);
    l.placed.push_back(std::string(file) + (cont ? "+" : ""));
    return ++l.placedCalls == l.abortPlacedAt ? -1 : 0;
}

// Status and next-cabinet callbacks get the WriterLog through a global, since
// FCI hands them the pv given at FCICreate (the MemFs).
static WriterLog *g_log = nullptr;

static LONG statusCb(UINT type, ULONG cb1, ULONG cb2, void *)
{
    WriterLog &l = *g_log;
    if (type == statusFile) {
        l.events.push_back("file");
        l.fileStatus.emplace_back(cb1, cb2);
        return ++l.fileCalls == l.abortFileAt ? -1 : 0;
    }
    if (type == statusFolder) {
        l.events.push_back("folder");
        return ++l.folderCalls == l.abortFolderAt ? -1 : 0;
    }
    l.cabinetStatus.emplace_back(cb1, cb2);
    // The cabinet must be complete and closed by now.
    const bool open = [] {
        for (const auto &[h, mh] : g_fs->handles)
            if (mh.name.rfind("out/", 0) == 0)
                return true;
        return false;
    }();
    l.events.push_back(std::string("cabinet") + (open ? " still-open" : ""));
    return ++l.cabinetCalls == l.abortCabinetAt ? -1 : static_cast<LONG>(cb2);
}

static BOOL nextCb(PCCAB pccab, ULONG, void *)
{
    WriterLog &l = *g_log;
    l.events.push_back("next " + std::to_string(pccab->iCab));
    if (++l.nextCalls == l.refuseNextAt)
        return 0;
    std::snprintf(pccab->szCab, sizeof pccab->szCab, l.nameTemplate.c_str(), pccab->iCab);
    std::snprintf(pccab->szDisk, sizeof pccab->szDisk, "Disk%d", pccab->iCab);
    return 1;
}

// FCI passes one pv to every callback; the file-placed one needs the log, the
// file callbacks the MemFs. Both are reachable through the globals here.
static int placedThunk(PCCAB pccab, char *file, LONG cbFile, BOOL cont, void *)
{
    return placedCb(pccab, file, cbFile, cont, g_log);
}

WriterRun writeCabinet(MemFs &fs, CCAB ccab, const std::vector<Source> &sources, WriterLog log)
{
    WriterRun run;
    run.log = std::move(log);
    run.log.fs = &fs;
    g_fs = &fs;
    g_log = &run.log;
    HFCI h = FCICreate(&run.erf, placedThunk, fciAlloc, fciFree, fciOpen, fciRead, fciWrite, fciClose, fciSeek,
                       fciDelete, fciTemp, &ccab, &fs);
    if (!h)
        return run;
    bool ok = true;
    for (const Source &s : sources) {
        run.log.events.push_back("add " + s.name);
        std::string path = s.path, name = s.name;
        if (!FCIAddFile(h, path.data(), name.data(), s.execute, nextCb, statusCb, fciOpenInfo, s.type) ||
            (s.flushFolderAfter && !FCIFlushFolder(h, nextCb, statusCb)) ||
            (s.nextCabinetAfter && !FCIFlushCabinet(h, 1, nextCb, statusCb))) {
            ok = false;
            break;
        }
    }
    if (ok) {
        run.log.events.push_back("flush");
        ok = FCIFlushCabinet(h, 0, nextCb, statusCb) != 0;
    }
    FCIDestroy(h);
    run.ok = ok;
    g_log = nullptr;
    return run;
}

// --- reader driver -------------------------------------------------------------

namespace {
struct ReadCtx {
    MemFs *fs;
    ReadOptions *opts;
    ReadResult *res;
    int index = 0;
    std::map<INT_PTR, std::string> out;
};
}  // namespace

static INT_PTR notifyCb(FDINOTIFICATIONTYPE type, PFDINOTIFICATION n)
{
    auto &c = *static_cast<ReadCtx *>(n->pv);
    if (c.index++ == c.opts->abortAt)
        return -1;
    switch (type) {
    case fdintCABINET_INFO:
        c.res->events.push_back(std::string("info ") + n->psz1 + " #" + std::to_string(n->iCabinet));
        return 0;
    case fdintPARTIAL_FILE:
        c.res->events.push_back(std::string("partial ") + n->psz1 + " from " + n->psz2);
        return 0;
    case fdintCOPY_FILE: {
        c.res->events.push_back(std::string("copy ") + n->psz1);
        if (c.opts->skip && c.opts->skip(n->psz1))
            return 0;
        const std::string name = std::string("x/") + n->psz1;
        const INT_PTR h = c.fs->open(name, _O_CREAT | _O_TRUNC | _O_WRONLY);
        c.out[h] = n->psz1;
        return h;
    }
    case fdintCLOSE_FILE_INFO: {
        c.res->events.push_back(std::string("close ") + n->psz1);
        const std::string name = c.out.at(n->hf);
        c.fs->close(n->hf);
        c.res->files[name] = c.fs->get("x/" + name);
        c.res->attribs[name] = n->attribs;
        c.res->execFlag[name] = n->cb;
        return 1;
    }
    case fdintNEXT_CABINET:
        c.res->events.push_back(std::string("next ") + n->psz1 + " " + std::to_string(n->fdie));
        return c.opts->onNext ? c.opts->onNext(n) : 0;
    default:
        return 0;
    }
}

ReadResult readCabinet(MemFs &fs, const std::string &cabName, ReadOptions opts)
{
    ReadResult res;
    g_fs = &fs;
    HFDI h = FDICreate(fciAlloc, fciFree, fdiOpen, fdiRead, fdiWrite, fdiClose, fdiSeek, cpuUNKNOWN, &res.erf);
    if (!h)
        return res;
    ReadCtx ctx{&fs, &opts, &res, 0, {}};
    std::string name = cabName;
    std::string path = "out/";
    res.ok = FDICopy(h, name.data(), path.data(), 0, notifyCb, nullptr, &ctx) != 0;
    // The application owns the handles it returned; close what FDI left open.
    for (const auto &[hf, n] : ctx.out)
        if (fs.handles.count(hf))
            fs.close(hf);
    FDIDestroy(h);
    return res;
}

Bytes pattern(std::size_t n, std::uint32_t seed, bool compressible)
{
    Bytes b(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        if (compressible)
            b[i] = static_cast<std::uint8_t>("LEDGER;2024;ACCOUNT;"[(i + (x >> 28)) % 20]);
        else
            b[i] = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

}  // namespace enginetest
