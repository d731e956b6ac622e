#include "app/Program.h"

#include "app/AppResources.h"
#include "app/TForm_ArchimumLDG.h"
#include "app/TForm_Zawartosc.h"

#include <QPointer>

namespace qv {

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        if (mainWindow)
            mainWindow->ShowException(QString::fromUtf8(e.what()));
    }
    return false;
}

void EndProgramWithMainWindow(TForm_ArchimumLDG &window)
{
    // quit() would first ask every window to close, and give up when one
    // refuses; exit() leaves the loop whatever they say.
    QObject::connect(&window, &TForm_ArchimumLDG::closed, qApp, [] { QCoreApplication::exit(0); });
}

int RunWindowProgram(TApplication &app, Interaction &ui)
{
    InstallPolishTranslations(app);
    // Log windows are windows of their own; closing the main window still
    // ends the program, and the log windows go with it.
    app.setQuitOnLastWindowClosed(false);
    TForm_ArchimumLDG window(ui);
    app.mainWindow = &window;
    EndProgramWithMainWindow(window);
    window.show();
    const int result = app.exec();
    QList<QPointer<QWidget>> others;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w != &window && qobject_cast<TForm_Zawartosc *>(w))
            others << w;
    for (const QPointer<QWidget> &w : others)
        delete w.data();
    app.mainWindow = nullptr;
    return result;
}

}  // namespace qv
