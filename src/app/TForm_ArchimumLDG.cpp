#include "app/TForm_ArchimumLDG.h"

#include "app/AppKeepers.h"
#include "app/AppResources.h"
#include "app/CompanyListModel.h"
#include "app/EditFields.h"
#include "app/FormStorage.h"
#include "app/TDBGridLista.h"
#include "app/TForm_Zawartosc.h"
#include "platform/errors.h"
#include "platform/pathcase.h"
#include "register/CompanyList.h"
#include "register/CompanyRegister.h"
#include "platform/files.h"
#include "settings/inifile.h"
#include "settings/keepers.h"
#include "archive/ArchiveOperations.h"
#include "archive/DataFolderLock.h"
#include "cabinet/CabSTComps.h"
#include "upload/IdFTP.h"
#include "upload/Upload.h"

#include <QAction>
#include <QCloseEvent>
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

namespace qv {

namespace {

QString multiLine(QString hint)
{
    hint.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return hint;
}

const char kFN_cabHint[] = "Tu wpisujesz, wybbierasz nazwę pliku archiwum.\r\nNazwę pliku można również "
                           "wygenerowac automatycznie \r\nz menu Archiwum / Generuj nazwę pliku";
const char kDirectoryHint[] = "Jest to folder z danymi firm programu ldg\r\n- domyślnie \r\nw 2004 - c:\\ldg_2004\r\n"
                              "w 2005 - c:\\ldg_2005\r\nW katalogu tym MUSI znajdować się plik SPISFIRM.DAT\r\n"
                              "wg którego ustalana jest lista firm.";
const char kGridHint[] = "Do archiwizowania wybierane są firmy z zaznaczonym polem\r\nArchiwizauj = Tak\r\n"
                         "Zaznaczamy \r\na) pojedynczą firmę : kliknięciem myszki, spacją, enterem\r\n"
                         "b) wszystkie : klawiszem \"+\", odpowiednim przyciskiem\r\n"
                         "c) żadną : klawiszem \"-\", odpowiednim przyciskiem";
const char kAboutText[] = "Archiwizator danych księgowych Programu LDG_2005 wersja 1.00 z 03.03.2005\r"
                          "tworząca jeden plik archiwum *.cab z wybranych firm.\r"
                          "Możliwość przesłania tego pliku w celach serwisowych do autora";

QFrame *panel(QWidget *parent, const char *name, QFrame::Shadow shadow)
{
    auto *frame = new QFrame(parent);
    frame->setObjectName(QLatin1String(name));
    frame->setFrameShape(shadow == QFrame::Plain ? QFrame::NoFrame : QFrame::Panel);
    frame->setFrameShadow(shadow);
    return frame;
}

}  // namespace

// The main window as the archive operations see it.
class MainArchiveHost : public ArchiveHost {
public:
    explicit MainArchiveHost(TForm_ArchimumLDG &w) : w_(w) {}
    Interaction &ui() override { return w_.ui_; }
    std::string archiveFileName() const override { return U(w_.ArchiveFileName()); }
    void setArchiveFileName(const std::string &name) override { w_.FN_cab->setFileName(Q(name)); }
    std::string dataFolder() const override { return U(w_.DataFolder()); }
    TCompanyList &companies() override { return *w_.RxMD_Spis_; }
    int currentRow() const override { return w_.DBGridLista->currentRow(); }
    void setCurrentRow(int row) override { w_.DBGridLista->setCurrentRow(row); }
    void setGridUpdatesEnabled(bool enabled) override { w_.DBGridLista->setUpdatesEnabled(enabled); }
    void archiveFileCheck() override { w_.FN_cabExit(); }
    void updateArchiveAction() override { w_.UpdateArchiveAction(); }
    void setCommandEnabled(Command command, bool enabled) override
    {
        QAction *actions[] = {w_.act_Archiwizuj, w_.act_Restore, w_.act_pokarz, w_.act_FTP};
        w_.setCommandEnabled(actions[command], enabled);
    }
    void companyUnmarked() override { --w_.FMarkedCount; }
    void setOperationRunning(bool running) override { w_.setOperationRunning(running); }
    std::string stoppedLine() const override
    {
        return w_.closeAfterOperation_ ? std::string("-!- Przerwano - program jest zamykany -!- ")
                                       : ArchiveHost::stoppedLine();
    }

private:
    TForm_ArchimumLDG &w_;
};

void InstallFontSubstitutes()
{
    // The window's design fonts exist on Windows only; elsewhere the nearest
    // metric-compatible ones stand in.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("Arial"), QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("Courier"),
                               {QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"),
                                QStringLiteral("Nimbus Mono PS"), QStringLiteral("DejaVu Sans Mono")});
}

