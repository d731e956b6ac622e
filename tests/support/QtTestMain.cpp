// Test entry for every test program: a QApplication on the offscreen
// platform, so real windows can be driven without a display.
#include <QApplication>
#include <QFont>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Tests find the sources (scripts, seeds) and the build tree here.
    if (qEnvironmentVariableIsEmpty("QV_SOURCE_DIR"))
        qputenv("QV_SOURCE_DIR", QV_SOURCE_DIR);
    if (qEnvironmentVariableIsEmpty("QV_BINARY_DIR"))
        qputenv("QV_BINARY_DIR", QV_BINARY_DIR);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
