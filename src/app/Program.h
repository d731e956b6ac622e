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

// Shows the main window and runs the message loop until it has closed; the
// log windows still open go with it. Returns the program's exit status.
int RunWindowProgram(TApplication &app, Interaction &ui);

}  // namespace qv
