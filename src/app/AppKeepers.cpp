#include "app/AppKeepers.h"

#include "app/AppInteraction.h"
#include "app/FormStorage.h"
#include "settings/keepers.h"

namespace qv {

TFormStorage *CreateFormStorage_Main(QWidget *mainWindow)
{
    auto *keeper = new TFormStorage(mainWindow);
    keeper->setObjectName(QStringLiteral("FormStorage_Main"));
    keeper->IniSection = Q(kMainSection);
    keeper->Options = fpPosition;
    keeper->Version = 0;
    TMinMaxInfo limits;
    limits.MinTrackWidth = kMainMinWidth;
    limits.MinTrackHeight = kMainMinHeight;
    keeper->setMinMaxInfo(limits);
    keeper->StoredProps << QStringLiteral("FN_cab.Text") << QStringLiteral("DirectoryEdit_LDG.Text");
    keeper->StoredValues = MainStoredValues();
    return keeper;
}

TFormPlacement *CreateFormPlacement1(QWidget *logWindow)
{
    auto *keeper = new TFormPlacement(logWindow);
    keeper->setObjectName(QStringLiteral("FormPlacement1"));
    keeper->IniSection = Q(kLogSection);
    keeper->Options = PlacementOptions(fpState) | fpPosition;
    keeper->Version = 0;
    TMinMaxInfo limits;
    limits.MinTrackWidth = kLogMinWidth;
    limits.MinTrackHeight = kLogMinHeight;
    keeper->setMinMaxInfo(limits);
    return keeper;
}

}  // namespace qv
