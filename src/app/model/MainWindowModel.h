// What the main window does, without the window: the commands and when each
// is enabled, the marks, the two fields' rules, the first activation, the
// hints switch, closing during a run. The Qt window (Linux) and the native
// window (Windows) show its state and pass the user's actions in; each
// implements MainWindowView for it.
#pragma once

#include "app/model/WindowTexts.h"
#include "archive/Interaction.h"

#include <functional>
#include <memory>
#include <string>

namespace qv {

class ArchiveHost;
class TCompanyList;
class TIdFTP;
class TSTCabReader;
class TSTCabWriter;
class TStoredValues;

// The controls the model reads and moves.
class MainWindowView {
public:
    enum class Control { ArchiveField, DataFolderField, Grid };

    virtual ~MainWindowView() = default;
    // The archive file the field names (as its text yields it), and putting
    // one into it.
    virtual std::string archiveFileName() const = 0;
    virtual void setArchiveFileName(const std::string &name) = 0;
    virtual std::string dataFolderText() const = 0;
    // Puts a folder into the data-folder field; the field reports the change
    // (MainWindowModel::dataFolderChanged) as an edit would.
    virtual void setDataFolderText(const std::string &folder) = 0;
    virtual int currentRow() const = 0;
    virtual void setCurrentRow(int row) = 0;
    virtual void setGridUpdatesEnabled(bool enabled) = 0;
    virtual void focus(Control control) = 0;
    // A command's shown state may have changed: MainWindowModel::enabled.
    virtual void commandStateChanged(Command command) = 0;
    // The hints were switched: MainWindowModel::hintsOn, hintsSwitchCaption.
    virtual void hintsSwitched() = 0;
    // Closes the window once the current event's handling has returned.
    virtual void closeSoon() = 0;
    // Presses STOP of the log window of the operation that runs, if it has
    // one yet.
    virtual void stopRunningOperation() = 0;
    // The stored values of the main section ("port", "host", "un", "pw")
    // as the window's keeper holds them, and the settings file.
    virtual const TStoredValues &storedValues() const = 0;
    virtual std::string settingsFileName() const = 0;
};

class MainWindowModel {
public:
    MainWindowModel(Interaction &ui, MainWindowView &view);
    ~MainWindowModel();
    MainWindowModel(const MainWindowModel &) = delete;
    MainWindowModel &operator=(const MainWindowModel &) = delete;

    Interaction &ui() const { return ui_; }
    TCompanyList &companies() const { return *companies_; }
    ArchiveHost &archiveHost() const;
    TIdFTP &ftp() const { return *ftp_; }
    TSTCabWriter &writer() const { return *writer_; }
    TSTCabReader &reader() const { return *reader_; }

    // ---- state ----
    // What the command's control shows: the rules' state, except that the
    // commands that open a log window stay disabled while an operation runs.
    bool enabled(Command command) const;
    // The rules' state alone.
    bool ruleEnabled(Command command) const { return ruleEnabled_[static_cast<int>(command)]; }
    void setCommandEnabled(Command command, bool enabled);
    // Operations nest (a create runs from its first question, and again once
    // its log window opens): the window is idle when the last one ends.
    void setOperationRunning(bool running);
    bool operationRunning() const { return operationDepth_ > 0; }
    // The user chose to end the program during a run; it closes when the
    // stopped run has ended.
    bool closingAfterOperation() const { return closeAfterOperation_; }
    int markedCount() const { return markedCount_; }
    bool firstActivation() const { return firstActivation_; }
    bool hintsOn() const { return hintsOn_; }
    // The hints switch's menu text.
    std::string hintsSwitchCaption() const;
    // The register's path in the data folder, whatever its letter case.
    std::string registerPath() const;

    // ---- what the user does ----
    // Every activation of the window; the first one loads the list, checks
    // the archive file and sweeps stale temporary files.
    void activate();
    void dataFolderChanged();
    void archiveFieldLeft();  // FN_cabExit
    // Enter, Space, "+", "-" in the grid, and a double click.
    void gridKey(char32_t key);
    void gridDoubleClick() { toggleCurrent(); }
    void execute(Command command);
    void browseArchiveFile();
    void browseDataFolder();
    void switchHints();
    void about();
    // The user asks to close the window: true when it may close now. During
    // a run it asks whether to stop, and closes once the run has ended.
    bool queryClose();

    void toggleCurrent();
    void setAllMarks(bool mark);
    void updateArchiveCommand();

    // The program's general error report for an exception's text.
    void showException(const std::string &message);
    // Runs a handler of the window's; an exception that escapes it goes to
    // the report.
    void guarded(const std::function<void()> &handler);

    // Told when the first activation's work is done.
    std::function<void()> onFirstActivationDone;

private:
    class Host;
    void plainMessage(const std::string &text);
    void upload();

    Interaction &ui_;
    MainWindowView &view_;
    std::unique_ptr<TCompanyList> companies_;
    std::unique_ptr<TIdFTP> ftp_;
    std::unique_ptr<TSTCabWriter> writer_;
    std::unique_ptr<TSTCabReader> reader_;
    std::unique_ptr<Host> host_;
    bool ruleEnabled_[kCommandCount] = {};
    int operationDepth_ = 0;
    bool closeAfterOperation_ = false;
    int markedCount_ = 0;
    bool firstActivation_ = true;
    bool activating_ = false;
    bool hintsOn_ = false;
    bool hintsSwitched_ = false;
    std::string browseStart_;
};

}  // namespace qv
