// The system's own message box, open-file dialog and folder browser, with
// the program's texts. The box's Yes and No read "Tak" and "Nie" (Alt+T,
// Alt+N) whatever the language of Windows: the buttons are renamed as the
// box is activated, before it is drawn.
#pragma once

#include "archive/Interaction.h"

#include <windows.h>

#include <optional>
#include <string>

namespace qv::win {

MsgResult ShowMessageBox(HWND owner, const MessageRequest &request);

// "Text (*.a)|*.a|..." as the dialog's filter: the same pairs, each ended by
// a null character, the whole ended by another.
std::wstring DialogFilter(const std::string &filter);

std::optional<std::string> ShowOpenFileDialog(HWND owner, const OpenFileRequest &request);
std::optional<std::string> ShowFolderBrowser(HWND owner, const std::string &prompt, const std::string &startFolder);

}  // namespace qv::win
