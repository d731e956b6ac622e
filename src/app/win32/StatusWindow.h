// The log window on Windows: a pane of lines in a fixed-pitch font, a
// progress bar under it, "Zamknij" and STOP at the right. What it shows and
// when it may close is LogWindowModel's; the window owns itself and goes
// when the user closes it (or, never shown, when released).
#pragma once

#include "app/model/LogWindowModel.h"
#include "app/win32/Placement.h"
#include "app/win32/Window.h"

#include <functional>
#include <string>

namespace qv::win {

class StatusWindow : public Window<StatusWindow>, private LogWindowView {
public:
    static constexpr const wchar_t *kClassName = L"qvArchiwizator.Okno_Statusu";

    // A new, hidden log window; it becomes the newest one.
    static StatusWindow *Open();
    // The newest log window still open, if any (STOP of the running
    // operation is pressed through it).
    static StatusWindow *Newest();
    // Told when a log window's settings cannot be written.
    static std::function<void(const std::string &)> errorReport;

    LogWindowModel &model() { return model_; }
    // Escape: closes the window when it may close.
    void escape();

    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void destroyed();

private:
    StatusWindow();
    ~StatusWindow() override;
    void layout();
    void tryClose();

    // LogWindowView
    void captionChanged() override;
    void appendLines(const std::vector<std::string> &lines) override;
    void linesCleared() override;
    void buttonsChanged() override;
    void progressChanged() override;
    void showWindow() override;
    void paintPane() override;
    void startFlushTimer(int ms) override;
    void stopFlushTimer() override;
    void release() override;

    LogWindowModel model_;
    PlacementKeeper keeper_;
    HWND pane_ = nullptr;
    HWND progress_ = nullptr;
    HWND close_ = nullptr;
    HWND stop_ = nullptr;
    HFONT paneFont_ = nullptr;
    HFONT uiFont_ = nullptr;
    HBITMAP stopGlyph_ = nullptr;
    bool shown_ = false;
};

}  // namespace qv::win
