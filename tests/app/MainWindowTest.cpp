#include "AppFixture.h"
#include "archive/Interaction.h"

#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QHelpEvent>
#include <QHeaderView>
#include <QImage>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include "platform/errors.h"

using namespace qv;
using namespace qv::test;

namespace {

QString appTitle() { return Q(ApplicationTitle()); }

void touch(const QString &path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

}  // namespace

TEST_F(AppFixture, StartOnAFolderWithARegisterFillsTheListAndEnablesTheListCommands)
{
    startOnDemo();
    EXPECT_TRUE(ui.messages.empty());
    ASSERT_EQ(list().count(), 12);
    EXPECT_EQ(Q(list().firma(0)), QStringLiteral("Biuro Rachunkowe Małgorzata"));
    EXPECT_EQ(Q(list().firma(11)), QStringLiteral("Fundacja Pomocy Żakom"));
    for (int r = 0; r < list().count(); ++r)
        EXPECT_EQ(markText(r), QStringLiteral("nie"));
    EXPECT_EQ(grid().currentRow(), 11);
    EXPECT_EQ(QApplication::focusWidget(), &grid());
    for (QAction *a : {window->act_add_one, window->act_add_all, window->act_del_all, window->act_GenerujPlik,
                       window->act_koniec})
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    for (QAction *a : {window->act_Archiwizuj, window->act_Restore, window->act_pokarz, window->act_FTP})
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    EXPECT_TRUE(window->mi_help->isEnabled());
    EXPECT_TRUE(window->mi_about->isEnabled());
}

TEST_F(AppFixture, StartWithAnExistingArchiveEnablesAllButCreate)
{
    const QString archive = temp.file(QStringLiteral("stare archiwum.cab"));
    touch(archive);
    startOnDemo(QLatin1Char('"') + archive + QLatin1Char('"'));
    for (QAction *a : {window->act_Restore, window->act_pokarz, window->act_FTP, window->act_add_all})
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    EXPECT_FALSE(window->act_Archiwizuj->isEnabled());
}

TEST_F(AppFixture, StartWithoutARegisterPromptsAndOpensTheFolderBrowser)
{
    const QString empty = temp.file(QStringLiteral("pusty"));
    QDir().mkpath(empty);
    ui.folderAnswers.push_back(U(dataFolder()));
    start(empty);
    ASSERT_GE(ui.messages.size(), 1u);
    EXPECT_EQ(Q(ui.messages[0].text), QStringLiteral("Wybierz katalog danych progamu LDG_2005"));
    EXPECT_EQ(Q(ui.messages[0].caption), appTitle());
    EXPECT_EQ(ui.messages[0].icon, MsgIcon::None);
    EXPECT_EQ(ui.messages[0].buttons, MsgButtons::Ok);
    ASSERT_EQ(ui.folderPrompts.size(), 1u);
    EXPECT_EQ(Q(ui.folderPrompts[0]), QStringLiteral("Wskaż katalog danyh LDG"));
    EXPECT_EQ(Q(ui.folderStarts[0]), empty);
    // Choosing a folder with a register loads it; no beep at start-up.
    EXPECT_EQ(list().count(), 12);
    EXPECT_EQ(ui.beeps, 0);
    EXPECT_EQ(window->DataFolder(), dataFolder());
}

TEST_F(AppFixture, CancelledStartUpPromptLeavesOnlyTheAlwaysAvailableCommands)
{
    // No stored settings: the default data folder, which does not exist here.
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", temp.file(QStringLiteral("dom")).toUtf8());
    start(QString());
    qputenv("HOME", home);
    EXPECT_EQ(messageTexts(), QStringList{QStringLiteral("Wybierz katalog danych progamu LDG_2005")});
    ASSERT_EQ(ui.folderStarts.size(), 1u);
    EXPECT_EQ(Q(ui.folderStarts[0]), QDir::rootPath());  // the named folder does not exist
    EXPECT_EQ(list().count(), 0);
    EXPECT_TRUE(window->act_koniec->isEnabled());
    for (QAction *a : {window->act_add_one, window->act_add_all, window->act_del_all, window->act_GenerujPlik,
                       window->act_Archiwizuj, window->act_Restore, window->act_pokarz, window->act_FTP})
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
}

TEST_F(AppFixture, LaterFolderWithoutRegisterBeepsAndKeepsTheList)
{
    startOnDemo();
    key(Qt::Key_Space, QStringLiteral(" "));
    const QString empty = temp.file(QStringLiteral("inny"));
    QDir().mkpath(empty);
    ui.folderAnswers.push_back(U(empty));
    window->DirectoryEdit_LDG->button()->click();
    EXPECT_EQ(trail().mid(trail().indexOf(QStringLiteral("browse"))),
              (QStringList{QStringLiteral("browse"), QStringLiteral("beep"),
                           QStringLiteral("message:Podany katalog %1 nie zawiera pliku SPISFIRM.DAT").arg(empty)}));
    EXPECT_EQ(Q(ui.messages.back().caption), appTitle());
    EXPECT_EQ(window->DataFolder(), empty);
    EXPECT_EQ(list().count(), 12);
    EXPECT_EQ(markText(11), QStringLiteral("Tak"));
    EXPECT_EQ(window->markedCount(), 1);
}

TEST_F(AppFixture, RegisterIsFoundWhateverTheLetterCaseOfItsName)
{
    QFile::rename(QDir(dataFolder()).filePath(QStringLiteral("SPISFIRM.DAT")),
                  QDir(dataFolder()).filePath(QStringLiteral("spisfirm.dat")));
    startOnDemo();
    EXPECT_EQ(list().count(), 12);
    EXPECT_TRUE(ui.messages.empty());
    // The data folder itself too, as the ledger program under Wine may name it.
    window->DirectoryEdit_LDG->setText(temp.file(QStringLiteral("ldg_2005")));
    EXPECT_EQ(list().count(), 12);
    EXPECT_EQ(ui.beeps, 0);
}

TEST_F(AppFixture, AnEmptyRegisterGivesAnEmptyListWithoutAMessage)
{
    const QString folder = temp.file(QStringLiteral("zero"));
    QDir().mkpath(folder);
    touch(QDir(folder).filePath(QStringLiteral("SPISFIRM.DAT")));
    start(folder);
    EXPECT_EQ(list().count(), 0);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(window->act_add_all->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), &grid());
    key(Qt::Key_Space, QStringLiteral(" "));  // nothing to toggle, no row added
    EXPECT_EQ(list().count(), 0);
    EXPECT_EQ(window->markedCount(), 0);

