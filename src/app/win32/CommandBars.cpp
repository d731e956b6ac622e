#include "app/win32/CommandBars.h"

#include "app/win32/Glyphs.h"
#include "app/win32/Metrics.h"
#include "app/win32/Wide.h"

#include <vector>

namespace qv::win {

namespace {

constexpr int kToolBarId = 50;

// Glyph numbers in toolbar order, for the image list.
std::vector<int> toolGlyphs()
{
    std::vector<int> glyphs;
    for (const ToolEntry &t : MainToolBar())
        if (!t.gap)
            glyphs.push_back(TextOf(t.command).glyph);
    return glyphs;
}

}  // namespace

bool CommandOfId(int id, Command *command)
{
    if (id < kCommandBase || id >= kCommandBase + kCommandCount)
        return false;
    *command = static_cast<Command>(id - kCommandBase);
    return true;
}

CommandBars::CommandBars(HWND window) : window_(window)
{
    menu_ = CreateMenu();
    for (const MenuText &m : MainMenus()) {
        HMENU popup = CreatePopupMenu();
        for (const MenuEntry &e : m.entries) {
            switch (e.kind) {
            case MenuEntry::CommandEntry:
                AppendMenuW(popup, MF_STRING, CommandId(e.command), W(TextOf(e.command).caption).c_str());
                break;
            case MenuEntry::Separator: AppendMenuW(popup, MF_SEPARATOR, 0, nullptr); break;
            case MenuEntry::HintsSwitch:
                AppendMenuW(popup, MF_STRING, kHintsSwitchId, W(text::kHintsSwitchOff).c_str());
                break;
            case MenuEntry::About: AppendMenuW(popup, MF_STRING, kAboutId, W(text::kAboutCaption).c_str()); break;
            }
        }
        AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), W(m.caption).c_str());
    }
    SetMenu(window_, menu_);

    const HINSTANCE inst = GetModuleHandleW(nullptr);
    toolBar_ = CreateWindowExW(0, TOOLBARCLASSNAMEW, L"",
                               WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP | CCS_NODIVIDER,
                               0, 0, 0, 0, window_, reinterpret_cast<HMENU>(kToolBarId), inst, nullptr);
    SendMessageW(toolBar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    applyDpi(WindowDpi(window_));
    std::vector<TBBUTTON> buttons;
    int image = 0;
    for (const ToolEntry &t : MainToolBar()) {
        TBBUTTON b{};
        if (t.gap) {
            b.iBitmap = t.gapWidth;
            b.fsStyle = BTNS_SEP;
        } else {
            b.iBitmap = image++;
            b.idCommand = CommandId(t.command);
            b.fsState = 0;  // enabled by the model's rules
            b.fsStyle = BTNS_BUTTON;
        }
        buttons.push_back(b);
    }
    SendMessageW(toolBar_, TB_ADDBUTTONSW, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
    if (const HWND tips = reinterpret_cast<HWND>(SendMessageW(toolBar_, TB_GETTOOLTIPS, 0, 0)))
        SendMessageW(tips, TTM_SETMAXTIPWIDTH, 0, 600);

    tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0, 0,
                            0, window_, nullptr, inst, nullptr);
    SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, 600);
    SendMessageW(tips_, TTM_ACTIVATE, FALSE, 0);
}

CommandBars::~CommandBars()
{
    if (images_)
        ImageList_Destroy(images_);
}

void CommandBars::applyDpi(int dpi)
{
    const int size = Scale(16, dpi);
    HIMAGELIST images = GlyphImageList(toolGlyphs(), size);
    SendMessageW(toolBar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
    if (images_)
        ImageList_Destroy(images_);
    images_ = images;
    int w = 0;
    int h = 0;
    ImageList_GetIconSize(images_, &w, &h);
    SendMessageW(toolBar_, TB_SETBITMAPSIZE, 0, MAKELPARAM(w, h));
    SendMessageW(toolBar_, TB_AUTOSIZE, 0, 0);
}

void CommandBars::setEnabled(Command command, bool enabled)
{
    EnableMenuItem(menu_, CommandId(command), MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    SendMessageW(toolBar_, TB_ENABLEBUTTON, CommandId(command), MAKELPARAM(enabled ? TRUE : FALSE, 0));
}

void CommandBars::setHintsSwitchCaption(const std::string &caption)
{
    ModifyMenuW(menu_, kHintsSwitchId, MF_BYCOMMAND | MF_STRING, kHintsSwitchId, W(caption).c_str());
    DrawMenuBar(window_);
}

void CommandBars::addHint(HWND control, const std::string &hint)
{
    std::wstring text = DisplayLines(hint);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = text.data();
    SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void CommandBars::setHintsOn(bool on)
{
    hintsOn_ = on;
    SendMessageW(tips_, TTM_ACTIVATE, on, 0);
    CheckMenuItem(menu_, kHintsSwitchId, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

int CommandBars::layout()
{
    SendMessageW(toolBar_, TB_AUTOSIZE, 0, 0);
    RECT r{};
    GetWindowRect(toolBar_, &r);
    return r.bottom - r.top;
}

bool CommandBars::notify(NMHDR *header)
{
    if (header->code != TTN_GETDISPINFOW)
        return false;
    auto *info = reinterpret_cast<NMTTDISPINFOW *>(header);
    Command command{};
    if (info->uFlags & TTF_IDISHWND || !CommandOfId(static_cast<int>(header->idFrom), &command))
        return false;
    // Hints off: no text, so no tip.
    tipText_ = hintsOn_ ? DisplayLines(TextOf(command).hint) : std::wstring();
    info->lpszText = tipText_.data();
    info->hinst = nullptr;
    return true;
}

}  // namespace qv::win