QString TForm_ArchimumLDG::DefaultDataFolder() { return Q(qv::DefaultDataFolder()); }

TForm_ArchimumLDG::TForm_ArchimumLDG(Interaction &ui, QWidget *parent) : QMainWindow(parent), ui_(ui)
{
    if (auto *app = dynamic_cast<AppInteraction *>(&ui))
        app->setDialogParent(this);
    InitAppResources();
    InstallFontSubstitutes();
    setObjectName(QStringLiteral("Form_ArchimumLDG"));
    setWindowTitle(QStringLiteral("qvArchiwizator *.cab"));
    setWindowIcon(QIcon(QStringLiteral(":/glyphs/app.png")));
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    setFont(font);
    setGeometry(kDesignLeft, kDesignTop, kDesignWidth, kDesignHeight);
    setMinimumSize(kDesignWidth, kDesignHeight);

    FormStorage_Main = CreateFormStorage_Main(this);
    FormStorage_Main->setErrorReport([this](const QString &message) { ShowException(message); });
    TForm_Zawartosc::ErrorReport = [this](const QString &message) { ShowException(message); };
    IdFTP = std::make_unique<TIdFTP>();
    STCabWriter = std::make_unique<TSTCabWriter>();
    STCabReader = std::make_unique<TSTCabReader>();
    archiveHost_ = std::make_unique<MainArchiveHost>(*this);
    RxMD_Spis_ = std::make_unique<TCompanyList>();
    companyModel_ = new CompanyListModel(*RxMD_Spis_, this);
    companyModel_->setObjectName(QStringLiteral("RxMD_Spis"));
    buildActions();
    buildMenu();
    buildToolBar();
    buildPanels();
    setTabOrder(FN_cab, DirectoryEdit_LDG);
    setTabOrder(DirectoryEdit_LDG, DBGridLista);
    qApp->installEventFilter(this);
    FormCreate();
}

TForm_ArchimumLDG::~TForm_ArchimumLDG()
{
    qApp->removeEventFilter(this);
    // The members go before the base class deletes the controls, and a
    // control that loses the focus then (the archive field, whatever had it)
    // must find no handler left to call.
    for (QObject *child : findChildren<QObject *>())
        disconnect(child, nullptr, this, nullptr);
    // The grid's model follows the list, which goes with the members.
    delete companyModel_;
    companyModel_ = nullptr;
    // Saved while the fields still exist; nothing happens if already saved.
    FormStorage_Main->save(true);
    TForm_Zawartosc::ErrorReport = nullptr;
}

void TForm_ArchimumLDG::closeEvent(QCloseEvent *event)
{
    // An operation runs inside a command handler: closing now would hide the
    // window and leave the run, and the program, going on without it.
    if (FOperationRunning) {
        event->ignore();
        if (!closeAfterOperation_ &&
            ui_.message({"Trwa operacja na archiwum.\rPrzerwać ją i zakończyć pracę z programem ?",
                         "Potwierdź zakończenie pracy... ", MsgIcon::Question, MsgButtons::YesNo,
                         MsgResult::No}) == MsgResult::Yes) {
            closeAfterOperation_ = true;
            if (Form_Zawartosc)
                Form_Zawartosc->PressStop();
        }
        return;
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) {
        FormStorage_Main->save(false);
        emit closed();
    }
}

void TForm_ArchimumLDG::FormCreate()
{
    FFirstActivation = true;
    FMarkedCount = 0;
    for (QAction *a : {act_add_one, act_add_all, act_del_all, act_Archiwizuj, act_Restore, act_pokarz, act_FTP,
                       act_GenerujPlik})
        setCommandEnabled(a, false);
    setCommandEnabled(act_koniec, true);
}

