// The main window: the archive-file field, the data-folder field, the company
// grid, the toolbar and menu over the nine shared commands. It shows a
// MainWindowModel and passes the user's actions to it.
#pragma once

#include "app/AppInteraction.h"
#include "app/model/MainWindowModel.h"

#include <QMainWindow>
#include <memory>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QToolBar;

namespace qv {

class CompanyListModel;
class TFormStorage;
class TIdFTP;
class TSTCabReader;
class TSTCabWriter;
class TCompanyList;
class TDBGridLista;
class TDirectoryEdit;
class TFilenameEdit;

class TForm_ArchimumLDG : public QMainWindow, private MainWindowView {
    Q_OBJECT
public:
    // ui is the program's interaction (AppInteraction) or a test's.
    explicit TForm_ArchimumLDG(Interaction &ui, QWidget *parent = nullptr);
    ~TForm_ArchimumLDG() override;

    // The data folder a first run offers: C:\LDG_2005 on Windows, that folder
    // inside the default Wine prefix elsewhere.
    static QString DefaultDataFolder();

    MainWindowModel &model() const { return *model_; }
    // Operations the other parts of the program call.
    void FN_cabExit() { model_->archiveFieldLeft(); }
    void ToggleCurrent() { model_->toggleCurrent(); }
    void SetAllMarks(bool mark) { model_->setAllMarks(mark); }
    void DirectoryEdit_LDGChange() { model_->dataFolderChanged(); }
    QString ArchiveFileName() const;
    QString DataFolder() const;
    // The program's general error report for an exception text.
    void ShowException(const QString &message);
    // Runs a command handler; an exception that escapes it goes to the report.
    void guarded(const std::function<void()> &handler) { model_->guarded(handler); }

    Interaction &ui() const { return model_->ui(); }
    TCompanyList *RxMD_Spis() const { return &model_->companies(); }
    CompanyListModel *companyModel() const { return companyModel_; }
    qint32 markedCount() const { return model_->markedCount(); }
    bool firstActivation() const { return model_->firstActivation(); }
    bool hintsOn() const { return model_->hintsOn(); }
    bool operationRunning() const { return model_->operationRunning(); }

    // Controls and commands, named as the rest of the program refers to them.
    QToolBar *ToolBar1 = nullptr;
    QFrame *Panel_top = nullptr;
    QLabel *Label1 = nullptr;
    TFilenameEdit *FN_cab = nullptr;
    QFrame *Panel_ldg = nullptr;
    QFrame *PanelTop = nullptr;
    QLabel *Label4 = nullptr;
    TDirectoryEdit *DirectoryEdit_LDG = nullptr;
    QFrame *PanelMain = nullptr;
    TDBGridLista *DBGridLista = nullptr;
    TFormStorage *FormStorage_Main = nullptr;
    TIdFTP *IdFTP = nullptr;
    TSTCabWriter *STCabWriter = nullptr;
    TSTCabReader *STCabReader = nullptr;

    QAction *act_add_one = nullptr;
    QAction *act_add_all = nullptr;
    QAction *act_del_all = nullptr;
    QAction *act_Archiwizuj = nullptr;
    QAction *act_Restore = nullptr;
    QAction *act_pokarz = nullptr;
    QAction *act_koniec = nullptr;
    QAction *act_FTP = nullptr;
    QAction *act_GenerujPlik = nullptr;
    QAction *mi_help = nullptr;
    QAction *mi_about = nullptr;
    QMenu *mi_Zaznaczenie = nullptr;
    QMenu *mi_Wyjscie = nullptr;

    static constexpr int kDesignLeft = kMainDesignLeft;
    static constexpr int kDesignTop = kMainDesignTop;
    static constexpr int kDesignWidth = 480;
    static constexpr int kDesignHeight = 444;

signals:
    // The first activation's work is done (list loaded, archive check run).
    void firstActivationDone();
    // The main window has closed: the program ends.
    void closed();

public slots:
    void act_ArchiwizujExecute() { model_->execute(Command::Archive); }
    void act_GenerujPlikExecute() { model_->execute(Command::GenerateName); }
    void act_pokarzExecute() { model_->execute(Command::List); }
    void act_RestoreExecute() { model_->execute(Command::Restore); }
    void act_FTPExecute() { model_->execute(Command::Upload); }
    void act_add_allExecute() { model_->execute(Command::AddAll); }
    void FormActivate() { model_->activate(); }

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // MainWindowView
    std::string archiveFileName() const override;
    void setArchiveFileName(const std::string &name) override;
    std::string dataFolderText() const override;
    void setDataFolderText(const std::string &folder) override;
    int currentRow() const override;
    void setCurrentRow(int row) override;
    void setGridUpdatesEnabled(bool enabled) override;
    void focus(Control control) override;
    void commandStateChanged(Command command) override;
    void hintsSwitched() override;
    void closeSoon() override;
    void stopRunningOperation() override;
    const TStoredValues &storedValues() const override;
    std::string settingsFileName() const override;

    void buildActions();
    void buildMenu();
    void buildToolBar();
    void buildPanels();
    QAction *action(Command command) const { return actions_[static_cast<int>(command)]; }

    std::unique_ptr<MainWindowModel> model_;
    CompanyListModel *companyModel_ = nullptr;
    QAction *actions_[kCommandCount] = {};
    bool shownOnce_ = false;
};

void InstallFontSubstitutes();

}  // namespace qv