    // A folder named like the register is no register file: the missing-file branch.
    const QString odd = temp.file(QStringLiteral("dziwny"));
    QDir().mkpath(QDir(odd).filePath(QStringLiteral("SPISFIRM.DAT")));
    window->DirectoryEdit_LDG->setText(dataFolder());
    ASSERT_EQ(list().count(), 12);
    window->DirectoryEdit_LDG->setText(odd);
    EXPECT_EQ(list().count(), 12);
    EXPECT_EQ(ui.beeps, 1);
}

TEST_F(AppFixture, AnUnreadableRegisterSaysWhyInsteadOfShowingAnEmptyList)
{
    // A register the system lists as a file and then refuses to read (this
    // process's memory read from address 0 fails whoever runs the test).
    const QString folder = temp.file(QStringLiteral("nieczytelny"));
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(QStringLiteral("SPISFIRM.DAT"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), path));
    startOnDemo();
    ASSERT_EQ(list().count(), 12);
    window->DirectoryEdit_LDG->setText(folder);
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(trail().mid(trail().size() - 2, 1), QStringList{QStringLiteral("beep")});
    EXPECT_TRUE(Q(ui.messages.back().text).startsWith(QStringLiteral("Nie można odczytać pliku %1\r").arg(path)))
        << Q(ui.messages.back().text).toStdString();
    EXPECT_GT(Q(ui.messages.back().text).size(), QStringLiteral("Nie można odczytać pliku %1\r").arg(path).size())
        << "the system's reason follows the name";
    EXPECT_EQ(Q(ui.messages.back().caption), appTitle());
    EXPECT_EQ(list().count(), 0);
}