QAction *TForm_ArchimumLDG::makeAction(const char *name, const QString &caption, const QString &hint, int glyph)
{
    auto *action = new QAction(caption, this);
    action->setObjectName(QLatin1String(name));
    action->setToolTip(multiLine(hint));
    action->setStatusTip(multiLine(hint));
    action->setProperty("glyphIndex", glyph);
    action->setIcon(QIcon(QStringLiteral(":/glyphs/%1.png").arg(glyph, 2, 10, QLatin1Char('0'))));
    return action;
}

void TForm_ArchimumLDG::buildActions()
{
    act_add_one = makeAction("act_add_one", QStringLiteral("Zaznacz &jedną"), QStringLiteral("Zaznacza pozycję"), 4);
    act_add_all = makeAction("act_add_all", QStringLiteral("&Zaznacz wszystkie"),
                             QStringLiteral("Zaznacza wszystkie firmy"), 3);
    act_del_all = makeAction("act_del_all", QStringLiteral("&Odznacz wszystkie"),
                             QStringLiteral("Kasuje wszystkie zaznaczenie "), 5);
    act_Archiwizuj = makeAction("act_Archiwizuj", QStringLiteral("Twórz archiwum"),
                                QStringLiteral("Rozpoczyna archiwizację\r\ntj. tworzy plik archiwum z danymi "
                                               "zaznaczonych firm"),
                                8);
    act_Restore = makeAction("act_Restore", QStringLiteral("Odtwórz z archiwum ..."),
                             QStringLiteral("Odtwarza dane z archiwum dla aktualnie wskazywanej firmy\r\nz bieżąco "
                                            "wskazanego pliku archiwum"),
                             0);
    act_pokarz = makeAction("act_pokarz", QStringLiteral("Pokaż zawartość"),
                            QStringLiteral("Pokazuje zawartość pliku archiwum"), 9);
    act_koniec = makeAction("act_koniec", QStringLiteral("Koniec pracy"), QStringLiteral("Koniec pracy z programem"),
                            17);
    act_FTP = makeAction("act_FTP", QStringLiteral("Wyślij pliki do autora"),
                         QStringLiteral("Wysyła plik archiwum internetem do FTP autora"), 6);
    act_GenerujPlik = makeAction("act_GenerujPlik", QStringLiteral("Generuj nazwę pliku"),
                                 QStringLiteral("Tworzy nową nazwę pliku funkcji dnia i godziny"), 19);

    const auto bind = [this](QAction *action, void (TForm_ArchimumLDG::*handler)()) {
        connect(action, &QAction::triggered, this, [this, handler] { guarded([&] { (this->*handler)(); }); });
    };
    bind(act_add_one, &TForm_ArchimumLDG::act_add_oneExecute);
    bind(act_add_all, &TForm_ArchimumLDG::act_add_allExecute);
    bind(act_del_all, &TForm_ArchimumLDG::act_del_allExecute);
    bind(act_Archiwizuj, &TForm_ArchimumLDG::act_ArchiwizujExecute);
    bind(act_Restore, &TForm_ArchimumLDG::act_RestoreExecute);
    bind(act_pokarz, &TForm_ArchimumLDG::act_pokarzExecute);
    bind(act_koniec, &TForm_ArchimumLDG::act_koniecExecute);
    bind(act_FTP, &TForm_ArchimumLDG::act_FTPExecute);
    bind(act_GenerujPlik, &TForm_ArchimumLDG::act_GenerujPlikExecute);

    mi_help = new QAction(QStringLiteral("Włącz podpowiedzi"), this);
    mi_help->setObjectName(QStringLiteral("mi_help"));
    mi_help->setCheckable(true);
    mi_help->setChecked(false);
    mi_help->setToolTip(QStringLiteral("Przełącza tryb podpoweidzi"));
    mi_help->setStatusTip(QStringLiteral("Przełącza tryb podpoweidzi"));
    connect(mi_help, &QAction::triggered, this, [this] { guarded([this] { mi_helpClick(); }); });
    mi_about = new QAction(QStringLiteral("O programie ..."), this);
    mi_about->setObjectName(QStringLiteral("mi_about"));
    connect(mi_about, &QAction::triggered, this, [this] { guarded([this] { mi_aboutClick(); }); });
}

