// The main window: the archive-file field, the data-folder field, the company
// grid, the toolbar and menu over the nine shared commands.
#pragma once

#include "app/AppInteraction.h"

#include <QHash>
#include <QMainWindow>
#include <memory>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QToolBar;

namespace qv {

class CompanyListModel;
class TBrowseEdit;
class TFormStorage;
class TIdFTP;
class TSTCabReader;
class TSTCabWriter;
class MainArchiveHost;
class TCompanyList;
class TDBGridLista;
class TDirectoryEdit;
class TFilenameEdit;

class TForm_ArchimumLDG : public QMainWindow {
    Q_OBJECT
public:
    // ui is the program's interaction (AppInteraction) or a test's.
    explicit TForm_ArchimumLDG(Interaction &ui, QWidget *parent = nullptr);
    ~TForm_ArchimumLDG() override;

    // The data folder a first run offers: C:\LDG_2005 on Windows, that folder
    // inside the default Wine prefix elsewhere.
    static QString DefaultDataFolder();

    // Operations the other parts of the program call.
    void FN_cabExit();
    void UpdateArchiveAction();
    void ToggleCurrent();
    void SetAllMarks(bool mark);
    void DirectoryEdit_LDGChange();
    QString ArchiveFileName() const;
    QString DataFolder() const;
    QString RegisterPath() const;
    // The program's general error report for an exception text.
    void ShowException(const QString &message);
    // Runs a command handler; an exception that escapes it goes to the report.
    template <typename F> void guarded(F &&handler);

    Interaction &ui() const { return ui_; }
    TCompanyList *RxMD_Spis() const { return RxMD_Spis_.get(); }
    CompanyListModel *companyModel() const { return companyModel_; }
    qint32 markedCount() const { return FMarkedCount; }
    bool firstActivation() const { return FFirstActivation; }
    bool hintsOn() const { return hintsOn_; }

    // Enabled state as the rules give it; while an operation that writes to a
    // log window runs, the other such commands stay disabled whatever it is.
    void setCommandEnabled(QAction *action, bool enabled);
    bool commandEnabled(QAction *action) const;
    void setOperationRunning(bool running);
    bool operationRunning() const { return FOperationRunning; }

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
    std::unique_ptr<TIdFTP> IdFTP;
    std::unique_ptr<TSTCabWriter> STCabWriter;
    std::unique_ptr<TSTCabReader> STCabReader;

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

    static constexpr int kDesignLeft = 194;
    static constexpr int kDesignTop = 148;
    static constexpr int kDesignWidth = 480;
    static constexpr int kDesignHeight = 444;

signals:
    // The first activation's work is done (list loaded, archive check run).
    void firstActivationDone();
    // The main window has closed: the program ends.
    void closed();

public slots:
    void act_add_oneExecute();
    void act_add_allExecute();
    void act_del_allExecute();
    void act_ArchiwizujExecute();
    void act_GenerujPlikExecute();
    void act_pokarzExecute();
    void act_RestoreExecute();
    void act_FTPExecute();
    void act_koniecExecute();
    void mi_helpClick();
    void mi_aboutClick();
    void FormActivate();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate();
    void buildActions();
    void buildMenu();
    void buildToolBar();
    void buildPanels();
    QAction *makeAction(const char *name, const QString &caption, const QString &hint, int glyph);
    void FN_cabBrowse();
    void DirectoryEdit_LDGBrowse();
    void DBGridListaKeyDown();
    void DBGridListaKeyPress(QChar key);
    void DBGridListaDblClick();
    void plainMessage(const QString &text);
    void applyCommandState(QAction *action);

    Interaction &ui_;
    std::unique_ptr<TCompanyList> RxMD_Spis_;
    CompanyListModel *companyModel_ = nullptr;
    bool FFirstActivation = true;
    qint32 FMarkedCount = 0;
    bool FOperationRunning = false;
    int operationDepth_ = 0;
    // The user chose to end the program while an operation ran: it closes
    // once the stopped operation has ended.
    bool closeAfterOperation_ = false;
    bool hintsOn_ = false;
    bool shownOnce_ = false;
    QString browseStart_;
    QHash<QAction *, bool> logicalEnabled_;
    std::unique_ptr<MainArchiveHost> archiveHost_;
    friend class MainArchiveHost;
};

template <typename F> void TForm_ArchimumLDG::guarded(F &&handler)
{
    try {
        handler();
    } catch (const std::exception &e) {
        ShowException(QString::fromUtf8(e.what()));
    }
}

void InstallFontSubstitutes();

}  // namespace qv