TEST_F(AppFixture, TheCurrentRowIsInSightAfterALongerRegisterIsLoaded)
{
    startOnDemo();
    const QString folder = temp.file(QStringLiteral("dlugi"));
    QDir().mkpath(folder);
    std::vector<demo::DemoCompany> many;
    for (int i = 0; i < 300; ++i)
        many.push_back({"Firma " + std::to_string(i), "F" + std::to_string(i), "", false});
    demo::WriteRegister(U(QDir(folder).filePath(QStringLiteral("SPISFIRM.DAT"))), many, demo::RegisterCodePage::Mazovia);
    window->DirectoryEdit_LDG->setText(folder);
    const auto currentInSight = [&] {
        return grid().viewport()->rect().contains(grid().visualRect(grid().currentIndex()));
    };
    waitUntil([&] { return grid().currentRow() == 299 && currentInSight(); });
    ASSERT_EQ(grid().currentRow(), 299);
    const QRect row = grid().visualRect(grid().currentIndex());
    EXPECT_TRUE(grid().viewport()->rect().contains(row))
        << "row at " << row.y() << ", viewport " << grid().viewport()->height() << " high";

    // And back to the short one: its last row is in sight too.
    window->DirectoryEdit_LDG->setText(dataFolder());
    waitUntil([&] { return grid().currentRow() == 11 && currentInSight(); });
    ASSERT_EQ(grid().currentRow(), 11);
    EXPECT_TRUE(currentInSight());
}

