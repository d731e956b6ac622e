#include "app/win32/WindowProgram.h"

#include "app/win32/Dialogs.h"
#include "app/win32/MainWindow.h"
#include "app/win32/StatusWindow.h"
#include "app/win32/Wide.h"
#include "platform/console.h"
#include "platform/errors.h"

#include <commctrl.h>
#include <objbase.h>

namespace qv::win {

namespace {

bool isClass(HWND hwnd, const wchar_t *name)
{
    wchar_t className[64] = {};
    GetClassNameW(hwnd, className, 64);
    return lstrcmpW(className, name) == 0;
}

// Where the window cannot open (no desktop, as under Wine without a
// display): said in Polish on the error output the program was started with
// (a console, or a file or pipe), else in a box.
void sayNoWindow(unsigned long error)
{
    AttachParentConsole();
    std::string reason = error ? SysErrorMessage(static_cast<int>(error)) : std::string();
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'))
        reason.pop_back();
    const std::string text = "Nie można otworzyć okna programu" + (reason.empty() ? "" : " (" + reason + ")") +
                             ".\r\nBez okna program wykonuje polecenia wiersza poleceń: qvarchiwizator.exe --help\r\n";
    const std::wstring wide = W(text);
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    if (err != nullptr && err != INVALID_HANDLE_VALUE && GetConsoleMode(err, &mode))
        WriteConsoleW(err, wide.c_str(), static_cast<DWORD>(wide.size()), &written, nullptr);
    else if (err != nullptr && err != INVALID_HANDLE_VALUE && GetFileType(err) != FILE_TYPE_UNKNOWN)
        WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    else
        MessageBoxW(nullptr, wide.c_str(), L"Qvarchiwizator", MB_OK | MB_ICONERROR);
}

}  // namespace

LogWindow *WindowInteraction::openLogWindow() { return &StatusWindow::Open()->model(); }

HWND WindowInteraction::owner() const
{
    // A question of a running operation belongs over its log window.
    const HWND active = GetActiveWindow();
    return active ? active : owner_;
}

MsgResult WindowInteraction::message(const MessageRequest &request) { return ShowMessageBox(owner(), request); }

void WindowInteraction::beep() { MessageBeep(MB_OK); }

void WindowInteraction::processEvents()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // The main loop ends the program once the operation returns.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (PreTranslate(msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

std::optional<std::string> WindowInteraction::browseFolder(const std::string &prompt, const std::string &startFolder)
{
    return ShowFolderBrowser(owner(), prompt, startFolder);
}

std::optional<std::string> WindowInteraction::openFile(const OpenFileRequest &request)
{
    return ShowOpenFileDialog(owner(), request);
}

bool PreTranslate(MSG &msg)
{
    if (msg.message != WM_KEYDOWN || !msg.hwnd)
        return false;
    const HWND root = GetAncestor(msg.hwnd, GA_ROOT);
    if (msg.wParam == VK_ESCAPE && isClass(root, StatusWindow::kClassName)) {
        PostMessageW(root, WM_CLOSE, 0, 0);
        return true;
    }
    if (msg.wParam == VK_TAB && isClass(root, MainWindow::kClassName) && !(GetKeyState(VK_CONTROL) & 0x8000)) {
        const bool back = GetKeyState(VK_SHIFT) & 0x8000;
        if (const HWND next = GetNextDlgTabItem(root, GetFocus(), back))
            SetFocus(next);
        return true;
    }
    return false;
}

int RunWindowProgram()
{
    // The folder browser's new style needs COM on this thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    int status = 0;
    do {
        WindowInteraction ui;
        MainWindow window(ui);
        if (!window.hwnd()) {
            sayNoWindow(GetLastError());
            status = 2;
            break;
        }
        ui.setOwner(window.hwnd());
        window.show();
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (PreTranslate(msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        status = msg.message == WM_QUIT ? static_cast<int>(msg.wParam) : 0;
    } while (false);
    if (SUCCEEDED(com))
        CoUninitialize();
    return status;
}

}  // namespace qv::win
