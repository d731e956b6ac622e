// Children on Windows: CreateProcessW with the standard handles given through
// STARTUPINFO, a UTF-16 environment block and a command line quoted so that
// the child's C runtime (CommandLineToArgvW) splits it back into the same
// arguments. Anonymous pipes cannot be waited on: they are looked into with
// PeekNamedPipe in short slices.
#include "ChildProcess.h"

#include "platform/text.h"

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <stdexcept>

namespace qv::test {

namespace {

std::wstring wide(const std::string &s) { return Utf8ToUtf16(s); }

std::string narrow(const wchar_t *w, std::size_t len) { return Utf16ToUtf8(std::wstring_view(w, len)); }

std::string lastError(const char *what)
{
    const DWORD code = GetLastError();
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string out = std::string(what) + ": error " + std::to_string(code);
    if (text) {
        std::string t = narrow(text, wcslen(text));
        while (!t.empty() && (t.back() == '\n' || t.back() == '\r' || t.back() == ' '))
            t.pop_back();
        out += " (" + t + ")";
        LocalFree(text);
    }
    return out;
}

// One argument as CommandLineToArgvW reads it back: quoted when it is empty
// or holds a blank, tab or quote; a quote escaped with a backslash, and the
// backslashes before a quote (or the closing one) doubled.
void appendQuoted(std::wstring &line, const std::wstring &arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    for (std::size_t i = 0;; ++i) {
        std::size_t backslashes = 0;
        while (i < arg.size() && arg[i] == L'\\') {
            ++i;
            ++backslashes;
        }
        if (i == arg.size()) {
            line.append(backslashes * 2, L'\\');
            break;
        }
        if (arg[i] == L'"')
            line.append(backslashes * 2 + 1, L'\\');
        else
            line.append(backslashes, L'\\');
        line += arg[i];
    }
    line += L'"';
}

// Inheritable handles live only while one child is made, so another child
// made meanwhile on another thread cannot take them along.
std::mutex creation;

HANDLE inheritableCopy(HANDLE h)
{
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

// A pipe whose end `childEnd` (0 read, 1 write) is inheritable, the other not.
bool makePipe(HANDLE ends[2], int childEnd)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    if (!CreatePipe(&ends[0], &ends[1], &sa, 0))
        return false;
    SetHandleInformation(ends[1 - childEnd], HANDLE_FLAG_INHERIT, 0);
    return true;
}

void closeHandle(HANDLE &h)
{
    if (h && h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    h = nullptr;
}

HANDLE handleOf(FileHandle h) { return reinterpret_cast<HANDLE>(h); }

// Ctrl+Break travels through a console: the children attach to ours, so a
// test program started without one (by CTest, through pipes) makes one
// first, out of sight.
void ensureConsole()
{
    // Wine makes no console without a display, and has no use for one here
    // (InterruptUnavailable).
    if (UnderWine() || GetConsoleCP() != 0 || !AllocConsole())
        return;
    if (HWND window = GetConsoleWindow())
        ShowWindow(window, SW_HIDE);
}

// What a pipe holds now, read whole; the pipe closed once its writers have gone.
void readInto(FileHandle &pipe, std::string &into, bool &got)
{
    if (pipe == InvalidFileHandle)
        return;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(handleOf(pipe), nullptr, 0, nullptr, &available, nullptr)) {
            CloseHandle(handleOf(pipe));  // broken: every writer has gone
            pipe = InvalidFileHandle;
            return;
        }
        if (available == 0)
            return;
        char buf[65536];
        DWORD n = 0;
        if (!ReadFile(handleOf(pipe), buf, std::min<DWORD>(available, sizeof buf), &n, nullptr) || n == 0) {
            CloseHandle(handleOf(pipe));
            pipe = InvalidFileHandle;
            return;
        }
        into.append(buf, n);
        got = true;
    }
}

}  // namespace

Environment::Environment()
{
    wchar_t *block = GetEnvironmentStringsW();
    for (const wchar_t *p = block; p && *p; p += wcslen(p) + 1) {
        const std::string entry = narrow(p, wcslen(p));
        // "=C:=C:\folder" keeps a drive's current folder: a name that begins
        // with "=".
        const std::size_t eq = entry.find('=', 1);
        if (eq != std::string::npos)
            vars_.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
    }
    if (block)
        FreeEnvironmentStringsW(block);
}

