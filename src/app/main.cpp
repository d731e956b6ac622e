// qvArchiwizator: archives the ledger program's company data into .cab files.
#include "app/AppInteraction.h"
#include "app/TForm_ArchimumLDG.h"

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
    qv::AppInteraction ui;
    qv::TForm_ArchimumLDG window(ui);
    app.mainWindow = &window;
    window.show();
    return app.exec();
}
