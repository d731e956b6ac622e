// qvshot: pictures of the program for the README and for review.
//   qvshot OUT.png          the main window on the demo data, two companies marked
//   qvshot --questions DIR  every question box the program asks, one PNG each
// Run it under xvfb-run.
#include "DemoData.h"
#include "app/AppInteraction.h"
#include "app/AppResources.h"
#include "app/EditFields.h"
#include "app/TDBGridLista.h"
#include "app/TForm_ArchimumLDG.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <vector>

namespace {

void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

int mainWindow(const QString &out)
{
    QTemporaryDir temp;
    const QString folder = temp.filePath(QStringLiteral("LDG_2005"));
    qv::demo::WriteDemoDataFolder(folder.toStdString(), qv::demo::RegisterCodePage::Mazovia);
    qv::AppInteraction ui;
    qv::TForm_ArchimumLDG window(ui);
    window.DirectoryEdit_LDG->setText(folder);
    window.show();
    settle(1500);
    for (int row : {1, 4}) {
        window.DBGridLista->setCurrentRow(row);
        window.ToggleCurrent();
    }
    window.DBGridLista->setCurrentRow(4);
    window.DBGridLista->setFocus();
    settle(500);
    const QRect frame = window.frameGeometry();
    const QPixmap shot = window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    return shot.save(out) ? 0 : 1;
}

int questions(const QString &dir)
{
    struct Question {
        const char *file;
        qv::MessageRequest request;
    };
    const std::string q = "Potwierdź ... ";
    const std::vector<Question> all = {
        {"archiwizacja.png",
         {"Dokonać archiwizacji wybarnych firm ? [3 sztuk]", q, qv::MsgIcon::Question,
          qv::MsgButtons::YesNo, qv::MsgResult::Yes}},
        {"nadpisanie.png",
         {"WYBRANY PLIK ARCHIWUM C:\\LDG_2005\\Arch2005-03-03_1415.cab JUŻ ISTNIEJE !\rCzy dokonać "
                         "archiwizacji wybarnych firm [3 sztuk] w miejsce tego pliku\r(znajdujące się w nim dane "
                         "ulegną usunięciu) ?",
          "Potwierdź nadpisanie ... ", qv::MsgIcon::Question, qv::MsgButtons::YesNo,
          qv::MsgResult::No}},
        {"odtworzenie.png",
         {"Odtworzyć z archiwum Arch2005-03-03_1415.cab dane\rdla firmy Piekarnia Łęcka w katalogu "
                         "PIEKARN ?",
          "Potwierdź odtworzenie... ", qv::MsgIcon::Question, qv::MsgButtons::YesNo,
          qv::MsgResult::No}},
        {"odtworzenie2.png",
         {"Dla pewności potwierdź jeszcze jeden raz.\r\rNa pewno odtworzyć  dane dla firmy Piekarnia "
                         "Łęcka ?",
          "Potwierdź ostatecznie odtworzenie... ", qv::MsgIcon::Question, qv::MsgButtons::YesNo,
          qv::MsgResult::No}},
        {"wysylanie.png",
         {"Wysłać plik \"Arch2005-03-03_1415.cab\" internetowym protokołem FTP ?",
          "Potwierdź transmisję ... ", qv::MsgIcon::Question, qv::MsgButtons::YesNo,
          qv::MsgResult::No}},
        {"zamkniecie.png",
         {"Trwa operacja na archiwum.\rPrzerwać ją i zakończyć pracę z programem ?",
          "Potwierdź zakończenie pracy... ", qv::MsgIcon::Question, qv::MsgButtons::YesNo,
          qv::MsgResult::No}},
    };
    qv::AppInteraction ui;
    int failures = 0;
    for (const Question &question : all) {
        const QString path = QDir(dir).filePath(QLatin1String(question.file));
        QTimer::singleShot(300, [&] {
            QWidget *box = QApplication::activeModalWidget();
            if (!box || !box->grab().save(path))
                ++failures;
            if (box)
                box->close();
        });
        ui.message(question.request);
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    qv::InstallPolishTranslations(app);
    if (argc == 2)
        return mainWindow(QString::fromLocal8Bit(argv[1]));
    if (argc == 3 && QString::fromLatin1(argv[1]) == QLatin1String("--questions"))
        return questions(QString::fromLocal8Bit(argv[2]));
    std::fprintf(stderr, "usage: qvshot OUT.png | qvshot --questions DIR\n");
    return 2;
}