bool Environment::sameName(const std::string &a, const std::string &b)
{
    return CompareStringOrdinal(wide(a).c_str(), -1, wide(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

FileHandle OwnStandardError() { return reinterpret_cast<FileHandle>(GetStdHandle(STD_ERROR_HANDLE)); }

std::pair<FileHandle, FileHandle> MakePipe()
{
    HANDLE r = nullptr, w = nullptr;
    if (!CreatePipe(&r, &w, nullptr, 0))
        throw std::runtime_error(lastError("CreatePipe"));
    return {reinterpret_cast<FileHandle>(r), reinterpret_cast<FileHandle>(w)};
}

ChildProcess::ChildProcess(const std::string &program, const std::vector<std::string> &args,
                           const ChildOptions &options)
{
    std::wstring line;
    appendQuoted(line, wide(program));
    for (const std::string &a : args) {
        line += L' ';
        appendQuoted(line, wide(a));
    }

    // Sorted, as the system keeps its own block.
    std::vector<std::wstring> vars;
    for (const std::string &e : options.environment.entries())
        vars.push_back(wide(e));
    std::sort(vars.begin(), vars.end(), [](const std::wstring &a, const std::wstring &b) {
        return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    std::wstring block;
    for (const std::wstring &v : vars) {
        block += v;
        block += L'\0';
    }
    block += L'\0';

    const std::lock_guard<std::mutex> lock(creation);
    ensureConsole();
    HANDLE in[2] = {}, out[2] = {}, err[2] = {};
    HANDLE childIn = nullptr, childOut = nullptr, childErr = nullptr;
    const auto cleanUp = [&] {
        for (HANDLE *p : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1], &childIn, &childOut, &childErr})
            closeHandle(*p);
    };
    bool ok = true;
    if (options.input)
        ok = (childIn = inheritableCopy(handleOf(*options.input))) != nullptr;
    else if ((ok = makePipe(in, 0)))
        std::swap(childIn, in[0]);
    if (ok && options.output)
        ok = (childOut = inheritableCopy(handleOf(*options.output))) != nullptr;
    else if (ok && (ok = makePipe(out, 1)))
        std::swap(childOut, out[1]);
    if (ok && options.errors)
        ok = (childErr = inheritableCopy(handleOf(*options.errors))) != nullptr;
    else if (ok && (ok = makePipe(err, 1)))
        std::swap(childErr, err[1]);
    if (!ok) {
        startError_ = lastError("pipe");
        cleanUp();
        return;
    }

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = childIn;
    si.hStdOutput = childOut;
    si.hStdError = childErr;
    PROCESS_INFORMATION pi{};
    const std::wstring folder = wide(options.workingFolder);
    const std::wstring application = wide(program);
    // A name without a folder is looked up by the system, as a shell would.
    const bool hasFolder = program.find_first_of("\\/:") != std::string::npos;
    if (!CreateProcessW(hasFolder ? application.c_str() : nullptr, line.data(), nullptr, nullptr, TRUE,
                        CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT, block.data(),
                        folder.empty() ? nullptr : folder.c_str(), &si, &pi)) {
        startError_ = program + ": " + lastError("CreateProcessW");
        cleanUp();
        return;
    }
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    outPipe_ = options.output ? InvalidFileHandle : reinterpret_cast<FileHandle>(out[0]);
    errPipe_ = options.errors ? InvalidFileHandle : reinterpret_cast<FileHandle>(err[0]);
    out[0] = err[0] = nullptr;
    cleanUp();  // the child's ends, and the writing end of its input
}

ChildProcess::~ChildProcess()
{
    if (process_ && !ended_) {
        kill();
        reap(true);
    }
    closePipes();
    if (process_)
        CloseHandle(static_cast<HANDLE>(process_));
}

void ChildProcess::readAvailable(int waitMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        bool got = false;
        readInto(outPipe_, out_, got);
        readInto(errPipe_, err_, got);
        if (got || static_cast<int>(GetTickCount() - start) >= waitMs)
            return;
        Sleep(5);
    }
}

void ChildProcess::reap(bool block)
{
    if (!process_ || ended_)
        return;
    if (WaitForSingleObject(static_cast<HANDLE>(process_), block ? INFINITE : 0) != WAIT_OBJECT_0)
        return;
    DWORD code = 0;
    GetExitCodeProcess(static_cast<HANDLE>(process_), &code);
    ended_ = true;
    exitCode_ = static_cast<int>(code);
    // An unhandled exception ends a program with its status (0xC0000005 ...).
    crashed_ = killed_ || code >= 0xC0000000u;
}

void ChildProcess::closePipes()
{
    for (FileHandle *p : {&outPipe_, &errPipe_})
        if (*p != InvalidFileHandle) {
            CloseHandle(handleOf(*p));
            *p = InvalidFileHandle;
        }
}

std::string ChildProcess::InterruptUnavailable()
{
    if (UnderWine())
        return "Wine sends no Ctrl+Break (GenerateConsoleCtrlEvent fails with it), and its Ctrl+C reaches "
               "either every process of the console (a test program run from a terminal) or, without one "
               "(under CTest), none: a child cannot be interrupted alone";
    ensureConsole();
    if (GetConsoleCP() == 0)
        return "no console to send Ctrl+Break through, and none could be made";
    return {};
}

bool ChildProcess::interrupt()
{
    if (!running()) {
        stopError_ = "the child is not running";
        return false;
    }
    // The child shares our console and leads a process group of its own:
    // Ctrl+Break reaches that group alone.
    if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, pid_)) {
        stopError_ = lastError("GenerateConsoleCtrlEvent");
        return false;
    }
    stopError_.clear();
    return true;
}

bool ChildProcess::terminate()
{
    stopError_ = "Windows sends a console program no request to end";
    return false;
}

void ChildProcess::kill()
{
    if (process_ && !ended_ && TerminateProcess(static_cast<HANDLE>(process_), 1))
        killed_ = true;
}

}  // namespace qv::test