void TForm_ArchimumLDG::buildMenu()
{
    mi_Zaznaczenie = menuBar()->addMenu(QStringLiteral("&Archiwum"));
    mi_Zaznaczenie->setObjectName(QStringLiteral("mi_Zaznaczenie"));
    mi_Zaznaczenie->addAction(act_GenerujPlik);
    mi_Zaznaczenie->addAction(act_Archiwizuj);
    mi_Zaznaczenie->addAction(act_pokarz);
    mi_Zaznaczenie->addAction(act_Restore);
    mi_Zaznaczenie->addSeparator()->setObjectName(QStringLiteral("mi_a3"));
    mi_Zaznaczenie->addAction(act_FTP);
    mi_Zaznaczenie->addSeparator()->setObjectName(QStringLiteral("mi_A_1"));
    mi_Zaznaczenie->addAction(act_add_all);
    mi_Zaznaczenie->addAction(act_del_all);

    mi_Wyjscie = menuBar()->addMenu(QStringLiteral("Wyjście"));
    mi_Wyjscie->setObjectName(QStringLiteral("mi_Wyjscie"));
    mi_Wyjscie->addAction(act_koniec);
    mi_Wyjscie->addSeparator()->setObjectName(QStringLiteral("N1"));
    mi_Wyjscie->addAction(mi_help);
    mi_Wyjscie->addAction(mi_about);
}

void TForm_ArchimumLDG::buildToolBar()
{
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar1->setFixedHeight(29);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    const auto gap = [this](const char *name, int width) {
        auto *spacer = new QWidget(ToolBar1);
        spacer->setObjectName(QLatin1String(name));
        spacer->setFixedWidth(width);
        ToolBar1->addWidget(spacer);
    };
    ToolBar1->addAction(act_GenerujPlik);
    gap("ToolButton10", 8);
    ToolBar1->addAction(act_add_all);
    ToolBar1->addAction(act_del_all);
    gap("ToolButton3", 8);
    ToolBar1->addAction(act_Archiwizuj);
    gap("ToolButton5", 8);
    ToolBar1->addAction(act_FTP);
    gap("ToolButton7", 29);
    ToolBar1->addAction(act_koniec);
    addToolBar(Qt::TopToolBarArea, ToolBar1);
}

