#include "settings/keepers.h"

#include "settings/inifile.h"

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
    keeper->StoredValues.Add(QStringLiteral("port"), kDefaultFtpPort);
    keeper->StoredValues.Add(QStringLiteral("host"), QString::fromLatin1(kDefaultFtpHost));
    keeper->StoredValues.Add(QStringLiteral("un"), QString::fromLatin1(kDefaultFtpUser), QString::fromLatin1(kFtpKeyString));
    keeper->StoredValues.Add(QStringLiteral("pw"), QString::fromLatin1(kDefaultFtpPassword),
                             QString::fromLatin1(kFtpKeyString));
    return keeper;
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
    IniFile(fileName).WriteString(QString::fromLatin1(kMainSection), QStringLiteral("DirectoryEdit_LDG_Text"),
                                  dataFolder);
    return true;
}

}  // namespace qv
