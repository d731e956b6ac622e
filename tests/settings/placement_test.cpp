#include "settings/formplacement.h"

#include "platform/errors.h"

#include "settings/inifile.h"
#include "settings/keepers.h"
#include "test_support.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <cerrno>
#include <memory>

using qv::TFormPlacement;

namespace {

const QRect kLogDesign(417, 262, 529, 235);

// A window that notes, in its own show handler, where it was and whether the
// window system showed it already.
class ProbeWindow : public QWidget {
public:
    QRect geometryAtShow;
    bool platformVisibleAtShow = true;

protected:
    void showEvent(QShowEvent *event) override
    {
        geometryAtShow = geometry();
        platformVisibleAtShow = windowHandle() && windowHandle()->isVisible();
        QWidget::showEvent(event);
    }
};

struct Window {
    std::unique_ptr<ProbeWindow> widget;
    TFormPlacement *keeper = nullptr;
};

class PlacementTest : public TempDirTest {
protected:
    QString file() const { return path("qvarchiwizator.INI"); }
    QScreen *screen() const { return QGuiApplication::primaryScreen(); }
    QString sizeSuffix() const
    {
        const QSize s = screen()->geometry().size();
        return QStringLiteral("(%1x%2)").arg(s.width()).arg(s.height());
    }
    int dpi() const { return qRound(screen()->logicalDotsPerInch()); }

    // A log window as the program builds it: design place, then its keeper.
    Window logWindow()
    {
        Window w;
        w.widget = std::make_unique<ProbeWindow>();
        w.widget->setGeometry(kLogDesign);
        w.keeper = qv::CreateFormPlacement1(w.widget.get());
        w.keeper->IniFileName = file();
        w.keeper->setErrorReport([this](const QString &m) { errors << m; });
        return w;
    }

    // The keys of a section in file order.
    QStringList keysOf(const QString &section) const
    {
        QStringList keys;
        bool in = false;
        for (const QByteArray &line : ReadBytes(file()).split('\n')) {
            const QString t = QString::fromUtf8(line).trimmed();
            if (t.startsWith('['))
                in = t == '[' + section + ']';
            else if (in && t.contains('='))
                keys << t.left(t.indexOf('='));
        }
        return keys;
    }

    QString value(const QString &key, const QString &section = "Okno_Statusu") const
    {
        return qv::IniFile(file()).ReadString(section, key, "<missing>");
    }

    void writeLogSection(const QByteArray &body)
    {
        WriteBytes(file(), "[Okno_Statusu]\r\n" + body);
    }

    QStringList errors;
};

TEST_F(PlacementTest, FirstRunOpensAtTheDesignPlaceAndCloseWritesEveryKeyInOrder)
{
    Window w = logWindow();
    EXPECT_EQ(w.widget->minimumSize(), QSize(529, 235));
    w.widget->show();
    EXPECT_TRUE(w.keeper->restored());
    EXPECT_EQ(w.widget->geometry(), kLogDesign);
    EXPECT_FALSE(QFileInfo::exists(file())) << "a restore writes nothing";

    w.keeper->save(false);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_EQ(keysOf("Okno_Statusu"),
              (QStringList{"FormVersion", "Flags", "ShowCmd", "PixelsPerInch", "MinMaxPos" + sizeSuffix(),
                           "MinMaxPos", "NormPos" + sizeSuffix(), "NormPos", "Visible"}));
    const QString norm = QStringLiteral("%1,%2,%3,%4")
                             .arg(kLogDesign.x())
                             .arg(kLogDesign.y())
                             .arg(kLogDesign.x() + kLogDesign.width())
                             .arg(kLogDesign.y() + kLogDesign.height());
    EXPECT_EQ(value("FormVersion"), "0");
    EXPECT_EQ(value("Flags"), "0");
    EXPECT_EQ(value("ShowCmd"), "1");
    EXPECT_EQ(value("PixelsPerInch"), QString::number(dpi()));
    EXPECT_EQ(value("NormPos" + sizeSuffix()), norm);
    EXPECT_EQ(value("NormPos"), norm);
    EXPECT_EQ(value("MinMaxPos" + sizeSuffix()), "-1,-1,-1,-1");
    EXPECT_EQ(value("MinMaxPos"), "-1,-1,-1,-1");
    EXPECT_EQ(value("Visible"), "0");
}

TEST_F(PlacementTest, TheWindowOpensWhereItWasBeforeItAppears)
{
    {
        Window first = logWindow();
        first.widget->show();
        first.widget->setGeometry(100, 120, 600, 300);
        first.keeper->save(false);
    }
    Window second = logWindow();
    second.widget->show();
    EXPECT_EQ(second.widget->geometry(), QRect(100, 120, 600, 300));
    EXPECT_FALSE(second.widget->isMaximized());
    // The keeper ran before the window's own show handler, before the window
    // system showed the window.
    EXPECT_EQ(second.widget->geometryAtShow, QRect(100, 120, 600, 300));
    EXPECT_FALSE(second.widget->platformVisibleAtShow);
}

TEST_F(PlacementTest, TheLogWindowClosedMaximisedOpensMaximised)
{
    {
        Window first = logWindow();
        first.widget->show();
        first.widget->setGeometry(50, 60, 600, 300);
        first.widget->showMaximized();
        first.keeper->save(false);
    }
    EXPECT_EQ(value("ShowCmd"), "3");
    EXPECT_EQ(value("NormPos"), "50,60,650,360") << "the normal rectangle, not the maximised one";

    Window second = logWindow();
    second.widget->show();
    EXPECT_TRUE(second.widget->isMaximized());
    EXPECT_EQ(second.widget->normalGeometry(), QRect(50, 60, 600, 300));
    second.widget->showNormal();
    EXPECT_EQ(second.widget->geometry(), QRect(50, 60, 600, 300));
}

TEST_F(PlacementTest, AWindowMinimisedFromMaximisedComesBackThatWay)
{
    {
        Window first = logWindow();
        first.widget->show();
        first.widget->showMaximized();
        first.widget->showMinimized();
        first.keeper->save(false);
    }
    EXPECT_EQ(value("ShowCmd"), "2");
    EXPECT_EQ(value("Flags"), "2");

    Window second = logWindow();
    second.widget->show();
    EXPECT_TRUE(second.widget->isMinimized());
    EXPECT_TRUE(second.widget->isMaximized());
}

TEST_F(PlacementTest, ShowCommandsMapToStates)
{
    const struct {
        int cmd;
        Qt::WindowStates state;
    } cases[] = {{0, Qt::WindowNoState},  {1, Qt::WindowNoState},  {2, Qt::WindowMinimized},
                 {3, Qt::WindowMaximized}, {4, Qt::WindowNoState},  {5, Qt::WindowNoState},
                 {6, Qt::WindowMinimized}, {7, Qt::WindowMinimized}, {8, Qt::WindowNoState},
                 {9, Qt::WindowNoState},  {10, Qt::WindowNoState}, {-3, Qt::WindowNoState}};
    for (const auto &c : cases) {
        writeLogSection("ShowCmd=" + QByteArray::number(c.cmd) + "\r\n");
        Window w = logWindow();
        w.widget->show();
        EXPECT_EQ(w.widget->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized), c.state) << c.cmd;
    }
}

