// Shared pieces of the settings tests: a scratch folder per test and the keys
// of a section of a settings file in file order.
#pragma once

#include "platform/files.h"

#include "CoreTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace qv::test {

// The key names of a section, as the file spells them, in file order (a
// plain reading: "[Section]" heads, "key=value" lines).
inline std::vector<std::string> KeysOf(const std::string &file, const std::string &section)
{
    std::vector<std::string> keys;
    const std::string bytes = ReadBytes(file);
    bool in = false;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        line.erase(0, line.find_first_not_of(' '));
        if (!line.empty() && line[0] == '[')
            in = line == '[' + section + ']';
        else if (in && line.find('=') != std::string::npos)
            keys.push_back(line.substr(0, line.find('=')));
    }
    return keys;
}

class SettingsTest : public ::testing::Test {
protected:
    // A name inside the scratch folder; "/" parts become the system's.
    std::string path(std::string rel) const
    {
        std::replace(rel.begin(), rel.end(), '/', PathDelim);
        return dir_ / rel;
    }
    const std::string &folder() const { return dir_.path(); }

    ScratchDir dir_{"qvsettings"};
};

// The settings file's own tests, on every system and on POSIX alone.
class IniFileTest : public SettingsTest {
protected:
    std::string file() const { return path("ARCH.INI"); }
};

}  // namespace qv::test