TEST_F(AppFixture, SpaceEnterAndDoubleClickToggleTheCurrentRow)
{
    startOnDemo();
    grid().setCurrentRow(2);
    key(Qt::Key_Space, QStringLiteral(" "));
    EXPECT_EQ(markText(2), QStringLiteral("Tak"));
    EXPECT_EQ(window->markedCount(), 1);
    EXPECT_TRUE(window->act_Archiwizuj->isEnabled());
    key(Qt::Key_Space, QStringLiteral(" "));
    EXPECT_EQ(markText(2), QStringLiteral("Nie"));
    EXPECT_EQ(window->markedCount(), 0);
    EXPECT_FALSE(window->act_Archiwizuj->isEnabled());

    key(Qt::Key_Return, QStringLiteral("\r"), Qt::ShiftModifier);
    EXPECT_EQ(markText(2), QStringLiteral("Tak"));
    key(Qt::Key_Enter, QStringLiteral("\r"), Qt::KeypadModifier);
    EXPECT_EQ(markText(2), QStringLiteral("Nie"));

    // A double click toggles the row it lands on; its first click selects it.
    const QPoint at = grid().visualRect(model().index(5, 1)).center();
    QWidget *vp = grid().viewport();
    const QPointF global = vp->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(vp, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(vp, &release);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(vp, &dbl);
    EXPECT_EQ(grid().currentRow(), 5);
    EXPECT_EQ(markText(5), QStringLiteral("Tak"));
    EXPECT_EQ(window->markedCount(), 1);
}

TEST_F(AppFixture, PlusAndMinusFromEitherKeyboardMarkAllOrNone)
{
    startOnDemo();
    grid().setCurrentRow(4);
    key(Qt::Key_Space, QStringLiteral(" "));
    key(Qt::Key_Plus, QStringLiteral("+"), Qt::KeypadModifier);
    EXPECT_EQ(window->markedCount(), 12);  // the row marked before counts once
    EXPECT_EQ(grid().currentRow(), 4);
    for (int r = 0; r < 12; ++r)
        EXPECT_EQ(markText(r), QStringLiteral("Tak"));
    key(Qt::Key_Minus, QStringLiteral("-"));
    EXPECT_EQ(window->markedCount(), 0);
    EXPECT_FALSE(window->act_Archiwizuj->isEnabled());
    for (int r = 0; r < 12; ++r)
        EXPECT_EQ(markText(r), QStringLiteral("Nie"));
    key(Qt::Key_Plus, QStringLiteral("+"));
    EXPECT_TRUE(window->act_Archiwizuj->isEnabled());
    key(Qt::Key_Minus, QStringLiteral("-"), Qt::KeypadModifier);
    EXPECT_EQ(window->markedCount(), 0);
}

TEST_F(AppFixture, CommandsMarkLikeTheKeysAndALoadClearsEveryMark)
{
    startOnDemo();
    grid().setCurrentRow(0);
    window->act_add_one->trigger();
    EXPECT_EQ(markText(0), QStringLiteral("Tak"));
    window->act_add_all->trigger();
    EXPECT_EQ(window->markedCount(), 12);
    window->act_del_all->trigger();
    EXPECT_EQ(markText(0), QStringLiteral("Nie"));
    window->act_add_all->trigger();
    window->DirectoryEdit_LDGChange();
    EXPECT_EQ(window->markedCount(), 0);
    EXPECT_FALSE(window->act_Archiwizuj->isEnabled());
    EXPECT_EQ(markText(3), QStringLiteral("nie"));
    EXPECT_EQ(grid().currentRow(), 11);
}

TEST_F(AppFixture, SecondActivationReloadsNothing)
{
    startOnDemo();
    key(Qt::Key_Space, QStringLiteral(" "));
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(window.get(), &activate);
    window->FormActivate();
    EXPECT_EQ(markText(11), QStringLiteral("Tak"));
    EXPECT_EQ(window->markedCount(), 1);
}

TEST_F(AppFixture, MarkedRowsArePaintedYellowWithNavyOrBlackText)
{
    startOnDemo();
    window->resize(700, 500);
    grid().setCurrentRow(1);
    key(Qt::Key_Space, QStringLiteral(" "));  // row 1 marked and selected
    grid().setCurrentRow(2);
    key(Qt::Key_Space, QStringLiteral(" "));
    grid().setCurrentRow(1);                  // row 2 marked, not selected
    settleEvents();
    const QImage image = grid().viewport()->grab().toImage();

    const auto cell = [&](int row, int column) {
        return grid().visualRect(model().index(row, column)).adjusted(2, 2, -2, -2);
    };
    const auto has = [&](const QRect &r, QRgb colour) {
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                if ((image.pixel(x, y) & 0xFFFFFF) == colour)
                    return true;
        return false;
    };
    // The darkest pixel of a cell is the core of its text.
    const auto textColour = [&](const QRect &r) {
        QColor darkest = Qt::white;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                if (qGray(image.pixel(x, y)) < qGray(darkest.rgb()))
                    darkest = QColor(image.pixel(x, y));
        return darkest;
    };
    const QRgb yellow = 0xFFFF00;
    EXPECT_TRUE(has(cell(1, TCompanyList::colKatalog), yellow));
    const QColor selectedText = textColour(cell(1, TCompanyList::colKatalog));
    EXPECT_GT(selectedText.blue(), selectedText.red() + 40) << "navy text on the selected row";
    EXPECT_TRUE(has(cell(2, TCompanyList::colInfo), yellow));
    const QColor plainText = textColour(cell(2, TCompanyList::colInfo));
    EXPECT_LT(std::abs(plainText.blue() - plainText.red()), 30) << "black text elsewhere";
    EXPECT_LT(plainText.value(), 90);
    // The mark column keeps the usual (selection) colours; unmarked rows are not yellow.
    EXPECT_FALSE(has(cell(1, TCompanyList::colArchiwizuj), yellow));
    EXPECT_FALSE(has(cell(3, TCompanyList::colFirma), yellow));
}

TEST_F(AppFixture, RowIndicatorPointsAtTheCurrentRow)
{
    startOnDemo();
    grid().setCurrentRow(3);
    settleEvents();
    QHeaderView *indicator = grid().verticalHeader();
    const QImage image = indicator->viewport()->grab().toImage();
    const auto darkPixels = [&](int row) {
        int n = 0;
        const int top = indicator->sectionViewportPosition(row);
        for (int y = top + 2; y < top + indicator->sectionSize(row) - 2; ++y)
            for (int x = 2; x < image.width() - 2; ++x)
                n += qGray(image.pixel(x, y)) < 60;
        return n;
    };
    EXPECT_GT(darkPixels(3), 5);
    EXPECT_EQ(darkPixels(2), 0);
    EXPECT_EQ(darkPixels(11), 0);
}

TEST_F(AppFixture, HintSwitchCaptionsAndTooltips)
{
    startOnDemo();
    EXPECT_EQ(window->mi_help->text(), QStringLiteral("Włącz podpowiedzi"));
    EXPECT_FALSE(window->mi_help->isChecked());
    QLineEdit *edit = window->FN_cab->lineEdit();
    const auto tooltipShown = [&] {
        QToolTip::hideText();
        waitUntil([] { return !QToolTip::isVisible(); });  // a tooltip fades out with a delay
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), edit->mapToGlobal(QPoint(5, 5)));
        QCoreApplication::sendEvent(edit, &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_TRUE(tooltipShown().isEmpty());
    window->mi_help->trigger();
    EXPECT_TRUE(window->mi_help->isChecked());
    EXPECT_EQ(window->mi_help->text(), QStringLiteral("Wyłącz podpowiedzi"));
    EXPECT_EQ(tooltipShown(), QStringLiteral("Tu wpisujesz, wybbierasz nazwę pliku archiwum.\nNazwę pliku można "
                                             "również wygenerowac automatycznie \nz menu Archiwum / Generuj nazwę pliku"));
    window->mi_help->trigger();
    EXPECT_EQ(window->mi_help->text(), QStringLiteral("Włącz podpowiedzi w dymkach"));
    EXPECT_TRUE(tooltipShown().isEmpty());
    QToolTip::hideText();
    EXPECT_EQ(grid().toolTip().split(QLatin1Char('\n')).size(), 6);
    EXPECT_EQ(grid().toolTip().split(QLatin1Char('\n'))[4],
              QStringLiteral("b) wszystkie : klawiszem \"+\", odpowiednim przyciskiem"));
}

TEST_F(AppFixture, AboutBoxAndGeneralErrorReport)
{
    startOnDemo();
    window->mi_about->trigger();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(Q(ui.messages[0].text),
              QStringLiteral("Archiwizator danych księgowych Programu LDG_2005 wersja 1.00 z 03.03.2005\rtworząca "
                             "jeden plik archiwum *.cab z wybranych firm.\rMożliwość przesłania tego pliku w celach "
                             "serwisowych do autora"));
    EXPECT_EQ(Q(ui.messages[0].caption), appTitle());
    EXPECT_EQ(ui.messages[0].icon, MsgIcon::None);

    window->guarded([] { throw qv::Exception("Nie można otworzyć pliku"); });
    EXPECT_EQ(Q(ui.messages.back().text), QStringLiteral("Nie można otworzyć pliku."));
    EXPECT_EQ(Q(ui.messages.back().caption), appTitle());
    EXPECT_EQ(ui.messages.back().icon, MsgIcon::Error);
    EXPECT_EQ(ui.messages.back().buttons, MsgButtons::Ok);
    EXPECT_EQ(ExceptionReportText("Koniec."), "Koniec.");
    EXPECT_EQ(ExceptionReportText("Uwaga !"), "Uwaga !");
    EXPECT_EQ(ExceptionReportText("[0x0007]"), "[0x0007].");
    EXPECT_EQ(ExceptionReportText(""), "");
}

TEST_F(AppFixture, LeavingTheArchiveFieldChecksTheFile)
{
    const QString archive = temp.file(QStringLiteral("A.cab"));
    touch(archive);
    startOnDemo();
    QLineEdit *edit = window->FN_cab->lineEdit();
    const auto leave = [&](Qt::FocusReason reason) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QCoreApplication::sendEvent(edit, &out);
    };
    window->FN_cab->setText(archive + QStringLiteral(" komentarz"));
    leave(Qt::PopupFocusReason);  // a menu opening is not leaving the field
    EXPECT_FALSE(window->act_pokarz->isEnabled());
    leave(Qt::TabFocusReason);
    EXPECT_TRUE(window->act_pokarz->isEnabled());
    EXPECT_TRUE(window->act_Restore->isEnabled());
    EXPECT_TRUE(window->act_FTP->isEnabled());
    window->FN_cab->setText(temp.file(QStringLiteral("brak.cab")));
    leave(Qt::MouseFocusReason);
    EXPECT_FALSE(window->act_pokarz->isEnabled());
    EXPECT_FALSE(window->act_Restore->isEnabled());
    EXPECT_FALSE(window->act_FTP->isEnabled());
}