TEST_F(PlacementTest, ThePositionSavedAtThisScreenSizeWinsOverThePlainOne)
{
    writeLogSection("NormPos" + sizeSuffix().toUtf8() + "=10,20,610,320\r\nNormPos=30,40,630,340\r\n");
    {
        Window w = logWindow();
        w.widget->show();
        EXPECT_EQ(w.widget->geometry(), QRect(10, 20, 600, 300));
    }
    // Never saved at this size: the last position, whatever the size.
    writeLogSection("NormPos(12345x678)=10,20,610,320\r\nNormPos=30,40,630,340\r\n");
    {
        Window w = logWindow();
        w.widget->show();
        EXPECT_EQ(w.widget->geometry(), QRect(30, 40, 600, 300));
    }
    // MinMaxPos alone counts as a saved placement; NormPos then defaults to
    // the current rectangle word by word.
    writeLogSection("MinMaxPos=-1,-1,-1,-1\r\n");
    {
        Window w = logWindow();
        w.widget->show();
        EXPECT_EQ(w.widget->geometry(), kLogDesign);
    }
}

TEST_F(PlacementTest, AnotherPixelsPerInchLeavesTheDesignPlace)
{
    writeLogSection("PixelsPerInch=" + QByteArray::number(dpi() + 24) + "\r\nNormPos=30,40,630,340\r\nShowCmd=3\r\n");
    {
        Window w = logWindow();
        w.widget->show();
        EXPECT_EQ(w.widget->normalGeometry(), kLogDesign);
        EXPECT_TRUE(w.widget->isMaximized()) << "the state does not depend on the pixels per inch";
    }
    writeLogSection("PixelsPerInch=" + QByteArray::number(dpi()) + "\r\nNormPos=30,40,630,340\r\n");
    {
        Window w = logWindow();
        w.widget->show();
        EXPECT_EQ(w.widget->geometry(), QRect(30, 40, 600, 300));
    }
}

TEST_F(PlacementTest, PositionWordsAreReadLeniently)
{
    const QRect d = kLogDesign;
    const struct {
        const char *norm;
        QRect expected;
    } cases[] = {
        {"10, 20 ,, 610 320", QRect(10, 20, 600, 300)},
        {"300,200", QRect(300, 200, d.x() + d.width() - 300, d.y() + d.height() - 200)},
        {"x,20,1200,320", QRect(d.x(), 20, 1200 - d.x(), 300)},
        {"600,20,600,320", d},  // left not less than right: nothing applied
        {"700,20,600,320", d},
    };
    for (const auto &c : cases) {
        writeLogSection(QByteArray("NormPos=") + c.norm + "\r\n");
        Window w = logWindow();
        w.widget->show();
        EXPECT_EQ(w.widget->geometry(), c.expected) << c.norm;
    }
}

