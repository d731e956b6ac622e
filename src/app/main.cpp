// qvArchiwizator: archives the ledger program's company data into .cab files.
#include "app/AppInteraction.h"
#include "app/TForm_ArchimumLDG.h"
#include "app/TForm_Zawartosc.h"

#include <QPointer>

#include <QApplication>

namespace {

// Exceptions that escape an event handler outside the commands end up here,
// in the program's general error report, and the program goes on.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;
    qv::TForm_ArchimumLDG *mainWindow = nullptr;

    bool notify(QObject *receiver, QEvent *event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception &e) {
            if (mainWindow)
                mainWindow->ShowException(QString::fromUtf8(e.what()));
        }
        return false;
    }
};

}  // namespace

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    // Log windows are windows of their own; closing the main window still
    // ends the program, and the log windows go with it.
    app.setQuitOnLastWindowClosed(false);
    qv::AppInteraction ui;
    qv::TForm_ArchimumLDG window(ui);
    app.mainWindow = &window;
    QObject::connect(&window, &qv::TForm_ArchimumLDG::closed, &app, &QApplication::quit);
    window.show();
    const int result = app.exec();
    QList<QPointer<QWidget>> others;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w != &window && qobject_cast<qv::TForm_Zawartosc *>(w))
            others << w;
    for (const QPointer<QWidget> &w : others)
        delete w.data();
    return result;
}