void TForm_ArchimumLDG::buildPanels()
{
    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(3, 3, 3, 3);
    column->setSpacing(0);

    Panel_top = panel(central, "Panel_top", QFrame::Raised);
    Panel_top->setFixedHeight(47);
    Label1 = new QLabel(QStringLiteral("Plik archiwum *.cab"), Panel_top);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(7, 4);
    FN_cab = new TFilenameEdit(Panel_top);
    FN_cab->setObjectName(QStringLiteral("FN_cab"));
    FN_cab->setGeometry(7, 19, 418, 21);
    FN_cab->setHint(QString::fromUtf8(kFN_cabHint));
    Label1->setBuddy(FN_cab);
    column->addWidget(Panel_top);

    Panel_ldg = panel(central, "Panel_ldg", QFrame::Raised);
    auto *ldg = new QVBoxLayout(Panel_ldg);
    ldg->setContentsMargins(2, 2, 2, 2);
    ldg->setSpacing(0);
    PanelTop = panel(Panel_ldg, "PanelTop", QFrame::Plain);
    PanelTop->setFixedHeight(41);
    Label4 = new QLabel(QStringLiteral("Lokalizacja danych ldg_2005"), PanelTop);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->move(6, 2);
    DirectoryEdit_LDG = new TDirectoryEdit(PanelTop);
    DirectoryEdit_LDG->setObjectName(QStringLiteral("DirectoryEdit_LDG"));
    DirectoryEdit_LDG->setGeometry(5, 17, 420, 21);
    DirectoryEdit_LDG->setHint(QString::fromUtf8(kDirectoryHint));
    DirectoryEdit_LDG->setText(DefaultDataFolder());
    Label4->setBuddy(DirectoryEdit_LDG);
    ldg->addWidget(PanelTop);

    PanelMain = panel(Panel_ldg, "PanelMain", QFrame::Plain);
    auto *grid = new QVBoxLayout(PanelMain);
    grid->setContentsMargins(5, 5, 5, 5);
    DBGridLista = new TDBGridLista(PanelMain);
    DBGridLista->setFont(font());
    DBGridLista->setCompanyList(companyModel_);
    DBGridLista->setToolTip(multiLine(QString::fromUtf8(kGridHint)));
    grid->addWidget(DBGridLista);
    ldg->addWidget(PanelMain, 1);
    column->addWidget(Panel_ldg, 1);
    setCentralWidget(central);

    connect(FN_cab, &TBrowseEdit::exited, this, [this] { guarded([this] { FN_cabExit(); }); });
    connect(FN_cab, &TBrowseEdit::browseClicked, this, [this] { guarded([this] { FN_cabBrowse(); }); });
    connect(DirectoryEdit_LDG, &TBrowseEdit::browseClicked, this,
            [this] { guarded([this] { DirectoryEdit_LDGBrowse(); }); });
    connect(DirectoryEdit_LDG, &TBrowseEdit::textChanged, this,
            [this] { guarded([this] { DirectoryEdit_LDGChange(); }); });
    connect(DBGridLista, &TDBGridLista::enterPressed, this, [this] { guarded([this] { DBGridListaKeyDown(); }); });
    connect(DBGridLista, &TDBGridLista::characterTyped, this,
            [this](QChar c) { guarded([&] { DBGridListaKeyPress(c); }); });
    connect(DBGridLista, &TDBGridLista::doubleClicked_, this,
            [this] { guarded([this] { DBGridListaDblClick(); }); });
}

// ---- enabled states -------------------------------------------------------

void TForm_ArchimumLDG::setCommandEnabled(QAction *action, bool enabled)
{
    logicalEnabled_[action] = enabled;
    applyCommandState(action);
}

bool TForm_ArchimumLDG::commandEnabled(QAction *action) const { return logicalEnabled_.value(action, false); }

void TForm_ArchimumLDG::applyCommandState(QAction *action)
{
    const bool opensLog = action == act_Archiwizuj || action == act_Restore || action == act_pokarz || action == act_FTP;
    action->setEnabled(logicalEnabled_.value(action, false) && !(FOperationRunning && opensLog));
}

// Operations nest (a create is running from its first question, and again
// once its log window opens): the window is idle when the last one ends.
void TForm_ArchimumLDG::setOperationRunning(bool running)
{
    operationDepth_ = std::max(0, operationDepth_ + (running ? 1 : -1));
    FOperationRunning = operationDepth_ > 0;
    // Asked to end before this stage opened its log window: its STOP is
    // pressed at once.
    if (running && closeAfterOperation_ && Form_Zawartosc)
        Form_Zawartosc->PressStop();
    for (QAction *a : {act_Archiwizuj, act_Restore, act_pokarz, act_FTP})
        applyCommandState(a);
    // After the command handler has returned, not inside it.
    if (!FOperationRunning && closeAfterOperation_)
        QTimer::singleShot(0, this, [this] { close(); });
}

void TForm_ArchimumLDG::UpdateArchiveAction() { setCommandEnabled(act_Archiwizuj, FMarkedCount > 0); }

void TForm_ArchimumLDG::FN_cabExit()
{
    const QString name = ArchiveFileName();
    const bool exists = !name.isEmpty() && QFileInfo(name).isFile();
    setCommandEnabled(act_FTP, exists);
    setCommandEnabled(act_Restore, exists);
    setCommandEnabled(act_pokarz, exists);
}

QString TForm_ArchimumLDG::ArchiveFileName() const { return FN_cab->FileName(); }

QString TForm_ArchimumLDG::DataFolder() const { return DirectoryEdit_LDG->text(); }

QString TForm_ArchimumLDG::RegisterPath() const
{
    return Q(ResolveEntryIgnoringCase(U(DataFolder()), kRegisterFileName));
}

// ---- start-up -------------------------------------------------------------

