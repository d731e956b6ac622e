// The Windows program's window side: the Interaction the operations talk to
// (the system's message boxes and dialogs, log windows of our own, the
// message loop's pending events), and the program run with its main window.
#pragma once

#include "archive/Interaction.h"

#include <windows.h>

namespace qv::win {

class WindowInteraction : public Interaction {
public:
    // The window the boxes and dialogs belong to while none of ours is active.
    void setOwner(HWND owner) { owner_ = owner; }

    LogWindow *openLogWindow() override;
    MsgResult message(const MessageRequest &request) override;
    void beep() override;
    void processEvents() override;
    std::optional<std::string> browseFolder(const std::string &prompt, const std::string &startFolder) override;
    std::optional<std::string> openFile(const OpenFileRequest &request) override;

private:
    HWND owner() const;
    HWND owner_ = nullptr;
};

// What the loop does with a message before it is dispatched: Escape closes a
// log window, Tab moves between the main window's fields. True when the
// message was used up.
bool PreTranslate(MSG &msg);

// Opens the main window and runs until it closes; the exit status.
int RunWindowProgram();

}  // namespace qv::win
