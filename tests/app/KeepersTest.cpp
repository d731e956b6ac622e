// The settings keepers of the Qt windows: a window comes back where, as and
// with what it was closed, restored before it appears; the close writes every
// key; the main window's texts and values; failures reported once.
#include "app/AppInteraction.h"
#include "app/AppKeepers.h"
#include "app/FormPlacement.h"
#include "app/FormStorage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "settings/inifile.h"
#include "settings/keepers.h"

#include "CoreTest.h"
#include "QtPrinters.h"

#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <stdexcept>

using qv::Q;
using qv::TFormPlacement;
using qv::TFormStorage;
using qv::U;

inline void PrintTo(const QRect &r, std::ostream *os)
{
    *os << "QRect(" << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height() << ")";
}

// A one-line field as the main window declares it: its text is the property
// "Text", set through the field's own setter.
class Field : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(QString Text READ text WRITE setFieldText)
public:
    using QLineEdit::QLineEdit;
    void setFieldText(const QString &text)
    {
        ++assignments;
        setText(text);
    }
    int assignments = 0;
};

// A control whose property refuses every text.
class Refusing : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ caption WRITE setCaption)
public:
    using QWidget::QWidget;
    QString caption() const { return QStringLiteral("fixed"); }
    void setCaption(const QString &) { throw std::runtime_error("refused"); }
};

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

namespace {

const QRect kMainDesign(194, 148, 480, 444);
const QRect kLogDesign(417, 262, 529, 235);

class KeeperTest : public ::testing::Test {
protected:
    QString path(const QString &name) const { return Q(dir_ / U(name)); }
    QString file() const { return path("qvarchiwizator.INI"); }
    QScreen *screen() const { return QGuiApplication::primaryScreen(); }
    QString sizeSuffix() const
    {
        const QSize s = screen()->geometry().size();
        return QStringLiteral("(%1x%2)").arg(s.width()).arg(s.height());
    }
    int dpi() const { return qRound(screen()->logicalDotsPerInch()); }
    QByteArray bytes() const { return QByteArray::fromStdString(qv::test::ReadBytes(U(file()))); }
    void writeBytes(const QByteArray &data) const { qv::test::WriteBytes(U(file()), data.toStdString()); }

    QString value(const QString &key, const QString &section) const
    {
        return Q(qv::IniFile(U(file())).ReadString(U(section), U(key), "<missing>"));
    }

    // The keys of a section in file order.
    QStringList keysOf(const QString &section) const
    {
        QStringList keys;
        bool in = false;
        for (const QByteArray &line : bytes().split('\n')) {
            const QString t = QString::fromUtf8(line).trimmed();
            if (t.startsWith('['))
                in = t == '[' + section + ']';
            else if (in && t.contains('='))
                keys << t.left(t.indexOf('='));
        }
        return keys;
    }

    QStringList errors;

private:
    qv::test::ScratchDir dir_{"qvkeepers"};
};

// ---- the main window's keeper: its place, two fields and the FTP values ----

// The main window's parts that the keeper deals with.
struct MainWindow {
    std::unique_ptr<QWidget> widget;
    Field *fnCab = nullptr;
    Field *directory = nullptr;
    TFormStorage *keeper = nullptr;
    int listLoads = 0;
};

class StorageTest : public KeeperTest {
protected:
    std::unique_ptr<MainWindow> mainWindow()
    {
        auto m = std::make_unique<MainWindow>();
        m->widget = std::make_unique<QWidget>();
        m->widget->setGeometry(kMainDesign);
        // The keeper comes before the fields, as it may in the window's
        // constructor: the fields are looked up when the window is shown.
        m->keeper = qv::CreateFormStorage_Main(m->widget.get());
        m->keeper->IniFileName = file();
        m->keeper->setErrorReport([this](const QString &msg) { errors << msg; });
        m->fnCab = new Field(m->widget.get());
        m->fnCab->setObjectName("FN_cab");
        m->directory = new Field(m->widget.get());
        m->directory->setObjectName("DirectoryEdit_LDG");
        m->directory->setText("C:\\LDG_2005");
        MainWindow *raw = m.get();
        QObject::connect(m->directory, &QLineEdit::textChanged, [raw] { ++raw->listLoads; });
        return m;
    }