TEST_F(PlacementTest, SizeLimitsAndScreensBoundTheRestoredPlace)
{
    writeLogSection("NormPos=0,0,100,100\r\n");
    {
        Window w = logWindow();
        w.widget->show();
        EXPECT_EQ(w.widget->size(), QSize(529, 235));
    }
    // Saved on a monitor that is gone: brought back onto the screen, size kept.
    writeLogSection("NormPos=5000,5000,5600,5300\r\n");
    {
        Window w = logWindow();
        w.widget->show();
        EXPECT_EQ(w.widget->size(), QSize(600, 300));
        EXPECT_TRUE(screen()->availableGeometry().contains(w.widget->geometry()))
            << w.widget->geometry().x() << "," << w.widget->geometry().y();
    }
}

TEST_F(PlacementTest, ANewerVersionThanTheFilesSkipsTheRestore)
{
    writeLogSection("FormVersion=0\r\nNormPos=30,40,630,340\r\n");
    Window w = logWindow();
    w.keeper->Version = 1;
    w.widget->show();
    EXPECT_EQ(w.widget->geometry(), kLogDesign);
    EXPECT_TRUE(w.keeper->restored());
    w.keeper->save(false);
    EXPECT_EQ(value("FormVersion"), "1");

    qv::IniFile(file()).WriteString("Okno_Statusu", "NormPos" + sizeSuffix(), "30,40,630,340");
    Window again = logWindow();
    again.keeper->Version = 1;
    again.widget->show();
    EXPECT_EQ(again.widget->geometry(), QRect(30, 40, 600, 300)) << "the file is of version 1 now";
}

TEST_F(PlacementTest, WhenASaveHappensAndWhatVisibleSays)
{
    {
        Window never = logWindow();
        never.keeper->save(false);
        never.keeper->save(true);
    }
    EXPECT_FALSE(QFileInfo::exists(file())) << "a window never shown saves nothing";

    {
        Window w = logWindow();
        w.widget->show();
        w.keeper->save(true);
    }
    EXPECT_EQ(value("Visible"), "1");

    Window w = logWindow();
    w.widget->show();
    w.keeper->save(false);
    EXPECT_EQ(value("Visible"), "0");
    w.widget->setGeometry(10, 10, 600, 300);
    w.keeper->save(true);
    EXPECT_EQ(value("Visible"), "0") << "saved at the close already";
    EXPECT_EQ(value("NormPos"), "417,262,946,497");

    // A new showing restores, and the next destruction saves again.
    w.widget->hide();
    w.widget->show();
    EXPECT_FALSE(w.keeper->saved());
    w.widget->setGeometry(10, 10, 600, 300);
    w.keeper->save(true);
    EXPECT_EQ(value("Visible"), "1");
    EXPECT_EQ(value("NormPos"), "10,10,610,310");
}

TEST_F(PlacementTest, AFileThatCannotBeWrittenIsReportedAndTheWindowGoesOn)
{
    WriteBytes(path("blocker"), "x");
    Window w = logWindow();
    w.keeper->IniFileName = path("blocker/qvarchiwizator.INI");
    w.widget->show();
    EXPECT_TRUE(errors.isEmpty()) << "reading a missing file is no error";
    w.keeper->save(false);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], "Nie można zapisać pliku ustawień " +
                             QDir::toNativeSeparators(path("blocker/qvarchiwizator.INI")) + "\r" +
                             QString::fromStdString(qv::SysErrorMessage(ENOTDIR)));
    EXPECT_FALSE(w.keeper->saved());
    EXPECT_TRUE(w.widget->isVisible());
    // The destruction that follows does not fail and report a second time.
    w.keeper->save(true);
    EXPECT_EQ(errors.size(), 1);
    // A new showing restores, and its next save is tried (and reported) again.
    w.widget->hide();
    w.widget->show();
    w.keeper->save(false);
    EXPECT_EQ(errors.size(), 2);
}

TEST_F(PlacementTest, TheFocusedControlIsKeptWhenAsked)
{
    auto build = [&](Window &w, QLineEdit *&a, QLineEdit *&b) {
        w = logWindow();
        w.keeper->Options |= qv::fpActiveControl;
        auto *layout = new QVBoxLayout(w.widget.get());
        a = new QLineEdit(w.widget.get());
        a->setObjectName("FirstEdit");
        b = new QLineEdit(w.widget.get());
        b->setObjectName("SecondEdit");
        layout->addWidget(a);
        layout->addWidget(b);
    };
    QLineEdit *a = nullptr;
    QLineEdit *b = nullptr;
    {
        Window w;
        build(w, a, b);
        w.widget->show();
        b->setFocus();
        w.keeper->save(false);
    }
    EXPECT_EQ(value("ActiveControl"), "SecondEdit");
    Window w;
    build(w, a, b);
    a->setFocus();
    w.widget->show();
    EXPECT_EQ(w.widget->focusWidget(), b);
}

}  // namespace
