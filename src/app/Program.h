// The window program: the application object, whose general error report
// takes exceptions that escape event handlers, the main window and the
// message loop, and how the program ends.
#pragma once

#include <QApplication>

namespace qv {

class Interaction;
class TForm_ArchimumLDG;

class TApplication : public QApplication {
public:
    using QApplication::QApplication;
    TForm_ArchimumLDG *mainWindow = nullptr;

    bool notify(QObject *receiver, QEvent *event) override;
};

// Ends the message loop as soon as the main window has closed. The log
// windows are not asked first: one that refuses to close must never keep the
// program running without its main window.
void EndProgramWithMainWindow(TForm_ArchimumLDG &window);

// Where the window system cannot be reached (no display at all, or one that
// does not answer), says so in Polish on standard error and ends the process
// with status 2 instead of Qt's abort. Call before the application object is
// made; StopCatchingMissingDisplay() once it exists.
void CatchMissingDisplay();
void StopCatchingMissingDisplay();

// Shows the main window and runs the message loop until it has closed; the
// log windows still open go with it. Returns the program's exit status.
int RunWindowProgram(TApplication &app, Interaction &ui);

}  // namespace qv
