// One C++ object per window: the object is handed to CreateWindowExW, bound
// to its HWND at WM_NCCREATE and gets every message through handle(). The
// binding ends at WM_NCDESTROY, after which the object's destroyed() runs
// (a window that owns itself deletes itself there).
#pragma once

#include <windows.h>

namespace qv::win {

template <typename T> class Window {
public:
    HWND hwnd() const { return hwnd_; }

protected:
    Window() = default;
    ~Window() = default;
    Window(const Window &) = delete;
    Window &operator=(const Window &) = delete;

    static void registerClass(const wchar_t *name, HICON icon = nullptr)
    {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        if (GetClassInfoExW(GetModuleHandleW(nullptr), name, &wc))
            return;
        wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
        wc.lpfnWndProc = &Window::proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = name;
        wc.hIcon = icon;
        wc.hIconSm = icon;
        RegisterClassExW(&wc);
    }

    HWND create(const wchar_t *className, const wchar_t *title, DWORD style, DWORD exStyle, int x, int y, int w, int h,
                HWND owner = nullptr, HMENU menu = nullptr)
    {
        return CreateWindowExW(exStyle, className, title, style, x, y, w, h, owner, menu, GetModuleHandleW(nullptr),
                               static_cast<T *>(this));
    }

    LRESULT defaultProc(UINT message, WPARAM wParam, LPARAM lParam)
    {
        return DefWindowProcW(hwnd_, message, wParam, lParam);
    }

    void destroyed() {}

private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        T *self = nullptr;
        if (message == WM_NCCREATE) {
            self = static_cast<T *>(reinterpret_cast<CREATESTRUCTW *>(lParam)->lpCreateParams);
            self->hwnd_ = hwnd;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        } else {
            self = reinterpret_cast<T *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        }
        if (!self)
            return DefWindowProcW(hwnd, message, wParam, lParam);
        const LRESULT result = self->handle(message, wParam, lParam);
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            self->hwnd_ = nullptr;
            self->destroyed();
        }
        return result;
    }

    HWND hwnd_ = nullptr;
};

}  // namespace qv::win
