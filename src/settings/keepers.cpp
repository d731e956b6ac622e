#include "settings/keepers.h"

#include "settings/inifile.h"

#include <QDir>
#include <QFileInfo>

namespace qv {

TFormStorage *CreateFormStorage_Main(QWidget *mainWindow)
{
    auto *keeper = new TFormStorage(mainWindow);
    keeper->setObjectName(QStringLiteral("FormStorage_Main"));
    keeper->IniSection = QString::fromLatin1(kMainSection);
    keeper->Options = fpPosition;
    keeper->Version = 0;
    TMinMaxInfo limits;
    limits.MinTrackWidth = 480;
    limits.MinTrackHeight = 444;
    keeper->setMinMaxInfo(limits);
    keeper->StoredProps << QStringLiteral("FN_cab.Text") << QStringLiteral("DirectoryEdit_LDG.Text");
    keeper->StoredValues = MainStoredValues();
    return keeper;
}

TStoredValues MainStoredValues()
{
    TStoredValues values;
    values.Add(QStringLiteral("port"), kDefaultFtpPort);
    values.Add(QStringLiteral("host"), QString::fromLatin1(kDefaultFtpHost));
    values.Add(QStringLiteral("un"), QString::fromLatin1(kDefaultFtpUser), QString::fromLatin1(kFtpKeyString));
    values.Add(QStringLiteral("pw"), QString::fromLatin1(kDefaultFtpPassword), QString::fromLatin1(kFtpKeyString));
    return values;
}

QString DefaultDataFolder()
{
#ifdef _WIN32
    return QStringLiteral("C:\\LDG_2005");
#else
    return QDir::homePath() + QStringLiteral("/.wine/drive_c/LDG_2005");
#endif
}

MainSettings ReadMainSettings(const QString &fileName)
{
    const IniFile ini(fileName);
    const QString section = QString::fromLatin1(kMainSection);
    MainSettings settings;
    // The restore's order: the stored properties in list order, then the values.
    settings.archiveFieldText = RestoredPropertyText(ini, section, QString::fromLatin1(kArchiveFieldKey), QString());
    settings.dataFolderText =
        RestoredPropertyText(ini, section, QString::fromLatin1(kDataFolderKey), DefaultDataFolder());
    settings.values = MainStoredValues();
    RestoreStoredValues(ini, section, settings.values);
    return settings;
}

TFormPlacement *CreateFormPlacement1(QWidget *logWindow)
{
    auto *keeper = new TFormPlacement(logWindow);
    keeper->setObjectName(QStringLiteral("FormPlacement1"));
    keeper->IniSection = QString::fromLatin1(kLogSection);
    keeper->Options = PlacementOptions(fpState) | fpPosition;
    keeper->Version = 0;
    TMinMaxInfo limits;
    limits.MinTrackWidth = 529;
    limits.MinTrackHeight = 235;
    keeper->setMinMaxInfo(limits);
    return keeper;
}

bool SeedSettingsFile(const QString &fileName, const QString &dataFolder)
{
    if (QFileInfo::exists(fileName))
        return false;
    IniFile(fileName).WriteString(QString::fromLatin1(kMainSection), QString::fromLatin1(kDataFolderKey), dataFolder);
    return true;
}

}  // namespace qv
