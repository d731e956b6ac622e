#include "app/model/MainWindowModel.h"

#include "CoreTest.h"
#include "DemoData.h"
#include "RecordingLogWindow.h"
#include "ScriptedInteraction.h"

#include "archive/ArchiveHost.h"
#include "cabinet/CabSTComps.h"
#include "platform/pathcase.h"
#include "register/CompanyList.h"
#include "register/CompanyRegister.h"
#include "settings/storedvalues.h"

#include <gtest/gtest.h>

#include <map>

using namespace qv;
using namespace qv::test;

namespace {

// The controls as a window would hold them; the data-folder field reports a
// change as an edit does.
class FakeView : public MainWindowView {
public:
    MainWindowModel *model = nullptr;
    std::string archive;
    std::string folder;
    int row = -1;
    std::vector<std::string> focusTrail;
    std::map<Command, int> stateChanges;
    int hintSwitches = 0;
    int closes = 0;
    int stops = 0;
    TStoredValues values;

    std::string archiveFileName() const override { return archive; }
    void setArchiveFileName(const std::string &name) override { archive = name; }
    std::string dataFolderText() const override { return folder; }
    void setDataFolderText(const std::string &f) override
    {
        folder = f;
        model->dataFolderChanged();
    }
    int currentRow() const override { return row; }
    void setCurrentRow(int r) override { row = r; }
    void setGridUpdatesEnabled(bool) override {}
    void focus(Control c) override
    {
        focusTrail.push_back(c == Control::Grid ? "grid" : c == Control::ArchiveField ? "archive" : "folder");
    }
    void commandStateChanged(Command c) override { ++stateChanges[c]; }
    void hintsSwitched() override { ++hintSwitches; }
    void closeSoon() override { ++closes; }
    void stopRunningOperation() override { ++stops; }
    const TStoredValues &storedValues() const override { return values; }
    std::string settingsFileName() const override { return "<no settings>"; }
};

class MainWindowModelTest : public ::testing::Test {
protected:
    ScratchDir scratch{"qvmodel"};
    std::string data = scratch / "LDG_2005";
    ScriptedInteraction ui;
    FakeView view;
    MainWindowModel model{ui, view};
    int firstActivations = 0;

