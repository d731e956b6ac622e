// How the program ends, and Qt's own texts in Polish.
#include "AppFixture.h"
#include "app/AppResources.h"
#include "app/Program.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>

using namespace qv;
using namespace qv::test;

namespace {

// Runs the message loop until something ends it, or fails after a while.
int execWithWatchdog(int ms = 5000)
{
    bool watchdog = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        watchdog = true;
        QCoreApplication::exit(99);
    });
    guard.start(ms);
    const int rc = QApplication::exec();
    EXPECT_FALSE(watchdog) << "the message loop did not end";
    return rc;
}

}  // namespace

TEST_F(AppFixture, ClosingTheMainWindowEndsTheProgramEvenWhileALogWindowRefusesToClose)
{
    startOnDemo();
    EndProgramWithMainWindow(*window);
    auto *log = static_cast<TForm_Zawartosc *>(ui.openLogWindow());
    log->setStopVisible(true);
    log->setCloseEnabled(false);
    log->showModeless();
    ASSERT_FALSE(log->close()) << "the log window of a running operation refuses to close";
    QTimer::singleShot(20, window.get(), [this] { window->close(); });
    EXPECT_EQ(execWithWatchdog(), 0);
    EXPECT_FALSE(window->isVisible());
}

TEST(PolishTexts, StandardButtonsAndDialogsArePolishWhateverTheSystemsLanguage)
{
    ASSERT_TRUE(InstallPolishTranslations(*qApp));
    AppInteraction qt;

    QStringList texts;
    QTimer::singleShot(50, [&texts] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            for (QAbstractButton *b : box->buttons())
                texts << b->text();
            box->button(QMessageBox::No)->click();
        }
    });
    const MsgResult answer =
        qt.message({"Pytanie ?", "Potwierdź ... ", MsgIcon::Question, MsgButtons::YesNo, MsgResult::No});
    EXPECT_EQ(answer, MsgResult::No);
    texts.sort();
    EXPECT_EQ(texts, (QStringList{QStringLiteral("&Nie"), QStringLiteral("&Tak")}));

    // Qt's own file dialog, in Polish too.
    QStringList dialogTexts;
    QString title;
    QTimer::singleShot(50, [&dialogTexts, &title] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            title = dialog->windowTitle();
            for (QDialogButtonBox *box : dialog->findChildren<QDialogButtonBox *>())
                for (QAbstractButton *b : box->buttons())
                    dialogTexts << b->text();
            dialog->reject();
        }
    });
    OpenFileRequest request;
    request.title = "Wskaż plik archiwum *.cab";
    request.filter = "Pliki archiwum (*.cab)|*.cab";
    EXPECT_FALSE(qt.openFile(request).has_value());
    EXPECT_EQ(title, Q(request.title));
    EXPECT_TRUE(dialogTexts.contains(QStringLiteral("Anuluj"))) << dialogTexts.join(QLatin1Char(',')).toStdString();
}