TEST_F(AppFixture, BrowsingForTheArchiveQuotesNamesWithBlanks)
{
    const QString archive = temp.file(QStringLiteral("moje archiwum.cab"));
    touch(archive);
    startOnDemo(temp.file(QStringLiteral("stary.cab")));
    ui.openFileAnswers.push_back(U(archive));
    window->FN_cab->button()->click();
    ASSERT_EQ(ui.openFileRequests.size(), 1u);
    const OpenFileRequest &r = ui.openFileRequests[0];
    EXPECT_EQ(Q(r.title), QStringLiteral("Wskaż plik archiwum *.cab"));
    EXPECT_EQ(Q(r.filter), QStringLiteral("Pliki archiwum (*.cab)|*.cab|Wszystkie pliki (*.*)|*.*"));
    EXPECT_EQ(Q(r.defaultSuffix), QStringLiteral("cab"));
    EXPECT_EQ(Q(r.initialFolder), QDir::toNativeSeparators(temp.path()));
    EXPECT_EQ(Q(r.initialName), QStringLiteral("stary.cab"));
    EXPECT_EQ(window->FN_cab->text(), QLatin1Char('"') + archive + QLatin1Char('"'));
    EXPECT_EQ(window->ArchiveFileName(), archive);
    // Choosing does not re-check the archive commands; leaving the field does.
    EXPECT_FALSE(window->act_pokarz->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), window->FN_cab->lineEdit());
}

