#include "app/TForm_ArchimumLDG.h"

#include "app/AppKeepers.h"
#include "app/AppResources.h"
#include "app/CompanyListModel.h"
#include "app/EditFields.h"
#include "app/FormStorage.h"
#include "app/TDBGridLista.h"
#include "app/TForm_Zawartosc.h"
#include "settings/keepers.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

namespace qv {

namespace {

QString multiLine(const char *hint)
{
    QString text = Q(hint);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return text;
}

QFrame *panel(QWidget *parent, const char *name, QFrame::Shadow shadow)
{
    auto *frame = new QFrame(parent);
    frame->setObjectName(QLatin1String(name));
    frame->setFrameShape(shadow == QFrame::Plain ? QFrame::NoFrame : QFrame::Panel);
    frame->setFrameShadow(shadow);
    return frame;
}

}  // namespace

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

TForm_ArchimumLDG::TForm_ArchimumLDG(Interaction &ui, QWidget *parent)
    : QMainWindow(parent), model_(std::make_unique<MainWindowModel>(ui, static_cast<MainWindowView &>(*this)))
{
    if (auto *app = dynamic_cast<AppInteraction *>(&ui))
        app->setDialogParent(this);
    InitAppResources();
    InstallFontSubstitutes();
    setObjectName(QStringLiteral("Form_ArchimumLDG"));
    setWindowTitle(Q(text::kMainTitle));
    setWindowIcon(QIcon(QStringLiteral(":/glyphs/app.png")));
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    setFont(font);
    setGeometry(kDesignLeft, kDesignTop, kDesignWidth, kDesignHeight);
    setMinimumSize(kDesignWidth, kDesignHeight);

    FormStorage_Main = CreateFormStorage_Main(this);
    FormStorage_Main->setErrorReport([this](const QString &message) { ShowException(message); });
    TForm_Zawartosc::ErrorReport = [this](const QString &message) { ShowException(message); };
    IdFTP = &model_->ftp();
    STCabWriter = &model_->writer();
    STCabReader = &model_->reader();
    companyModel_ = new CompanyListModel(model_->companies(), this);
    companyModel_->setObjectName(QStringLiteral("RxMD_Spis"));
    model_->onFirstActivationDone = [this] { emit firstActivationDone(); };
    buildActions();
    buildMenu();
    buildToolBar();
    buildPanels();
    setTabOrder(FN_cab, DirectoryEdit_LDG);
    setTabOrder(DirectoryEdit_LDG, DBGridLista);
    qApp->installEventFilter(this);
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
    if (!model_->queryClose()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) {
        FormStorage_Main->save(false);
        emit closed();
    }
}

void TForm_ArchimumLDG::buildActions()
{
    for (int i = 0; i < kCommandCount; ++i) {
        const Command command = static_cast<Command>(i);
        const CommandText &t = TextOf(command);
        auto *a = new QAction(Q(t.caption), this);
        a->setObjectName(QLatin1String(t.objectName));
        a->setToolTip(multiLine(t.hint));
        a->setStatusTip(multiLine(t.hint));
        a->setProperty("glyphIndex", t.glyph);
        a->setIcon(QIcon(QStringLiteral(":/glyphs/%1.png").arg(t.glyph, 2, 10, QLatin1Char('0'))));
        // Ending the program closes the window at once, as its close box does.
        if (command == Command::Exit)
            connect(a, &QAction::triggered, this, [this] { close(); });
        else
            connect(a, &QAction::triggered, this, [this, command] { model_->execute(command); });
        actions_[i] = a;
        commandStateChanged(command);
    }
    act_add_one = action(Command::AddOne);
    act_add_all = action(Command::AddAll);
    act_del_all = action(Command::DelAll);
    act_Archiwizuj = action(Command::Archive);
    act_Restore = action(Command::Restore);
    act_pokarz = action(Command::List);
    act_koniec = action(Command::Exit);
    act_FTP = action(Command::Upload);
    act_GenerujPlik = action(Command::GenerateName);

    mi_help = new QAction(Q(model_->hintsSwitchCaption()), this);
    mi_help->setObjectName(QStringLiteral("mi_help"));
    mi_help->setCheckable(true);
    mi_help->setChecked(false);
    mi_help->setToolTip(Q(text::kHintsSwitchHint));
    mi_help->setStatusTip(Q(text::kHintsSwitchHint));
    connect(mi_help, &QAction::triggered, this, [this] { model_->guarded([this] { model_->switchHints(); }); });
    mi_about = new QAction(Q(text::kAboutCaption), this);
    mi_about->setObjectName(QStringLiteral("mi_about"));
    connect(mi_about, &QAction::triggered, this, [this] { model_->guarded([this] { model_->about(); }); });
}

void TForm_ArchimumLDG::buildMenu()
{
    QMenu *menus[2] = {};
    int n = 0;
    for (const MenuText &m : MainMenus()) {
        QMenu *menu = menuBar()->addMenu(Q(m.caption));
        menu->setObjectName(QLatin1String(m.objectName));
        for (const MenuEntry &e : m.entries) {
            switch (e.kind) {
            case MenuEntry::CommandEntry: menu->addAction(action(e.command)); break;
            case MenuEntry::Separator: menu->addSeparator()->setObjectName(QLatin1String(e.objectName)); break;
            case MenuEntry::HintsSwitch: menu->addAction(mi_help); break;
            case MenuEntry::About: menu->addAction(mi_about); break;
            }
        }
        menus[n++] = menu;
    }
    mi_Zaznaczenie = menus[0];
    mi_Wyjscie = menus[1];
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
    for (const ToolEntry &t : MainToolBar()) {
        if (!t.gap) {
            ToolBar1->addAction(action(t.command));
            continue;
        }
        auto *spacer = new QWidget(ToolBar1);
        spacer->setObjectName(QLatin1String(t.objectName));
        spacer->setFixedWidth(t.gapWidth);
        ToolBar1->addWidget(spacer);
    }
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
    Label1 = new QLabel(Q(text::kArchiveLabel), Panel_top);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(7, 4);
    FN_cab = new TFilenameEdit(Panel_top);
    FN_cab->setObjectName(QStringLiteral("FN_cab"));
    FN_cab->setGeometry(7, 19, 418, 21);
    FN_cab->setHint(Q(text::kArchiveFieldHint));
    Label1->setBuddy(FN_cab);
    column->addWidget(Panel_top);

    Panel_ldg = panel(central, "Panel_ldg", QFrame::Raised);
    auto *ldg = new QVBoxLayout(Panel_ldg);
    ldg->setContentsMargins(2, 2, 2, 2);
    ldg->setSpacing(0);
    PanelTop = panel(Panel_ldg, "PanelTop", QFrame::Plain);
    PanelTop->setFixedHeight(41);
    Label4 = new QLabel(Q(text::kDataFolderLabel), PanelTop);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->move(6, 2);
    DirectoryEdit_LDG = new TDirectoryEdit(PanelTop);
    DirectoryEdit_LDG->setObjectName(QStringLiteral("DirectoryEdit_LDG"));
    DirectoryEdit_LDG->setGeometry(5, 17, 420, 21);
    DirectoryEdit_LDG->setHint(Q(text::kDataFolderHint));
    DirectoryEdit_LDG->setText(DefaultDataFolder());
    Label4->setBuddy(DirectoryEdit_LDG);
    ldg->addWidget(PanelTop);

    PanelMain = panel(Panel_ldg, "PanelMain", QFrame::Plain);
    auto *grid = new QVBoxLayout(PanelMain);
    grid->setContentsMargins(5, 5, 5, 5);
    DBGridLista = new TDBGridLista(PanelMain);
    DBGridLista->setFont(font());
    DBGridLista->setCompanyList(companyModel_);
    DBGridLista->setToolTip(multiLine(text::kGridHint));
    grid->addWidget(DBGridLista);
    ldg->addWidget(PanelMain, 1);
    column->addWidget(Panel_ldg, 1);
    setCentralWidget(central);

    MainWindowModel &m = *model_;
    connect(FN_cab, &TBrowseEdit::exited, this, [&m] { m.guarded([&m] { m.archiveFieldLeft(); }); });
    connect(FN_cab, &TBrowseEdit::browseClicked, this, [&m] { m.guarded([&m] { m.browseArchiveFile(); }); });
    connect(DirectoryEdit_LDG, &TBrowseEdit::browseClicked, this,
            [&m] { m.guarded([&m] { m.browseDataFolder(); }); });
    connect(DirectoryEdit_LDG, &TBrowseEdit::textChanged, this,
            [&m] { m.guarded([&m] { m.dataFolderChanged(); }); });
    connect(DBGridLista, &TDBGridLista::enterPressed, this, [&m] { m.guarded([&m] { m.gridKey(U'\r'); }); });
    connect(DBGridLista, &TDBGridLista::characterTyped, this,
            [&m](QChar c) {
                // Enter comes as enterPressed, whatever text the key carries.
                if (c != QLatin1Char('\r'))
                    m.guarded([&] { m.gridKey(c.unicode()); });
            });
    connect(DBGridLista, &TDBGridLista::doubleClicked_, this, [&m] { m.guarded([&m] { m.gridDoubleClick(); }); });
}

// ---- what the model reads and moves -------------------------------------------

std::string TForm_ArchimumLDG::archiveFileName() const { return U(FN_cab->FileName()); }

void TForm_ArchimumLDG::setArchiveFileName(const std::string &name) { FN_cab->setFileName(Q(name)); }

std::string TForm_ArchimumLDG::dataFolderText() const { return U(DirectoryEdit_LDG->text()); }

void TForm_ArchimumLDG::setDataFolderText(const std::string &folder) { DirectoryEdit_LDG->setText(Q(folder)); }

int TForm_ArchimumLDG::currentRow() const { return DBGridLista->currentRow(); }

void TForm_ArchimumLDG::setCurrentRow(int row) { DBGridLista->setCurrentRow(row); }

void TForm_ArchimumLDG::setGridUpdatesEnabled(bool enabled) { DBGridLista->setUpdatesEnabled(enabled); }

void TForm_ArchimumLDG::focus(Control control)
{
    switch (control) {
    case Control::ArchiveField: FN_cab->setFocus(Qt::OtherFocusReason); break;
    case Control::DataFolderField: DirectoryEdit_LDG->setFocus(Qt::OtherFocusReason); break;
    case Control::Grid: DBGridLista->setFocus(); break;
    }
}

void TForm_ArchimumLDG::commandStateChanged(Command command)
{
    if (QAction *a = action(command))
        a->setEnabled(model_->enabled(command));
}

void TForm_ArchimumLDG::hintsSwitched()
{
    const bool on = model_->hintsOn();
    mi_help->setChecked(on);
    mi_help->setText(Q(model_->hintsSwitchCaption()));
    for (QMenu *menu : {mi_Zaznaczenie, mi_Wyjscie})
        menu->setToolTipsVisible(on);
}

// After the command handler has returned, not inside it.
void TForm_ArchimumLDG::closeSoon() { QTimer::singleShot(0, this, [this] { close(); }); }

void TForm_ArchimumLDG::stopRunningOperation()
{
    if (Form_Zawartosc)
        Form_Zawartosc->PressStop();
}

const TStoredValues &TForm_ArchimumLDG::storedValues() const { return FormStorage_Main->StoredValues; }

std::string TForm_ArchimumLDG::settingsFileName() const { return U(FormStorage_Main->iniFileName()); }

QString TForm_ArchimumLDG::ArchiveFileName() const { return FN_cab->FileName(); }

QString TForm_ArchimumLDG::DataFolder() const { return DirectoryEdit_LDG->text(); }

// ---- start-up, hints, reports -----------------------------------------------------

void TForm_ArchimumLDG::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        // Some platforms never activate a window (offscreen, some window
        // managers); the first activation's work must not wait for that.
        QTimer::singleShot(0, this, [this] { model_->activate(); });
    }
}

bool TForm_ArchimumLDG::event(QEvent *event)
{
    const bool result = QMainWindow::event(event);
    if (event->type() == QEvent::WindowActivate)
        model_->activate();
    return result;
}

bool TForm_ArchimumLDG::eventFilter(QObject *watched, QEvent *event)
{
    if (!model_->hintsOn() && event->type() == QEvent::ToolTip) {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && widget->window() == this)
            return true;  // hints are off for this window
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm_ArchimumLDG::ShowException(const QString &message) { model_->showException(U(message)); }

}  // namespace qv