    QString value(const QString &key) const { return KeeperTest::value(key, "Main"); }
};

TEST_F(StorageTest, FirstRunUsesTheDefaultsAndTheCloseWritesEveryKey)
{
    auto m = mainWindow();
    EXPECT_EQ(m->keeper->StoredValue("port"), "21");
    m->widget->show();
    EXPECT_EQ(m->widget->geometry(), kMainDesign);
    EXPECT_EQ(m->widget->minimumSize(), QSize(480, 444));
    EXPECT_EQ(m->directory->text(), "C:\\LDG_2005");
    EXPECT_EQ(m->fnCab->text(), "");
    EXPECT_EQ(m->listLoads, 0) << "an unchanged data folder loads nothing";
    EXPECT_EQ(m->directory->assignments, 0) << "an unchanged text is not even assigned";
    EXPECT_EQ(m->keeper->StoredValue("port"), "21");
    EXPECT_EQ(m->keeper->StoredValue("HOST"), qv::kDefaultFtpHost);
    EXPECT_EQ(m->keeper->StoredValue("un"), "qv");
    EXPECT_EQ(m->keeper->StoredValue("pw"), "#(wnto)#");
    EXPECT_TRUE(m->keeper->StoredValue("nothing").isEmpty());
    EXPECT_THROW(m->keeper->SetStoredValue("nothing", "x"), std::invalid_argument);

    m->keeper->save(false);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_EQ(keysOf("Main"), (QStringList{"FormVersion", "Flags", "ShowCmd", "PixelsPerInch", "MinMaxPos" + sizeSuffix(),
                                           "MinMaxPos", "NormPos" + sizeSuffix(), "NormPos", "Visible", "FN_cab_Text",
                                           "DirectoryEdit_LDG_Text", "port", "host", "un", "pw"}));
    EXPECT_EQ(value("NormPos" + sizeSuffix()), "194,148,674,592");
    EXPECT_EQ(value("NormPos"), "194,148,674,592");
    EXPECT_EQ(value("FN_cab_Text"), "");
    EXPECT_EQ(value("DirectoryEdit_LDG_Text"), "C:\\LDG_2005");
    EXPECT_EQ(value("port"), "21");
    EXPECT_EQ(value("host"), qv::kDefaultFtpHost);
    // "qv" with "rm(k)Lawen": q^r = 0x71^0x72 = 03, v^m = 0x76^0x6D = 1b.
    EXPECT_EQ(value("un"), "031b");
    // "#(wnto)#": 23^72=51 28^6d=45 77^28=5f 6e^6b=05 74^29=5d 6f^4c=23 29^61=48 23^77=54.
    EXPECT_EQ(value("pw"), "51455f055d234854");
}

TEST_F(StorageTest, FieldsAndValuesComeBackFromTheFile)
{
    {
        auto m = mainWindow();
        m->widget->show();
        m->fnCab->setText("  C:\\LDG_2005\\Arch2005-03-03_1415.cab \t");
        m->directory->setText("D:\\DANE");
        m->keeper->SetStoredValue("host", "ftp.serwis.example");
        m->keeper->SetStoredValue("pw", QString::fromUtf8("hasło"));
        m->keeper->save(false);
    }
    EXPECT_EQ(value("FN_cab_Text"), "C:\\LDG_2005\\Arch2005-03-03_1415.cab") << "blanks are not kept";

    auto m = mainWindow();
    m->widget->show();
    EXPECT_EQ(m->fnCab->text(), "C:\\LDG_2005\\Arch2005-03-03_1415.cab");
    EXPECT_EQ(m->directory->text(), "D:\\DANE");
    EXPECT_EQ(m->listLoads, 1) << "a differing data folder runs the list load once";
    EXPECT_EQ(m->directory->assignments, 1) << "through the field's own setter";
    EXPECT_EQ(m->keeper->StoredValue("host"), "ftp.serwis.example");
    EXPECT_EQ(m->keeper->StoredValue("pw"), QString::fromUtf8("hasło"));
}

TEST_F(StorageTest, TextsThatTheFileWouldUnquoteComeBackExactly)
{
    const QString quoted = "\"C:\\Moje archiwa\\a b.cab\"";
    const QString single = "'x'";
    {
        auto m = mainWindow();
        m->widget->show();
        m->fnCab->setText(quoted);
        m->directory->setText(single);
        m->keeper->save(false);
    }
    const QByteArray written = bytes();
    EXPECT_TRUE(written.contains("FN_cab_Text=\"\"C:\\Moje archiwa\\a b.cab\"\"\r\n")) << written.constData();
    EXPECT_TRUE(written.contains("DirectoryEdit_LDG_Text=\"'x'\"\r\n")) << written.constData();

    auto m = mainWindow();
    m->widget->show();
    EXPECT_EQ(m->fnCab->text(), quoted);
    EXPECT_EQ(m->directory->text(), single);
}

TEST_F(StorageTest, StoredTextsLoseLeadingAndTrailingBlanksOnRestore)
{
    writeBytes("[Main]\r\nFN_cab_Text=\" C:\\a.cab \"\r\nDirectoryEdit_LDG_Text=\"\t\"\r\n");
    auto m = mainWindow();
    m->widget->show();
    EXPECT_EQ(m->fnCab->text(), "C:\\a.cab");
    EXPECT_EQ(m->directory->text(), "") << "a stored empty text empties the field";
    EXPECT_EQ(m->listLoads, 1);
}

TEST_F(StorageTest, KeptValuesAreDecodedWithTheirKey)
{
    writeBytes("[Main]\r\n"
               "PORT=2121\r\n"
               "un=031B5\r\n"     // upper-case digits; the odd last digit is dropped
               "pw=secret\r\n");  // typed in plain text
    auto m = mainWindow();
    m->widget->show();
    EXPECT_EQ(m->keeper->StoredValue("port"), "2121");
    EXPECT_EQ(m->keeper->StoredValue("un"), "qv");
    // "se", "cr", "et" are no hexadecimal numbers: each gives 32, combined
    // with r (0x72), m (0x6D) and ( (0x28): R, M and a backspace.
    EXPECT_EQ(m->keeper->StoredValue("pw"), QString("RM\x08"));
    EXPECT_EQ(m->keeper->StoredValue("host"), qv::kDefaultFtpHost) << "a missing key keeps the value";
}

// The command line reads the main window's settings without a window; for
// any file it must come to exactly what the keeper restores into the window.
TEST_F(StorageTest, ReadingWithoutAWindowGivesWhatTheWindowRestores)
{
    const QByteArray files[] = {
        "",
        "[Main]\r\nFN_cab_Text=\" C:\\a.cab \"\r\nDirectoryEdit_LDG_Text=\"\t\"\r\n",
        "[main]\r\nfn_cab_text=\"\"C:\\Moje archiwa\\a b.cab\"\" reszta\r\nDIRECTORYEDIT_LDG_TEXT='x'\r\n",
        "[Main]\r\nPORT=2121\r\nun=031B5\r\npw=secret\r\nhost=  ftp.serwis.example \r\n",
        "[Main]\nDirectoryEdit_LDG_Text=D:\\DANE\nport=\npw=51455f055d234854zz\n[Inna]\nport=1\n",
    };
    for (const QByteArray &written : files) {
        qv::FileDelete(U(file()));
        if (!written.isEmpty())
            writeBytes(written);
        auto m = mainWindow();
        m->directory->setText(Q(qv::DefaultDataFolder()));
        m->widget->show();
        const qv::MainSettings read = qv::ReadMainSettings(U(file()));
        EXPECT_EQ(Q(read.archiveFieldText), m->fnCab->text()) << written.constData();
        EXPECT_EQ(Q(read.dataFolderText), m->directory->text()) << written.constData();
        ASSERT_EQ(read.values.Count(), m->keeper->StoredValues.Count());
        for (const qv::TStoredValue &v : m->keeper->StoredValues) {
            ASSERT_NE(read.values.Find(v.Name), nullptr);
            EXPECT_EQ(read.values.Find(v.Name)->Value, v.Value) << v.Name << " " << written.constData();
        }
        m.reset();
        if (!written.isEmpty()) {
            EXPECT_EQ(bytes(), written) << "the reader writes nothing";
        }
    }
}

TEST_F(StorageTest, StoredPropertyLinesAreCheckedAtTheFirstShow)
{
    auto m = mainWindow();
    auto *refusing = new Refusing(m->widget.get());
    refusing->setObjectName("Refusing");
    m->keeper->StoredProps = QStringList{"  fn_CAB . TEXT ", "NoSuchControl.Text", "NoPoint", ".Text", "FN_cab.",
                                         "Refusing.Caption", "FN_cab.NoSuchProperty", "DirectoryEdit_LDG.Text"};
    writeBytes("[Main]\r\nFN_cab_Text=C:\\x.cab\r\nRefusing_Caption=other\r\nDirectoryEdit_LDG_Text=E:\\D\r\n");
    m->widget->show();
    EXPECT_EQ(m->keeper->StoredProps, (QStringList{"  fn_CAB . TEXT ", "Refusing.Caption", "FN_cab.NoSuchProperty",
                                                   "DirectoryEdit_LDG.Text"}));
    EXPECT_EQ(m->fnCab->text(), "C:\\x.cab") << "names are found whatever their case";
    EXPECT_EQ(m->directory->text(), "E:\\D") << "a property that refuses does not stop the next one";
    EXPECT_TRUE(errors.isEmpty());

    m->keeper->save(false);
    const QStringList keys = keysOf("Main");
    EXPECT_TRUE(keys.contains("FN_cab_Text")) << "the key spells the names as declared";
    EXPECT_FALSE(keys.contains("fn_CAB_TEXT"));
    EXPECT_FALSE(keys.contains("FN_cab_text")) << "the field's own Text, not QLineEdit's text";
    EXPECT_EQ(value("Refusing_Caption"), "fixed");
    EXPECT_FALSE(keys.contains("FN_cab_NoSuchProperty"));
}

TEST_F(StorageTest, TheMainWindowClosedMaximisedOpensNormalAtItsNormalPlace)
{
    {
        auto m = mainWindow();
        m->widget->show();
        m->widget->setGeometry(60, 70, 500, 450);
        m->widget->showMaximized();
        m->keeper->save(false);
    }
    EXPECT_EQ(value("ShowCmd"), "3");
    auto m = mainWindow();
    m->widget->show();
    EXPECT_FALSE(m->widget->isMaximized()) << "the main window keeps its position only";
    EXPECT_EQ(m->widget->geometry(), QRect(60, 70, 500, 450));
}

TEST_F(StorageTest, ASeededFileOpensTheMainWindowOnItsDataFolder)
{
    EXPECT_TRUE(qv::SeedSettingsFile(U(file()), "/opt/demo/LDG_2005"));
    EXPECT_FALSE(qv::SeedSettingsFile(U(file()), "/elsewhere")) << "an existing file is left alone";
    auto m = mainWindow();
    m->widget->show();
    EXPECT_EQ(m->directory->text(), "/opt/demo/LDG_2005");
    EXPECT_EQ(m->listLoads, 1);
    EXPECT_EQ(m->widget->geometry(), kMainDesign);
}

// ---- the log window's keeper: its place and state ----

struct Window {
    std::unique_ptr<ProbeWindow> widget;
    TFormPlacement *keeper = nullptr;
};

class PlacementTest : public KeeperTest {
protected:
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

