#include "settings/placement.h"

#include "settings/inifile.h"
#include "settings/storedvalues.h"

#include <vector>

namespace qv {

namespace {

std::vector<std::string> splitWords(const std::string &text)
{
    std::vector<std::string> words;
    std::string word;
    for (char c : text + ' ') {
        if (c == ',' || c == ' ') {
            if (!word.empty())
                words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    return words;
}

int word(const std::vector<std::string> &words, std::size_t index, int defaultValue)
{
    if (index >= words.size())
        return defaultValue;
    return ParseDecimal(words[index]).value_or(defaultValue);
}

std::string rectText(const PlacementRect &r)
{
    return std::to_string(r.left) + ',' + std::to_string(r.top) + ',' + std::to_string(r.right) + ',' +
           std::to_string(r.bottom);
}

void writeText(IniFile &ini, const std::string &section, const std::string &key, const std::string &value)
{
    ini.WriteString(section, key, QuoteForWrite(value));
}

}  // namespace

std::string ScreenKey(const std::string &key, const ScreenInfo &screen)
{
    return key + '(' + std::to_string(screen.width) + 'x' + std::to_string(screen.height) + ')';
}

bool PlacementVersionFits(const IniFile &ini, const std::string &section, int version)
{
    return ini.ReadInteger(section, "FormVersion", 0) >= version;
}

std::optional<StoredPlacement> ReadPlacement(const IniFile &ini, const std::string &section, const ScreenInfo &screen,
                                             const PlacementRect &current, int currentFlags)
{
    const int flags = ini.ReadInteger(section, "Flags", currentFlags);
    const auto readPos = [&](const std::string &key) {
        const std::string sized = ini.ReadString(section, ScreenKey(key, screen), std::string());
        return sized.empty() ? ini.ReadString(section, key, std::string()) : sized;
    };
    // The minimised and maximised positions tell, with the normal one,
    // whether a placement was saved at all.
    const std::string minMax = readPos("MinMaxPos");
    const std::vector<std::string> norm = splitWords(readPos("NormPos"));
    const int ppi = ini.ReadInteger(section, "PixelsPerInch", screen.pixelsPerInch);
    if ((minMax.empty() && norm.empty()) || ppi != screen.pixelsPerInch)
        return std::nullopt;
    StoredPlacement placement;
    placement.flags = flags;
    placement.minMaxPos = minMax;
    placement.normal.left = word(norm, 0, current.left);
    placement.normal.top = word(norm, 1, current.top);
    placement.normal.right = word(norm, 2, current.right);
    placement.normal.bottom = word(norm, 3, current.bottom);
    if (placement.normal.left >= placement.normal.right)
        return std::nullopt;
    return placement;
}

int ReadShowCommand(const IniFile &ini, const std::string &section) { return ini.ReadInteger(section, "ShowCmd", 0); }

void WritePlacement(IniFile &ini, const std::string &section, int version, const StoredPlacement &placement,
                    int showCmd, const ScreenInfo &screen, bool destroying)
{
    ini.WriteInteger(section, "FormVersion", version);
    ini.WriteInteger(section, "Flags", placement.flags);
    ini.WriteInteger(section, "ShowCmd", showCmd);
    ini.WriteInteger(section, "PixelsPerInch", screen.pixelsPerInch);
    writeText(ini, section, ScreenKey("MinMaxPos", screen), placement.minMaxPos);
    writeText(ini, section, "MinMaxPos", placement.minMaxPos);
    const std::string norm = rectText(placement.normal);
    writeText(ini, section, ScreenKey("NormPos", screen), norm);
    writeText(ini, section, "NormPos", norm);
    ini.WriteString(section, "Visible", destroying ? "1" : "0");
}

}  // namespace qv