TEST_F(AppFixture, CommandsCaptionsHintsGlyphsMenuAndToolbar)
{
    startOnDemo();
    struct Row {
        QAction *action;
        const char *caption;
        const char *hint;
        int glyph;
    };
    const Row rows[] = {
        {window->act_add_one, "Zaznacz &jedną", "Zaznacza pozycję", 4},
        {window->act_add_all, "&Zaznacz wszystkie", "Zaznacza wszystkie firmy", 3},
        {window->act_del_all, "&Odznacz wszystkie", "Kasuje wszystkie zaznaczenie ", 5},
        {window->act_Archiwizuj, "Twórz archiwum",
         "Rozpoczyna archiwizację\ntj. tworzy plik archiwum z danymi zaznaczonych firm", 8},
        {window->act_Restore, "Odtwórz z archiwum ...",
         "Odtwarza dane z archiwum dla aktualnie wskazywanej firmy\nz bieżąco wskazanego pliku archiwum", 0},
        {window->act_pokarz, "Pokaż zawartość", "Pokazuje zawartość pliku archiwum", 9},
        {window->act_koniec, "Koniec pracy", "Koniec pracy z programem", 17},
        {window->act_FTP, "Wyślij pliki do autora", "Wysyła plik archiwum internetem do FTP autora", 6},
        {window->act_GenerujPlik, "Generuj nazwę pliku", "Tworzy nową nazwę pliku funkcji dnia i godziny", 19},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(r.action->text(), QString::fromUtf8(r.caption));
        EXPECT_EQ(r.action->toolTip(), QString::fromUtf8(r.hint));
        EXPECT_EQ(r.action->property("glyphIndex").toInt(), r.glyph);
        EXPECT_TRUE(r.action->shortcut().isEmpty());
        EXPECT_EQ(r.action->icon().availableSizes().value(0), QSize(16, 16)) << r.glyph;
    }
    QStringList menu;
    for (QAction *a : window->mi_Zaznaczenie->actions())
        menu << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(menu, (QStringList{"Generuj nazwę pliku", "Twórz archiwum", "Pokaż zawartość", "Odtwórz z archiwum ...",
                                 "-", "Wyślij pliki do autora", "-", "&Zaznacz wszystkie", "&Odznacz wszystkie"}));
    EXPECT_EQ(window->mi_Zaznaczenie->title(), QStringLiteral("&Archiwum"));
    EXPECT_EQ(window->mi_Wyjscie->title(), QStringLiteral("Wyjście"));
    QStringList toolbar;
    for (QAction *a : window->ToolBar1->actions()) {
        if (QWidget *w = window->ToolBar1->widgetForAction(a); w && !qobject_cast<QToolButton *>(w))
            toolbar << QString::number(w->width());
        else
            toolbar << a->objectName();
    }
    EXPECT_EQ(toolbar, (QStringList{"act_GenerujPlik", "8", "act_add_all", "act_del_all", "8", "act_Archiwizuj", "8",
                                    "act_FTP", "29", "act_koniec"}));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("qvArchiwizator *.cab"));
    EXPECT_EQ(window->minimumSize(), QSize(480, 444));
}

TEST_F(AppFixture, KoniecPracyClosesTheWindow)
{
    startOnDemo();
    window->act_koniec->trigger();
    EXPECT_FALSE(window->isVisible());
}

TEST(ApplicationTitle, FileNameUpToTheFirstFullStopWithTheRestInLowerCase)
{
    EXPECT_EQ(ApplicationTitleFor("C:/Prog/QVARCHIWIZATOR.EXE"), "Qvarchiwizator");
    EXPECT_EQ(ApplicationTitleFor("/usr/bin/qvarchiwizator"), "qvarchiwizator");
    EXPECT_EQ(ApplicationTitleFor("Arch.v2.exe"), "Arch");
}