void TForm_ArchimumLDG::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        // Some platforms never activate a window (offscreen, some window
        // managers); the first activation's work must not wait for that.
        QTimer::singleShot(0, this, [this] { FormActivate(); });
    }
}

bool TForm_ArchimumLDG::event(QEvent *event)
{
    const bool result = QMainWindow::event(event);
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return result;
}

void TForm_ArchimumLDG::FormActivate()
{
    static thread_local bool running = false;
    if (!FFirstActivation || running)
        return;
    running = true;
    guarded([this] {
        DirectoryEdit_LDGChange();
        FN_cabExit();
        RemoveStaleTemporaries(*archiveHost_);
    });
    FFirstActivation = false;
    running = false;
    emit firstActivationDone();
}

// ---- list load --------------------------------------------------------------

void TForm_ArchimumLDG::DirectoryEdit_LDGChange()
{
    const QString path = RegisterPath();
    if (!QFileInfo(path).isFile()) {
        if (FFirstActivation) {
            plainMessage(QStringLiteral("Wybierz katalog danych progamu LDG_2005"));
            DirectoryEdit_LDG->setFocus();
            DirectoryEdit_LDGBrowse();
        } else {
            ui_.beep();
            plainMessage(Q(MissingRegisterMessage(U(DataFolder()))));
        }
        return;
    }

    // Only whoever holds the data folder may settle what a crash left there;
    // while another operation holds it, the list still loads and the next
    // operation to get the lock settles it.
    if (const std::optional<DataFolderLock> lock = TryLockDataFolder(U(DataFolder())))
        RecoverInterruptedRestores(*archiveHost_, *lock);
    FMarkedCount = 0;
    RegisterLoad load = LoadCompanyRegister(U(path));
    RxMD_Spis_->setRows(std::move(load.rows));
    DBGridLista->setCurrentRow(RxMD_Spis_->count() - 1);
    DBGridLista->setFocus();
    for (QAction *a : {act_add_one, act_add_all, act_del_all, act_GenerujPlik})
        setCommandEnabled(a, true);
    UpdateArchiveAction();
    // An empty or short list must never pass for the whole register.
    if (load.error != 0) {
        ui_.beep();
        plainMessage(Q(UnreadableRegisterMessage(U(path), load.error)));
    }
}

// ---- marks ------------------------------------------------------------------

void TForm_ArchimumLDG::ToggleCurrent()
{
    const int row = DBGridLista->currentRow();
    if (RxMD_Spis_->count() == 0 || row < 0)
        return;
    const bool mark = !RxMD_Spis_->isMarked(row);
    RxMD_Spis_->setArchiwizuj(row, mark);
    if (RxMD_Spis_->isMarked(row))
        ++FMarkedCount;
    else
        --FMarkedCount;
    UpdateArchiveAction();
}

void TForm_ArchimumLDG::SetAllMarks(bool mark)
{
    FMarkedCount = mark ? RxMD_Spis_->count() : 0;
    const int row = DBGridLista->currentRow();
    RxMD_Spis_->setAllArchiwizuj(mark);
    DBGridLista->setCurrentRow(row);
    UpdateArchiveAction();
}

void TForm_ArchimumLDG::DBGridListaKeyDown() { ToggleCurrent(); }

void TForm_ArchimumLDG::DBGridListaKeyPress(QChar key)
{
    if (key == QLatin1Char(' '))
        ToggleCurrent();
    else if (key == QLatin1Char('+'))
        SetAllMarks(true);
    else if (key == QLatin1Char('-'))
        SetAllMarks(false);
}

void TForm_ArchimumLDG::DBGridListaDblClick() { ToggleCurrent(); }

void TForm_ArchimumLDG::act_add_oneExecute() { ToggleCurrent(); }

void TForm_ArchimumLDG::act_add_allExecute() { SetAllMarks(true); }

void TForm_ArchimumLDG::act_del_allExecute() { SetAllMarks(false); }

// ---- commands whose work lives in the archive and upload operations --------

void TForm_ArchimumLDG::act_ArchiwizujExecute() { CreateArchive(*archiveHost_, *STCabWriter); }

