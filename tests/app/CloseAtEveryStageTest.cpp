// Closing the main window at every stage of "Twórz archiwum" and "Odtwórz z
// archiwum ..." where the run waits on the disk (settling a crashed restore,
// flushing the archive, reading it back, renaming it into place; flushing and
// moving the restored files): the window stays alive, asks its question
// there and then, and the run ends as the answer says: "Tak" stops it where
// it may still stop and closes the program, leaving the data wholly old or
// wholly new; "Nie" lets it finish. Nothing crashes on the way out.
#include "AppFixture.h"
#include "QtFiles.h"
#include "cabinet/CabSTComps.h"
#include "app/FormStorage.h"

#include <QCloseEvent>
#include <QFocusEvent>
#include <QLineEdit>

using namespace qv;
using namespace qv::test;

namespace {

const QString kQuestion = QStringLiteral("Trwa operacja na archiwum.\rPrzerwać ją i zakończyć pracę z programem ?");

class CloseAtStage : public AppFixture {
protected:
    QString archive() const { return temp.file(QStringLiteral("archiwum.cab")); }
    QString company() const { return QDir(dataFolder()).filePath(QStringLiteral("FIRMA1")); }

    void selectFirma1()
    {
        for (int row = 0; row < list().count(); ++row)
            if (Q(list().katalog(row)) == QStringLiteral("FIRMA1"))
                grid().setCurrentRow(row);
    }

    // Runs `command` in a fresh window, closing it at the call-th blocking
    // stage and answering `answer`. False when the run has fewer stages.
    bool closeAt(int call, MsgResult answer, const std::function<void()> &command)
    {
        window.reset();
        ui.messages.clear();
        ui.answers.clear();
        startOnDemo(archive());
        bool closed = false;
        QObject::connect(window.get(), &TForm_ArchimumLDG::closed, [&closed] { closed = true; });
        bool posted = false;
        bool askedInStage = false;
        ui.blockingCalls = 0;
        ui.whileBlocked = [&](int n) {
            if (n != call)
                return true;
            if (!posted) {
                posted = true;
                ui.answers.push_back(answer);
                // As the window system delivers a click on the close box.
                QCoreApplication::postEvent(window.get(), new QCloseEvent);
                return false;
            }
            // The events have been through once since: the close is handled.
            askedInStage = messageTexts().contains(kQuestion);
            return true;
        };
        command();
        ui.whileBlocked = nullptr;
        if (!posted)
            return false;
        EXPECT_TRUE(askedInStage) << "stage " << call << ": no question while it waited on the disk";
        EXPECT_EQ(messageTexts().count(kQuestion), 1);
        if (answer == MsgResult::Yes)
            EXPECT_TRUE(waitUntil([&] { return closed; })) << "stage " << call;
        settleEvents();
        EXPECT_EQ(closed, answer == MsgResult::Yes) << "stage " << call;
        return true;
    }
};

}  // namespace

TEST_F(CloseAtStage, CreateAsksAtEveryStageAndKeepsTheOldArchiveOrMakesAWholeNewOne)
{
    writeAll(archive(), "poprzednie archiwum");
    int stages = 0;
    for (int call = 1;; ++call) {
        bool ran = false;
        for (MsgResult answer : {MsgResult::Yes, MsgResult::No}) {
            ran = closeAt(call, answer, [&] {
                writeAll(archive(), "poprzednie archiwum");
                selectFirma1();
                window->ToggleCurrent();
                ui.answers.push_back(MsgResult::Yes);
                Form_Zawartosc.clear();
                window->act_ArchiwizujExecute();
            });
            if (!ran)
                break;
            ASSERT_NE(Form_Zawartosc, nullptr);
            const QStringList lines = Form_Zawartosc->lines();
            const bool finished = lines.last() == QStringLiteral("--- Koniec operacji \"Archiwizowanie\" ---");
            if (answer == MsgResult::No) {
                EXPECT_TRUE(finished) << "stage " << call << ": " << lines.join('|').toStdString();
            }
            if (finished) {
                TSTCabReader reader;
                const auto files = QDir(company()).entryList(QDir::Files | QDir::Hidden | QDir::System).size();
                EXPECT_EQ(reader.TestCabinet(archive().toStdString()).Files, static_cast<std::uint32_t>(files));
            } else {
                EXPECT_EQ(lines.mid(lines.size() - 3),
                          (QStringList{"-!- Przerwano - program jest zamykany -!- ", "***", "Błąd dodawania danych !"}));
                EXPECT_EQ(readAll(archive()), "poprzednie archiwum");
            }
        }
        if (!ran)
            break;
        ++stages;
    }
    // Flushing the archive, reading it back, renaming it into place.
    EXPECT_GE(stages, 3);
}

TEST_F(CloseAtStage, RestoreAsksAtEveryStageAndLeavesTheCompanyWhollyOldOrWhollyNew)
{
    startOnDemo(archive());
    selectFirma1();
    window->ToggleCurrent();
    ui.answers.push_back(MsgResult::Yes);
    window->act_ArchiwizujExecute();
    ASSERT_TRUE(QFileInfo::exists(archive()));
    const auto archived = snapshot(company());
    int stages = 0;
    for (int call = 1;; ++call) {
        bool ran = false;
        for (MsgResult answer : {MsgResult::Yes, MsgResult::No}) {
            writeAll(company() + QStringLiteral("/KSIEGA.DBF"), "zmienione po archiwizacji");
            const auto changed = snapshot(company());
            ran = closeAt(call, answer, [&] {
                selectFirma1();
                ui.answers.push_back(MsgResult::Yes);
                ui.answers.push_back(MsgResult::Yes);
                Form_Zawartosc.clear();
                window->act_RestoreExecute();
            });
            if (!ran)
                break;
            const auto now = snapshot(company());
            EXPECT_TRUE(now == archived || now == changed) << "stage " << call << ": the company folder is mixed";
            if (answer == MsgResult::No) {
                EXPECT_TRUE(now == archived) << "stage " << call;
            }
            EXPECT_TRUE(QDir(dataFolder())
                            .entryList({QStringLiteral(".qvodtworz-*")}, QDir::AllEntries | QDir::Hidden)
                            .isEmpty());
        }
        if (!ran)
            break;
        ++stages;
    }
    // Making the staging folder, flushing and moving the files, removing it.
    EXPECT_GE(stages, 3);
}

// The members of the window go before its controls: a control that loses the
// focus then (the archive field, as a close with the focus in it does) must
// find no handler left to call. The handler would re-enable the upload for an
// archive that appeared meanwhile, on members already gone.
TEST_F(CloseAtStage, TearingTheWindowDownCallsNoHandlerOfAControlLosingTheFocus)
{
    startOnDemo(archive());
    ASSERT_FALSE(window->act_FTP->isEnabled());
    writeAll(archive(), "archiwum");
    QLineEdit *field = window->FN_cab->lineEdit();
    field->setFocus(Qt::OtherFocusReason);
    bool handlerRan = false;
    QObject::connect(window->act_FTP, &QAction::enabledChanged, [&handlerRan] { handlerRan = true; });
    // The first of the window's own objects to go: by then its members are gone.
    QObject::connect(window->FormStorage_Main, &QObject::destroyed, [field] {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(field, &out);
    });
    window.reset();
    EXPECT_FALSE(handlerRan);
}
