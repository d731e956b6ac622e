#include "settings/formstorage.h"

#include "platform/cp1250.h"

#include "settings/inifile.h"
#include "settings/keepers.h"
#include "test_support.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QWidget>

#include <memory>
#include <stdexcept>

using qv::DecodeStoredValue;
using qv::EncodeStoredValue;
using qv::TFormStorage;

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

namespace {

const QRect kMainDesign(194, 148, 480, 444);

// The main window's parts that the keeper deals with.
struct MainWindow {
    std::unique_ptr<QWidget> widget;
    Field *fnCab = nullptr;
    Field *directory = nullptr;
    TFormStorage *keeper = nullptr;
    int listLoads = 0;
};

class StorageTest : public TempDirTest {
protected:
    QString file() const { return path("qvarchiwizator.INI"); }
    QString sizeSuffix() const
    {
        const QSize s = QGuiApplication::primaryScreen()->geometry().size();
        return QStringLiteral("(%1x%2)").arg(s.width()).arg(s.height());
    }

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

    QString value(const QString &key) const { return qv::IniFile(file()).ReadString("Main", key, "<missing>"); }

    QStringList keysOfMain() const
    {
        QStringList keys;
        bool in = false;
        for (const QByteArray &line : ReadBytes(file()).split('\n')) {
            const QString t = QString::fromUtf8(line).trimmed();
            if (t.startsWith('['))
                in = t == "[Main]";
            else if (in && t.contains('='))
                keys << t.left(t.indexOf('='));
        }
        return keys;
    }

