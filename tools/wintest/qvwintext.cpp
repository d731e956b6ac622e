// Prints what a window shows, read through the system's own calls as an
// assistive tool would, for the window's drive under Wine:
//   qvwintext TITLE     the visible top-level window whose title begins so
//   qvwintext --dialog  the message box or dialog that is open (class #32770)
// One line per child control, "CLASS: TEXT"; a list view gives one line per
// row, "ROW n: cell | cell | ...", with " [current]" on its focused row.
// Output is UTF-8. Exit status 1 when no such window is open.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

namespace {

std::string utf8(const std::wstring &w)
{
    if (w.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

// Whole, however long: a log pane holds thousands of lines.
std::wstring text(HWND hwnd)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return {};
    std::wstring buffer(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                        2000, &copied);
    buffer.resize(copied);
    return buffer;
}

// The cells of a list view in another process: the item structure and the
// text buffer must live in that process's memory.
void printListView(HWND list)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(list, &pid);
    const HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process)
        return;
    constexpr SIZE_T kText = 512;
    auto *remote = static_cast<char *>(
        VirtualAllocEx(process, nullptr, sizeof(LVITEMW) + kText * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE));
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    const HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const int columns = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
    for (int row = 0; row < rows; ++row) {
        std::string line = "ROW " + std::to_string(row) + ":";
        for (int column = 0; column < columns; ++column) {
            LVITEMW item{};
            item.iSubItem = column;
            item.cchTextMax = kText;
            item.pszText = reinterpret_cast<wchar_t *>(remote + sizeof(LVITEMW));
            WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
            SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote));
            wchar_t cell[kText] = {};
            ReadProcessMemory(process, remote + sizeof(LVITEMW), cell, sizeof cell - sizeof(wchar_t), nullptr);
            line += (column ? " | " : " ") + utf8(cell);
        }
        if (SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_FOCUSED) & LVIS_FOCUSED)
            line += " [current]";
        std::printf("%s\n", line.c_str());
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
}

BOOL CALLBACK printChild(HWND child, LPARAM)
{
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    if (lstrcmpiW(className, L"SysListView32") == 0)
        printListView(child);
    else if (lstrcmpiW(className, L"SysHeader32") != 0)
        std::printf("%s: %s\n", utf8(className).c_str(), utf8(text(child)).c_str());
    return TRUE;
}

struct Search {
    const wchar_t *prefix;
    HWND found;
};

BOOL CALLBACK findTitled(HWND hwnd, LPARAM data)
{
    auto *search = reinterpret_cast<Search *>(data);
    const std::wstring title = text(hwnd);
    if (IsWindowVisible(hwnd) && title.rfind(search->prefix, 0) == 0) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK findDialog(HWND hwnd, LPARAM found)
{
    wchar_t className[16] = {};
    GetClassNameW(hwnd, className, 16);
    if (IsWindowVisible(hwnd) && lstrcmpW(className, L"#32770") == 0) {
        *reinterpret_cast<HWND *>(found) = hwnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: qvwintext TITLE | --dialog\n");
        return 2;
    }
    HWND window = nullptr;
    if (lstrcmpW(argv[1], L"--dialog") == 0)
        EnumWindows(findDialog, reinterpret_cast<LPARAM>(&window));
    else {
        Search search{argv[1], nullptr};
        EnumWindows(findTitled, reinterpret_cast<LPARAM>(&search));
        window = search.found;
    }
    if (!window)
        return 1;
    std::printf("TITLE: %s\n", utf8(text(window)).c_str());
    EnumChildWindows(window, printChild, 0);
    return 0;
}
