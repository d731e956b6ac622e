#include "app/Program.h"

#include "app/AppResources.h"
#include "app/TForm_ArchimumLDG.h"
#include "app/TForm_Zawartosc.h"

#include <QPointer>

#include <cstdio>
#include <cstdlib>

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

namespace {

constexpr int kUsageStatus = 2;

// What Qt says while it starts, held back until it is known whether the
// window can open: then it is said after our own sentence, or as it came.
QStringList &startupMessages()
{
    static QStringList messages;
    return messages;
}

[[noreturn]] void noDisplay(const QString &reason, const QStringList &details = {})
{
    QString text = QStringLiteral("Nie można otworzyć okna programu: brak dostępnego ekranu (%1).\n"
                                  "Bez okna program wykonuje polecenia wiersza poleceń: qvarchiwizator --help\n")
                       .arg(reason);
    for (const QString &d : details)
        text += d + QLatin1Char('\n');
    std::fputs(text.toUtf8().constData(), stderr);
    std::fflush(stderr);
    std::_Exit(kUsageStatus);
}

// Qt ends the process through a fatal message when its platform plugin
// cannot start; that is the display missing, said our way.
void onQtMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    startupMessages() << message;
    if (type == QtFatalMsg) {
        const QStringList &said = startupMessages();
        noDisplay(said.first().simplified(), said);
    }
}

}  // namespace

void CatchMissingDisplay()
{
#ifndef _WIN32
    // An X or Wayland session names itself in the environment; without
    // either, the default platform cannot start.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const bool needsDisplay = platform.isEmpty() || platform.startsWith("xcb") || platform.startsWith("wayland");
    if (needsDisplay && qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        noDisplay(QStringLiteral("zmienne DISPLAY i WAYLAND_DISPLAY nie są ustawione"));
#endif
    qInstallMessageHandler(onQtMessage);
}

void StopCatchingMissingDisplay()
{
    qInstallMessageHandler(nullptr);
    for (const QString &message : std::as_const(startupMessages()))
        std::fputs((message + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
    startupMessages().clear();
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
