#include "app/win32/Dialogs.h"

#include "app/win32/Wide.h"

#include <commdlg.h>
#include <shlobj.h>

#include <vector>

namespace qv::win {

namespace {

// A message box renames its buttons in a CBT hook of its own thread, set for
// the box's lifetime only: the first dialog activated under it is the box.
thread_local HHOOK tHook = nullptr;

LRESULT CALLBACK renameButtons(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        const HWND box = reinterpret_cast<HWND>(wParam);
        wchar_t className[16] = {};
        GetClassNameW(box, className, 16);
        if (lstrcmpW(className, L"#32770") == 0) {
            if (const HWND yes = GetDlgItem(box, IDYES))
                SetWindowTextW(yes, L"&Tak");
            if (const HWND no = GetDlgItem(box, IDNO))
                SetWindowTextW(no, L"&Nie");
            const HHOOK hook = tHook;
            tHook = nullptr;
            UnhookWindowsHookEx(hook);
            return 0;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

UINT iconStyle(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Error: return MB_ICONERROR;
    case MsgIcon::Question: return MB_ICONQUESTION;
    case MsgIcon::Warning: return MB_ICONWARNING;
    case MsgIcon::Information: return MB_ICONINFORMATION;
    case MsgIcon::None: break;
    }
    return 0;
}

int CALLBACK browseCallback(HWND dialog, UINT message, LPARAM, LPARAM data)
{
    if (message == BFFM_INITIALIZED && data)
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

}  // namespace

MsgResult ShowMessageBox(HWND owner, const MessageRequest &request)
{
    UINT style = iconStyle(request.icon) | MB_SETFOREGROUND;
    style |= owner ? MB_APPLMODAL : MB_TASKMODAL;
    if (request.buttons == MsgButtons::YesNo) {
        style |= MB_YESNO;
        if (request.defaultButton != MsgResult::Yes)
            style |= MB_DEFBUTTON2;
        tHook = SetWindowsHookExW(WH_CBT, renameButtons, nullptr, GetCurrentThreadId());
    } else {
        style |= MB_OK;
    }
    const int answer = MessageBoxW(owner, DisplayLines(request.text).c_str(), W(request.caption).c_str(), style);
    if (tHook) {
        UnhookWindowsHookEx(tHook);
        tHook = nullptr;
    }
    switch (answer) {
    case IDYES: return MsgResult::Yes;
    case IDNO: return MsgResult::No;
    case IDOK: return MsgResult::Ok;
    default: return MsgResult::Cancel;
    }
}

std::wstring DialogFilter(const std::string &filter)
{
    std::wstring out = W(filter);
    for (wchar_t &c : out)
        if (c == L'|')
            c = L'\0';
    out += L'\0';
    out += L'\0';
    return out;
}

std::optional<std::string> ShowOpenFileDialog(HWND owner, const OpenFileRequest &request)
{
    const std::wstring filter = DialogFilter(request.filter);
    const std::wstring title = W(request.title);
    const std::wstring folder = W(request.initialFolder);
    const std::wstring suffix = W(request.defaultSuffix);
    std::vector<wchar_t> file(32768, L'\0');
    const std::wstring initial = W(request.initialName);
    initial.copy(file.data(), std::min(initial.size(), file.size() - 1));

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.lpstrTitle = title.c_str();
    ofn.lpstrDefExt = suffix.empty() ? nullptr : suffix.c_str();
    // The archive need not exist yet: a new name is a valid choice.
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&ofn))
        return std::nullopt;
    return U8(file.data());
}

std::optional<std::string> ShowFolderBrowser(HWND owner, const std::string &prompt, const std::string &startFolder)
{
    const std::wstring title = W(prompt);
    const std::wstring start = W(startFolder);
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    info.lpfn = browseCallback;
    info.lParam = reinterpret_cast<LPARAM>(start.c_str());
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (!chosen)
        return std::nullopt;
    std::vector<wchar_t> path(MAX_PATH + 1, L'\0');
    const bool ok = SHGetPathFromIDListW(chosen, path.data());
    CoTaskMemFree(chosen);
    if (!ok || path[0] == L'\0')
        return std::nullopt;
    return U8(path.data());
}

}  // namespace qv::win
