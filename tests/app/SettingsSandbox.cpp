// No test of this program writes a settings file beside the test program.
#include "settings/settingsfile.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class SettingsSandbox : public ::testing::Environment {
public:
    void SetUp() override
    {
        dir_ = std::make_unique<QTemporaryDir>();
        qv::SetDefaultSettingsFileName(dir_->filePath(QStringLiteral("sandbox.INI")).toStdString());
    }
    void TearDown() override { dir_.reset(); }

private:
    std::unique_ptr<QTemporaryDir> dir_;
};

[[maybe_unused]] ::testing::Environment *const sandbox = ::testing::AddGlobalTestEnvironment(new SettingsSandbox);

}  // namespace
