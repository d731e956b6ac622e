// The main window as the archive operations see it, for a run without one:
// the archive name and the data folder come from the arguments or the
// settings file, the company list from the register, and the window's
// command states have nothing to follow.
#pragma once

#include "archive/ArchiveHost.h"

namespace qv::cli {

class Console;

class ConsoleHost : public ArchiveHost {
public:
    ConsoleHost(Interaction &ui, Console &console, TCompanyList &companies, const std::string &dataFolder,
                const std::string &archive, int lockWaitMs);

    Interaction &ui() override { return ui_; }
    std::string archiveFileName() const override { return archive_; }
    void setArchiveFileName(const std::string &name) override { archive_ = name; }
    std::string dataFolder() const override { return dataFolder_; }
    TCompanyList &companies() override { return companies_; }
    int currentRow() const override { return currentRow_; }
    void setCurrentRow(int row) override { currentRow_ = row; }
    void setGridUpdatesEnabled(bool) override {}
    void archiveFileCheck() override {}
    void updateArchiveAction() override {}
    void setCommandEnabled(Command, bool) override {}
    void companyUnmarked() override {}
    void setOperationRunning(bool) override {}
    int dataFolderLockWaitMs() const override { return lockWaitMs_; }
    void waitingForDataFolder(const std::string &dataFolder, int waitMs) override;
    std::string stoppedLine() const override;

private:
    Interaction &ui_;
    Console &console_;
    TCompanyList &companies_;
    std::string dataFolder_;
    std::string archive_;
    int lockWaitMs_;
    int currentRow_ = -1;
};

}  // namespace qv::cli