void TForm_ArchimumLDG::act_GenerujPlikExecute() { GenerateArchiveName(*archiveHost_); }

void TForm_ArchimumLDG::act_pokarzExecute() { ListArchive(*archiveHost_, *STCabReader); }

void TForm_ArchimumLDG::act_RestoreExecute() { RestoreCompany(*archiveHost_, *STCabReader); }

void TForm_ArchimumLDG::act_FTPExecute()
{
    UploadHost host;
    host.archiveFileName = [this] { return U(ArchiveFileName()); };
    host.storedValue = [this](const std::string &name) {
        const TStoredValue *value = FormStorage_Main->StoredValues.Find(name);
        return value ? value->Value : std::string();
    };
    // "tryb" and "tls" are read from the file at each upload, not kept by
    // FormStorage_Main: a kept value would be written back at every close and
    // pin today's default in every user's file.
    host.setting = [this](const std::string &name) {
        return IniFile(U(FormStorage_Main->iniFileName())).ReadString(U(FormStorage_Main->IniSection), name, {});
    };
    host.setFtpEnabled = [this](bool enabled) { setCommandEnabled(act_FTP, enabled); };
    host.setOperationRunning = [this](bool running) { setOperationRunning(running); };
    // A close the user confirmed mid-upload has pressed STOP; the log says why.
    host.closing = [this] { return closeAfterOperation_; };
    UploadArchive(ui_, *IdFTP, host);
}

void TForm_ArchimumLDG::act_koniecExecute() { close(); }

// ---- fields -------------------------------------------------------------------

void TForm_ArchimumLDG::FN_cabBrowse()
{
    const QString current = ArchiveFileName();
    OpenFileRequest request;
    request.title = "Wskaż plik archiwum *.cab";
    request.filter = "Pliki archiwum (*.cab)|*.cab|Wszystkie pliki (*.*)|*.*";
    request.defaultSuffix = "cab";
    if (!current.isEmpty()) {
        const QFileInfo info(current);
        request.initialFolder = U(QDir::toNativeSeparators(info.absolutePath()));
        request.initialName = U(info.fileName());
    }
    if (const auto chosen = ui_.openFile(request))
        FN_cab->setFileName(Q(*chosen));
    FN_cab->setFocus(Qt::OtherFocusReason);
}

void TForm_ArchimumLDG::DirectoryEdit_LDGBrowse()
{
    if (browseStart_.isEmpty() || !QFileInfo(browseStart_).isDir())
        browseStart_ = DataFolder();
    const QString start = QFileInfo(browseStart_).isDir() ? browseStart_ : QDir::rootPath();
    if (const auto chosen = ui_.browseFolder("Wskaż katalog danyh LDG", U(start))) {
        browseStart_ = Q(*chosen);
        DirectoryEdit_LDG->setText(browseStart_);
    }
    DirectoryEdit_LDG->setFocus(Qt::OtherFocusReason);
}

// ---- hints and about ------------------------------------------------------------

void TForm_ArchimumLDG::mi_helpClick()
{
    // The action's own tick has already been reversed by the click.
    hintsOn_ = mi_help->isChecked();
    mi_help->setText(hintsOn_ ? QStringLiteral("Wyłącz podpowiedzi") : QStringLiteral("Włącz podpowiedzi w dymkach"));
    for (QMenu *menu : {mi_Zaznaczenie, mi_Wyjscie})
        menu->setToolTipsVisible(hintsOn_);
}

bool TForm_ArchimumLDG::eventFilter(QObject *watched, QEvent *event)
{
    if (!hintsOn_ && event->type() == QEvent::ToolTip) {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && widget->window() == this)
            return true;  // hints are off for this window
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm_ArchimumLDG::mi_aboutClick() { plainMessage(QString::fromUtf8(kAboutText)); }

void TForm_ArchimumLDG::plainMessage(const QString &text)
{
    ui_.message({U(text), ApplicationTitle(), MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
}

void TForm_ArchimumLDG::ShowException(const QString &message)
{
    ui_.message({ExceptionReportText(U(message)), ApplicationTitle(), MsgIcon::Error, MsgButtons::Ok, MsgResult::Ok});
}

}  // namespace qv
