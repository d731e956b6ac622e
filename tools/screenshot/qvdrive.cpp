// qvdrive: runs "Twórz archiwum" or "Odtwórz z archiwum ..." in the real
// main window, headless (QT_QPA_PLATFORM=offscreen), saying yes to every
// question, and prints the seconds the operation took. For bench/program.sh.
//   qvdrive --archive DATA OUT.cab           every company of DATA
//   qvdrive --restore DATA KATALOG FROM.cab
// Settings go to a file of their own in a temporary folder.
#include "app/AppInteraction.h"
#include "app/EditFields.h"
#include "app/TDBGridLista.h"
#include "app/TForm_ArchimumLDG.h"
#include "app/TForm_Zawartosc.h"
#include "register/CompanyList.h"
#include "settings/settingsfile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

namespace {

class YesInteraction : public qv::AppInteraction {
public:
    qv::MsgResult message(const qv::MessageRequest &request) override
    {
        if (request.buttons == qv::MsgButtons::YesNo)
            return qv::MsgResult::Yes;
        std::fprintf(stderr, "qvdrive: %s\n", request.text.c_str());
        return qv::MsgResult::Ok;
    }
};

int usage()
{
    std::fprintf(stderr, "usage: qvdrive --archive DATA OUT.cab | qvdrive --restore DATA KATALOG FROM.cab\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const bool archive = args.size() == 3 && args[0] == QLatin1String("--archive");
    const bool restore = args.size() == 4 && args[0] == QLatin1String("--restore");
    if (!archive && !restore)
        return usage();
    QTemporaryDir settings;
    qv::SetDefaultSettingsFileName(settings.filePath(QStringLiteral("qvarchiwizator.INI")).toStdString());

    YesInteraction ui;
    qv::TForm_ArchimumLDG window(ui);
    window.FN_cab->setText(args.back());
    window.DirectoryEdit_LDG->setText(args[1]);
    window.show();
    for (int i = 0; i < 2000 && window.firstActivation(); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

    qv::TCompanyList &list = *window.RxMD_Spis();
    QElapsedTimer t;
    if (archive) {
        window.act_add_allExecute();
        window.act_Archiwizuj->setEnabled(true);
        t.start();
        window.act_ArchiwizujExecute();
    } else {
        int row = 0;
        while (row < list.count() && list.katalog(row) != args[2].toStdString())
            ++row;
        if (row == list.count()) {
            std::fprintf(stderr, "qvdrive: no company %s\n", qPrintable(args[2]));
            return 1;
        }
        window.DBGridLista->setCurrentRow(row);
        t.start();
        window.act_RestoreExecute();
    }
    const double seconds = t.nsecsElapsed() / 1e9;
    const QStringList lines = qv::Form_Zawartosc ? qv::Form_Zawartosc->lines() : QStringList();
    // The last line of a run that went well.
    const bool ok = !lines.isEmpty() && (archive ? lines.back().startsWith(QStringLiteral("--- Koniec operacji"))
                                                 : lines.back().contains(QStringLiteral("plików, łączna wielkości")));
    if (!ok) {
        std::fprintf(stderr, "qvdrive: the operation did not end well:\n%s\n", qPrintable(lines.join('\n')));
        return 1;
    }
    std::printf("%.3f\n", seconds);
    return 0;
}