    QString value(const QString &key) const { return KeeperTest::value(key, "Okno_Statusu"); }

    void writeLogSection(const QByteArray &body) { writeBytes("[Okno_Statusu]\r\n" + body); }
};

TEST_F(PlacementTest, FirstRunOpensAtTheDesignPlaceAndCloseWritesEveryKeyInOrder)
{
    Window w = logWindow();
    EXPECT_EQ(w.widget->minimumSize(), QSize(529, 235));
    w.widget->show();
    EXPECT_TRUE(w.keeper->restored());
    EXPECT_EQ(w.widget->geometry(), kLogDesign);
    EXPECT_FALSE(qv::PathExists(U(file()))) << "a restore writes nothing";

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
    } cases[] = {{0, Qt::WindowNoState},   {1, Qt::WindowNoState},    {2, Qt::WindowMinimized},
                 {3, Qt::WindowMaximized}, {4, Qt::WindowNoState},    {5, Qt::WindowNoState},
                 {6, Qt::WindowMinimized}, {7, Qt::WindowMinimized},  {8, Qt::WindowNoState},
                 {9, Qt::WindowNoState},   {10, Qt::WindowNoState},   {-3, Qt::WindowNoState}};
    for (const auto &c : cases) {
        writeLogSection("ShowCmd=" + QByteArray::number(c.cmd) + "\r\n");
        Window w = logWindow();
        w.widget->show();
        EXPECT_EQ(w.widget->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized), c.state) << c.cmd;
    }
}

