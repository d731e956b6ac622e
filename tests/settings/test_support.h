// Shared pieces of the settings tests: one QApplication for the process and
// a temporary folder per test.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QRect>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

// Readable failure messages for texts.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QRect &r, std::ostream *os)
{
    *os << "QRect(" << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height() << ")";
}

inline QApplication &TestApp()
{
    static int argc = 1;
    static char name[] = "test_settings";
    static char *argv[] = {name, nullptr};
    static QApplication *app = new QApplication(argc, argv);
    return *app;
}

inline QByteArray ReadBytes(const QString &fileName)
{
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

inline void WriteBytes(const QString &fileName, const QByteArray &bytes)
{
    QFile f(fileName);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << fileName.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        ASSERT_TRUE(dir_.isValid());
    }
    QString path(const QString &name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
};
