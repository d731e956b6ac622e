// Test entry for the core's test programs: GoogleTest alone, no Qt, so the
// same programs build and run on Windows. Tests find the sources (scripts,
// seeds, reference cabinets) and the build tree through QV_SOURCE_DIR and
// QV_BINARY_DIR, as under the Qt entry.
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

void setDefault(const char *name, const char *value)
{
    if (const char *set = std::getenv(name); set && *set)
        return;
#ifdef _WIN32
    _putenv_s(name, value);
#else
    setenv(name, value, 0);
#endif
}

}  // namespace

int main(int argc, char **argv)
{
    setDefault("QV_SOURCE_DIR", QV_SOURCE_DIR);
    setDefault("QV_BINARY_DIR", QV_BINARY_DIR);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
