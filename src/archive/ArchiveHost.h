// What the archive operations need from the main window.
#pragma once

#include "archive/Interaction.h"

#include <string>

namespace qv {

class TCompanyList;

class ArchiveHost {
public:
    enum Command { cmdArchiwizuj, cmdRestore, cmdPokarz, cmdFTP };

    virtual ~ArchiveHost() = default;
    virtual Interaction &ui() = 0;
    // The name the archive-file field yields, and putting one into it.
    virtual std::string archiveFileName() const = 0;
    virtual void setArchiveFileName(const std::string &name) = 0;
    virtual std::string dataFolder() const = 0;
    virtual TCompanyList &companies() = 0;
    virtual int currentRow() const = 0;
    virtual void setCurrentRow(int row) = 0;
    // Grid repaint suspended while a walk over the rows is not to be seen.
    virtual void setGridUpdatesEnabled(bool enabled) = 0;
    virtual void archiveFileCheck() = 0;  // FN_cabExit
    virtual void updateArchiveAction() = 0;
    virtual void setCommandEnabled(Command command, bool enabled) = 0;
    virtual void companyUnmarked() = 0;  // FMarkedCount - 1
    // Calls nest: running until as many false as true have come.
    virtual void setOperationRunning(bool running) = 0;
    // How long create and restore wait for another operation on the same
    // data folder to end before they give up; the window does not wait.
    virtual int dataFolderLockWaitMs() const { return 0; }
    // The log line that says a create or restore was stopped, before its
    // failure lines: the window's STOP, unless the host knows better.
    virtual std::string stoppedLine() const { return "-!- Przerwano na żądanie użytkownika (STOP) -!- "; }
    // Told once when such a wait begins.
    virtual void waitingForDataFolder(const std::string &dataFolder, int waitMs)
    {
        (void)dataFolder;
        (void)waitMs;
    }
};

// Marks a create or restore as running from its first question to its end, so
// that closing the window at any stage asks first.
class OperationScope {
public:
    explicit OperationScope(ArchiveHost &host) : host_(host) { host_.setOperationRunning(true); }
    ~OperationScope() { host_.setOperationRunning(false); }
    OperationScope(const OperationScope &) = delete;
    OperationScope &operator=(const OperationScope &) = delete;

private:
    ArchiveHost &host_;
};

// The log window of a stoppable operation (create, restore): captioned with
// the archive's name, STOP showing, close disabled, shown before the work.
LogWindow *OpenStoppableLog(ArchiveHost &host, const std::string &archive);
// Hides STOP and enables the close button again at the end.
void FinishStoppableLog(ArchiveHost &host, LogWindow &log);

}  // namespace qv