TEST_F(PlacementTest, ThePositionSavedAtThisScreenSizeWinsOverThePlainOne)
{
    const struct {
        QByteArray section;
        QRect expected;
    } cases[] = {
        {"NormPos" + sizeSuffix().toUtf8() + "=10,20,610,320\r\nNormPos=30,40,630,340\r\n", QRect(10, 20, 600, 300)},
        // Never saved at this size: the last position, whatever the size.
        {"NormPos(12345x678)=10,20,610,320\r\nNormPos=30,40,630,340\r\n", QRect(30, 40, 600, 300)},
        // MinMaxPos alone counts as a saved placement; NormPos then defaults
        // to the current rectangle word by word.
        {"MinMaxPos=-1,-1,-1,-1\r\n", kLogDesign},
    };
    for (const auto &c : cases) {
        writeLogSection(c.section);
        Window w = logWindow();
        w.widget->show();
        EXPECT_EQ(w.widget->geometry(), c.expected) << c.section.constData();
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

    qv::IniFile(U(file())).WriteString("Okno_Statusu", U("NormPos" + sizeSuffix()), "30,40,630,340");
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
    EXPECT_FALSE(qv::PathExists(U(file()))) << "a window never shown saves nothing";

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
    qv::test::WriteBytes(U(path("blocker")), "x");
    const QString impossible = Q(U(path("blocker")) + qv::PathDelim + "qvarchiwizator.INI");
    Window w = logWindow();
    w.keeper->IniFileName = impossible;
    w.widget->show();
    EXPECT_TRUE(errors.isEmpty()) << "reading a missing file is no error";
    w.keeper->save(false);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], "Nie można zapisać pliku ustawień " + QDir::toNativeSeparators(impossible) + "\r" +
                             Q(qv::SysErrorMessage(ENOTDIR)));
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

#include "KeepersTest.moc"
