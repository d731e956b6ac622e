// The question boxes as a user meets them: Polish buttons with their Alt
// keys on any Windows, Enter taking the default, the program's line breaks.
#include "app/win32/Dialogs.h"

#include "NeedsDisplay.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

namespace qv::win {
namespace {

struct Seen {
    std::wstring yes;
    std::wstring no;
    std::wstring ok;
    std::wstring text;
    bool opened = false;
};

std::wstring itemText(HWND box, int id)
{
    const HWND item = GetDlgItem(box, id);
    if (!item)
        return L"<none>";
    wchar_t text[512] = {};
    GetWindowTextW(item, text, 512);
    return text;
}

BOOL CALLBACK findBox(HWND hwnd, LPARAM found)
{
    wchar_t name[16] = {};
    GetClassNameW(hwnd, name, 16);
    if (lstrcmpW(name, L"#32770") == 0 && IsWindowVisible(hwnd)) {
        *reinterpret_cast<HWND *>(found) = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND focusOf(DWORD thread)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(thread, &info);
    return info.hwndFocus;
}

// Shows the box on this thread; another thread finds it, records what it
// shows and answers it with `answer` (given the box and the focused control).
MsgResult showAndAnswer(const MessageRequest &request, const std::function<void(HWND, HWND)> &answer, Seen &seen)
{
    const DWORD thread = GetCurrentThreadId();
    std::thread user([&] {
        HWND box = nullptr;
        for (int i = 0; i < 1000 && !box; ++i) {
            EnumThreadWindows(thread, findBox, reinterpret_cast<LPARAM>(&box));
            if (!box)
                Sleep(10);
        }
        if (!box)
            return;
        // The buttons are renamed as the box activates.
        for (int i = 0; i < 200 && request.buttons == MsgButtons::YesNo && itemText(box, IDYES) != L"&Tak"; ++i)
            Sleep(10);
        seen.opened = true;
        seen.yes = itemText(box, IDYES);
        seen.no = itemText(box, IDNO);
        seen.ok = itemText(box, IDOK);
        seen.text = itemText(box, 0xFFFF);  // the message's static text
        HWND focus = nullptr;
        for (int i = 0; i < 200 && !focus; ++i) {
            focus = focusOf(thread);
            if (!focus)
                Sleep(10);
        }
        answer(box, focus ? focus : box);
    });
    const MsgResult result = ShowMessageBox(nullptr, request);
    user.join();
    return result;
}

MessageRequest question(MsgResult defaultButton)
{
    return {"Odtworzyć dane\rdla firmy Hurtownia Łęg ?", "Potwierdź odtworzenie... ", MsgIcon::Question,
            MsgButtons::YesNo, defaultButton};
}

void press(HWND focus, wchar_t key) { PostMessageW(focus, WM_SYSCHAR, key, 0x20000000); }
void enter(HWND focus) { PostMessageW(focus, WM_KEYDOWN, VK_RETURN, 0); }

TEST(QuestionBox, ReadsTakAndNieWithTheirAltKeysAndTheTextsLines)
{
    QV_NEEDS_DISPLAY();
    Seen seen;
    EXPECT_EQ(showAndAnswer(question(MsgResult::No), [](HWND, HWND focus) { press(focus, L't'); }, seen),
              MsgResult::Yes);
    ASSERT_TRUE(seen.opened);
    EXPECT_EQ(seen.yes, L"&Tak");
    EXPECT_EQ(seen.no, L"&Nie");
    EXPECT_EQ(seen.text, L"Odtworzyć dane\r\ndla firmy Hurtownia Łęg ?");

    Seen again;
    EXPECT_EQ(showAndAnswer(question(MsgResult::Yes), [](HWND, HWND focus) { press(focus, L'n'); }, again),
              MsgResult::No);
    EXPECT_EQ(again.no, L"&Nie");
}

TEST(QuestionBox, EnterTakesTheDefaultButton)
{
    QV_NEEDS_DISPLAY();
    Seen seen;
    EXPECT_EQ(showAndAnswer(question(MsgResult::No), [](HWND, HWND focus) { enter(focus); }, seen), MsgResult::No);
    EXPECT_EQ(showAndAnswer(question(MsgResult::Yes), [](HWND, HWND focus) { enter(focus); }, seen), MsgResult::Yes);
}

TEST(QuestionBox, AMessageKeepsItsOneButtonAndAnOwnerOfNone)
{
    QV_NEEDS_DISPLAY();
    Seen seen;
    const MessageRequest info{"Brak pliku archiwum", "Qvarchiwizator", MsgIcon::None, MsgButtons::Ok, MsgResult::Ok};
    EXPECT_EQ(showAndAnswer(info, [](HWND, HWND focus) { enter(focus); }, seen), MsgResult::Ok);
    EXPECT_EQ(seen.ok, L"OK");
    EXPECT_EQ(seen.yes, L"<none>");
    EXPECT_EQ(seen.text, L"Brak pliku archiwum");
}

TEST(FileDialogFilter, PairsEndEachWithANullAndTheWholeWithAnother)
{
    const std::wstring filter = DialogFilter("Pliki archiwum (*.cab)|*.cab|Wszystkie pliki (*.*)|*.*");
    const std::wstring expected(L"Pliki archiwum (*.cab)\0*.cab\0Wszystkie pliki (*.*)\0*.*\0\0", 56);
    EXPECT_EQ(filter, expected);
}

}  // namespace
}  // namespace qv::win
