// The settings keepers of the program's two windows.
#pragma once

class QWidget;

namespace qv {

class TFormPlacement;
class TFormStorage;

// FormStorage_Main of the main window: section "Main", position only, at least
// 480 x 444, the texts of FN_cab and DirectoryEdit_LDG (their Text property),
// and MainStoredValues(). The window's controls need not exist yet; they are
// looked up when the window is first shown.
TFormStorage *CreateFormStorage_Main(QWidget *mainWindow);

// FormPlacement1 of a log window: section "Okno_Statusu", state and position,
// at least 529 x 235.
TFormPlacement *CreateFormPlacement1(QWidget *logWindow);

}  // namespace qv
