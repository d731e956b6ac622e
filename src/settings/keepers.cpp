#include "settings/keepers.h"

#include "platform/environment.h"
#include "platform/files.h"
#include "settings/inifile.h"

namespace qv {

TStoredValues MainStoredValues()
{
    TStoredValues values;
    values.Add("port", std::to_string(kDefaultFtpPort));
    values.Add("host", kDefaultFtpHost);
    values.Add("un", kDefaultFtpUser, kFtpKeyString);
    values.Add("pw", kDefaultFtpPassword, kFtpKeyString);
    return values;
}

std::string DefaultDataFolder()
{
#ifdef _WIN32
    return "C:\\LDG_2005";
#else
    return HomeFolder() + "/.wine/drive_c/LDG_2005";
#endif
}

MainSettings ReadMainSettings(const std::string &fileName)
{
    const IniFile ini(fileName);
    MainSettings settings;
    // The restore's order: the stored properties in list order, then the values.
    settings.archiveFieldText = RestoredPropertyText(ini, kMainSection, kArchiveFieldKey, std::string());
    settings.dataFolderText = RestoredPropertyText(ini, kMainSection, kDataFolderKey, DefaultDataFolder());
    settings.values = MainStoredValues();
    RestoreStoredValues(ini, kMainSection, settings.values);
    return settings;
}

bool SeedSettingsFile(const std::string &fileName, const std::string &dataFolder)
{
    if (PathExists(fileName))
        return false;
    IniFile(fileName).WriteString(kMainSection, kDataFolderKey, dataFolder);
    return true;
}

}  // namespace qv