    QStringList errors;
};

TEST_F(StorageTest, FirstRunUsesTheDefaultsAndTheCloseWritesEveryKey)
{
    auto m = mainWindow();
    EXPECT_EQ(m->keeper->StoredValue("port"), QVariant(21));
    m->widget->show();
    EXPECT_EQ(m->widget->geometry(), kMainDesign);
    EXPECT_EQ(m->widget->minimumSize(), QSize(480, 444));
    EXPECT_EQ(m->directory->text(), "C:\\LDG_2005");
    EXPECT_EQ(m->fnCab->text(), "");
    EXPECT_EQ(m->listLoads, 0) << "an unchanged data folder loads nothing";
    EXPECT_EQ(m->directory->assignments, 0) << "an unchanged text is not even assigned";
    EXPECT_EQ(m->keeper->StoredValue("port"), QVariant("21")) << "after a restore every value is text";
    EXPECT_EQ(m->keeper->StoredValue("HOST"), QVariant(qv::kDefaultFtpHost));
    EXPECT_EQ(m->keeper->StoredValue("un"), QVariant("qv"));
    EXPECT_EQ(m->keeper->StoredValue("pw"), QVariant("#(wnto)#"));
    EXPECT_FALSE(m->keeper->StoredValue("nothing").isValid());

    m->keeper->save(false);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_EQ(keysOfMain(), (QStringList{"FormVersion", "Flags", "ShowCmd", "PixelsPerInch", "MinMaxPos" + sizeSuffix(),
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
    EXPECT_EQ(m->keeper->StoredValue("host"), QVariant("ftp.serwis.example"));
    EXPECT_EQ(m->keeper->StoredValue("pw"), QVariant(QString::fromUtf8("hasło")));
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
    const QByteArray bytes = ReadBytes(file());
    EXPECT_TRUE(bytes.contains("FN_cab_Text=\"\"C:\\Moje archiwa\\a b.cab\"\"\r\n")) << bytes.constData();
    EXPECT_TRUE(bytes.contains("DirectoryEdit_LDG_Text=\"'x'\"\r\n")) << bytes.constData();

    auto m = mainWindow();
    m->widget->show();
    EXPECT_EQ(m->fnCab->text(), quoted);
    EXPECT_EQ(m->directory->text(), single);
}

TEST_F(StorageTest, StoredTextsLoseLeadingAndTrailingBlanksOnRestore)
{
    WriteBytes(file(), "[Main]\r\nFN_cab_Text=\" C:\\a.cab \"\r\nDirectoryEdit_LDG_Text=\"\t\"\r\n");
    auto m = mainWindow();
    m->widget->show();
    EXPECT_EQ(m->fnCab->text(), "C:\\a.cab");
    EXPECT_EQ(m->directory->text(), "") << "a stored empty text empties the field";
    EXPECT_EQ(m->listLoads, 1);
}

TEST_F(StorageTest, KeptValuesAreDecodedWithTheirKey)
{
    WriteBytes(file(),
               "[Main]\r\n"
               "PORT=2121\r\n"
               "un=031B5\r\n"    // upper-case digits; the odd last digit is dropped
               "pw=secret\r\n"); // typed in plain text
    auto m = mainWindow();
    m->widget->show();
    EXPECT_EQ(m->keeper->StoredValue("port"), QVariant("2121"));
    EXPECT_EQ(m->keeper->StoredValue("un"), QVariant("qv"));
    // "se", "cr", "et" are no hexadecimal numbers: each gives 32, combined
    // with r (0x72), m (0x6D) and ( (0x28): R, M and a backspace.
    EXPECT_EQ(m->keeper->StoredValue("pw"), QVariant(QString("RM\x08")));
    EXPECT_EQ(m->keeper->StoredValue("host"), QVariant(qv::kDefaultFtpHost)) << "a missing key keeps the value";
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
    for (const QByteArray &bytes : files) {
        QFile::remove(file());
        if (!bytes.isEmpty())
            WriteBytes(file(), bytes);
        auto m = mainWindow();
        m->directory->setText(qv::DefaultDataFolder());
        m->widget->show();
        const qv::MainSettings read = qv::ReadMainSettings(file());
        EXPECT_EQ(read.archiveFieldText, m->fnCab->text()) << bytes.constData();
        EXPECT_EQ(read.dataFolderText, m->directory->text()) << bytes.constData();
        ASSERT_EQ(read.values.Count(), m->keeper->StoredValues.Count());
        for (const qv::TStoredValue &v : m->keeper->StoredValues) {
            ASSERT_NE(read.values.Find(v.Name), nullptr);
            EXPECT_EQ(read.values.Find(v.Name)->Value, v.Value) << v.Name.toStdString() << " " << bytes.constData();
        }
        m.reset();
        if (!bytes.isEmpty()) {
            EXPECT_EQ(ReadBytes(file()), bytes) << "the reader writes nothing";
        }
    }
}

TEST(StoredValueCoding, PairsOddLengthAndForeignDigits)
{
    EXPECT_EQ(EncodeStoredValue("abc", ""), "616263");
    EXPECT_EQ(DecodeStoredValue("616263", ""), "abc");
    EXPECT_EQ(EncodeStoredValue("qv", "rm(k)Lawen"), "031b");
    EXPECT_EQ(DecodeStoredValue("zz", "rm(k)Lawen"), "R");  // 32 ^ 0x72
    EXPECT_EQ(DecodeStoredValue("zz", ""), " ");
    EXPECT_EQ(DecodeStoredValue("4", "k"), "");
    EXPECT_EQ(DecodeStoredValue("41z", ""), "A");
    EXPECT_EQ(DecodeStoredValue(QString::fromUtf8("ą1"), ""), " ");
    // The key repeats: the 11th character meets the key's first byte again.
    EXPECT_EQ(EncodeStoredValue("rm(k)Lawenrm", "rm(k)Lawen"), "000000000000000000000000");
    // Windows-1250 bytes: "ł" is 0xB3, 0xB3 ^ 'A' (0x41) = 0xF2.
    EXPECT_EQ(EncodeStoredValue(QString::fromUtf8("ł"), "A"), "f2");
    EXPECT_EQ(DecodeStoredValue("F2", "A"), QString::fromUtf8("ł"));
}

TEST(StoredValueCoding, DecodingInvertsEncodingForEveryByte)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    const QString text = qv::FromCP1250(all);
    for (const QString &key : {QString(), QString("rm(k)Lawen"), QString::fromUtf8("źŻ\x01")}) {
        const QString hex = EncodeStoredValue(text, key);
        EXPECT_EQ(hex.size(), 512);
        EXPECT_TRUE(QRegularExpression("^[0-9a-f]*$").match(hex).hasMatch());
        EXPECT_EQ(DecodeStoredValue(hex, key), text) << key.toStdString();
    }
}

TEST_F(StorageTest, StoredPropertyLinesAreCheckedAtTheFirstShow)
{
    auto m = mainWindow();
    auto *refusing = new Refusing(m->widget.get());
    refusing->setObjectName("Refusing");
    m->keeper->StoredProps = QStringList{"  fn_CAB . TEXT ", "NoSuchControl.Text", "NoPoint", ".Text", "FN_cab.",
                                         "Refusing.Caption", "FN_cab.NoSuchProperty", "DirectoryEdit_LDG.Text"};
    WriteBytes(file(), "[Main]\r\nFN_cab_Text=C:\\x.cab\r\nRefusing_Caption=other\r\nDirectoryEdit_LDG_Text=E:\\D\r\n");
    m->widget->show();
    EXPECT_EQ(m->keeper->StoredProps, (QStringList{"  fn_CAB . TEXT ", "Refusing.Caption", "FN_cab.NoSuchProperty",
                                                   "DirectoryEdit_LDG.Text"}));
    EXPECT_EQ(m->fnCab->text(), "C:\\x.cab") << "names are found whatever their case";
    EXPECT_EQ(m->directory->text(), "E:\\D") << "a property that refuses does not stop the next one";
    EXPECT_TRUE(errors.isEmpty());

    m->keeper->save(false);
    const QStringList keys = keysOfMain();
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
    EXPECT_TRUE(qv::SeedSettingsFile(file(), "/opt/demo/LDG_2005"));
    EXPECT_FALSE(qv::SeedSettingsFile(file(), "/elsewhere")) << "an existing file is left alone";
    auto m = mainWindow();
    m->widget->show();
    EXPECT_EQ(m->directory->text(), "/opt/demo/LDG_2005");
    EXPECT_EQ(m->listLoads, 1);
    EXPECT_EQ(m->widget->geometry(), kMainDesign);
}

TEST(StoredValues, NamesAreUniqueWhateverTheirCase)
{
    qv::TStoredValues values;
    values.Add("port", 21);
    EXPECT_THROW(values.Add("PORT", 22), std::invalid_argument);
    EXPECT_THROW(values.Add("  ", 1), std::invalid_argument);
    ASSERT_NE(values.Find("Port"), nullptr);
    EXPECT_EQ(values.Find("Port")->Value, QVariant(21));
    EXPECT_EQ(values.Count(), 1);
}

}  // namespace

#include "storage_test.moc"
