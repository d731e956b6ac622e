#include "DemoData.h"
#include "app/AppInteraction.h"
#include "app/EditFields.h"
#include "app/TDBGridLista.h"
#include "app/TForm_ArchimumLDG.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: qvshot OUT.png\n");
        return 2;
    }
    QTemporaryDir temp;
    const QString folder = temp.filePath(QStringLiteral("LDG_2005"));
    qv::demo::WriteDemoDataFolder(folder, qv::demo::RegisterCodePage::Mazovia);
    qv::AppInteraction ui;
    qv::TForm_ArchimumLDG window(ui);
    window.DirectoryEdit_LDG->setText(folder);
    window.show();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    for (int row : {1, 4}) {
        window.DBGridLista->setCurrentRow(row);
        window.ToggleCurrent();
    }
    window.DBGridLista->setCurrentRow(4);
    window.DBGridLista->setFocus();
    t.restart();
    while (t.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const QRect frame = window.frameGeometry();
    const QPixmap shot = window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    return shot.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