    MainWindowModelTest()
    {
        view.model = &model;
        model.onFirstActivationDone = [this] { ++firstActivations; };
    }
    void startOnDemo()
    {
        demo::WriteDemoDataFolder(data, demo::RegisterCodePage::Mazovia);
        view.folder = data;
        model.activate();
        ASSERT_EQ(model.companies().count(), 12) << ::testing::PrintToString(ui.messageTexts());
    }
    bool shows(Command c) const { return model.enabled(c); }
};

TEST_F(MainWindowModelTest, FirstStartWithoutARegisterAsksForTheFolderAndLoadsTheChosenOne)
{
    demo::WriteDemoDataFolder(data, demo::RegisterCodePage::CP852);
    view.folder = scratch / "nowhere";
    ui.folderAnswers.push_back(data);
    model.activate();

    ASSERT_GE(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Wybierz katalog danych progamu LDG_2005");
    ASSERT_EQ(ui.folderPrompts, std::vector<std::string>{"Wskaż katalog danyh LDG"});
    // A folder that does not exist is no place to start browsing.
    EXPECT_NE(ui.folderStarts.at(0), scratch / "nowhere");
    EXPECT_EQ(view.folder, data);
    ASSERT_EQ(model.companies().count(), 12);
    EXPECT_EQ(model.companies().firma(0), "Biuro Rachunkowe Małgorzata");
    EXPECT_EQ(view.row, 11) << "the last company is current after a load";
    for (Command c : {Command::AddOne, Command::AddAll, Command::DelAll, Command::GenerateName, Command::Exit})
        EXPECT_TRUE(shows(c)) << TextOf(c).objectName;
    for (Command c : {Command::Archive, Command::Restore, Command::List, Command::Upload})
        EXPECT_FALSE(shows(c)) << TextOf(c).objectName;
    EXPECT_EQ(firstActivations, 1);
    EXPECT_FALSE(model.firstActivation());

    // Later activations do nothing; a folder without a register now beeps
    // and says so instead of asking.
    model.activate();
    EXPECT_EQ(firstActivations, 1);
    const std::size_t asked = ui.folderPrompts.size();
    view.setDataFolderText(scratch / "empty");
    EXPECT_EQ(ui.folderPrompts.size(), asked);
    EXPECT_EQ(ui.beeps, 1);
    EXPECT_EQ(ui.messages.back().text, MissingRegisterMessage(scratch / "empty"));
    EXPECT_EQ(model.companies().count(), 12) << "the list stays as it was";
}

TEST_F(MainWindowModelTest, MarksFollowTheKeysAndTheArchiveCommandFollowsTheMarks)
{
    startOnDemo();
    view.row = 2;
    model.gridKey(U' ');
    EXPECT_TRUE(model.companies().isMarked(2));
    EXPECT_EQ(model.markedCount(), 1);
    EXPECT_TRUE(shows(Command::Archive));
    model.gridKey(U'\r');
    EXPECT_FALSE(model.companies().isMarked(2));
    EXPECT_FALSE(shows(Command::Archive));
    model.gridDoubleClick();
    model.execute(Command::AddOne);
    EXPECT_EQ(model.markedCount(), 0);

    model.gridKey(U'+');
    EXPECT_EQ(model.markedCount(), 12);
    EXPECT_EQ(view.row, 2) << "marking all keeps the current row";
    view.row = 4;
    model.gridKey(U' ');
    EXPECT_EQ(model.markedCount(), 11);
    model.gridKey(U'x');
    EXPECT_EQ(model.markedCount(), 11) << "other keys mark nothing";
    model.gridKey(U'-');
    EXPECT_EQ(model.markedCount(), 0);
    EXPECT_FALSE(shows(Command::Archive));
    model.execute(Command::AddAll);
    EXPECT_EQ(model.markedCount(), 12);
    model.execute(Command::DelAll);
    EXPECT_EQ(model.markedCount(), 0);

    view.row = -1;
    model.gridKey(U' ');
    EXPECT_EQ(model.markedCount(), 0) << "no current row, nothing to toggle";
}

TEST_F(MainWindowModelTest, ArchiveCreatedThroughTheCommandsEnablesTheCommandsThatReadIt)
{
    startOnDemo();
    model.archiveFieldLeft();
    EXPECT_FALSE(shows(Command::List)) << "an empty field names no archive";
    view.archive = scratch / "missing.cab";
    model.archiveFieldLeft();
    EXPECT_FALSE(shows(Command::Restore));

    LogWindows logs(ui);
    view.row = 0;
    model.gridKey(U' ');
    view.archive = scratch / "new.cab";
    model.execute(Command::Archive);
    ASSERT_TRUE(FileExists(view.archive)) << ::testing::PrintToString(ui.messageTexts());
    EXPECT_EQ(TSTCabReader().TestCabinet(view.archive).Files, 5u);
    for (Command c : {Command::Restore, Command::List, Command::Upload})
        EXPECT_TRUE(shows(c)) << TextOf(c).objectName;
    EXPECT_EQ(model.markedCount(), 0) << "an archived company is unmarked";
    EXPECT_FALSE(shows(Command::Archive));
    EXPECT_FALSE(model.operationRunning());
    EXPECT_GE(logs.count(), 1u);

    model.execute(Command::GenerateName);
    EXPECT_NE(view.archive, scratch / "new.cab");
    const std::string name = ExtractFileName(view.archive);
    EXPECT_EQ(name.rfind("Arch", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".cab") << name;
}

// While an operation runs the commands that open a log window are shown
// disabled whatever their rules say; closing asks once, stops the run and
// closes when the last stage has ended.
TEST_F(MainWindowModelTest, ClosingDuringARunAsksStopsAndClosesWhenItEnds)
{
    startOnDemo();
    model.gridKey(U'+');
    EXPECT_TRUE(model.queryClose()) << "idle: closes at once, no question";
    EXPECT_TRUE(ui.messages.empty());

    model.setOperationRunning(true);
    model.setOperationRunning(true);
    EXPECT_TRUE(model.ruleEnabled(Command::Archive));
    EXPECT_FALSE(shows(Command::Archive));
    EXPECT_TRUE(shows(Command::AddAll));

    ui.answers.push_back(MsgResult::No);
    EXPECT_FALSE(model.queryClose());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].caption, "Potwierdź zakończenie pracy... ");
    EXPECT_EQ(ui.messages[0].icon, MsgIcon::Question);
    EXPECT_EQ(ui.messages[0].defaultButton, MsgResult::No);
    EXPECT_EQ(view.stops, 0);

    ui.answers.push_back(MsgResult::Yes);
    EXPECT_FALSE(model.queryClose());
    EXPECT_EQ(view.stops, 1);
    EXPECT_TRUE(model.closingAfterOperation());
    EXPECT_FALSE(model.queryClose()) << "asked once";
    EXPECT_EQ(ui.messages.size(), 2u);

    model.setOperationRunning(false);
    EXPECT_EQ(view.closes, 0) << "the outer stage still runs";
    model.setOperationRunning(true);
    EXPECT_EQ(view.stops, 2) << "a stage that opens after the answer is stopped at once";
    model.setOperationRunning(false);
    model.setOperationRunning(false);
    EXPECT_EQ(view.closes, 1);
    EXPECT_TRUE(shows(Command::Archive));
    EXPECT_EQ(model.archiveHost().stoppedLine(), "-!- Przerwano - program jest zamykany -!- ");
}

TEST_F(MainWindowModelTest, HintsSwitchAboutAndErrorReports)
{
    EXPECT_FALSE(model.hintsOn());
    EXPECT_EQ(model.hintsSwitchCaption(), "Włącz podpowiedzi");
    model.switchHints();
    EXPECT_TRUE(model.hintsOn());
    EXPECT_EQ(model.hintsSwitchCaption(), "Wyłącz podpowiedzi");
    model.switchHints();
    EXPECT_EQ(model.hintsSwitchCaption(), "Włącz podpowiedzi w dymkach");
    EXPECT_EQ(view.hintSwitches, 2);

    model.about();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text.rfind("Archiwizator danych księgowych Programu LDG_2005", 0), 0u);
    EXPECT_EQ(ui.messages[0].caption, ApplicationTitle());

    model.guarded([] { throw std::runtime_error("Brak dostępu"); });
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[1].icon, MsgIcon::Error);
    EXPECT_EQ(ui.messages[1].text, ExceptionReportText("Brak dostępu"));
}

TEST_F(MainWindowModelTest, BrowsingTheArchiveStartsBesideTheNamedFileAndKeepsACancelledField)
{
    view.archive = scratch / "Arch2005-03-03_1415.cab";
    ui.openFileAnswers.push_back(std::nullopt);
    model.browseArchiveFile();
    ASSERT_EQ(ui.openFileRequests.size(), 1u);
    EXPECT_EQ(ui.openFileRequests[0].initialName, "Arch2005-03-03_1415.cab");
    EXPECT_EQ(ui.openFileRequests[0].initialFolder, ToNativeSeparators(scratch.path()));
    EXPECT_EQ(ui.openFileRequests[0].defaultSuffix, "cab");
    EXPECT_EQ(view.archive, scratch / "Arch2005-03-03_1415.cab");
    ui.openFileAnswers.push_back(scratch / "inny.cab");
    model.browseArchiveFile();
    EXPECT_EQ(view.archive, scratch / "inny.cab");
    EXPECT_EQ(view.focusTrail.back(), "archive");
}

}  // namespace
