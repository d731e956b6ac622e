// The settings keeper of a Qt window: a placement keeper that also keeps
// texts of properties of the window's controls and a list of named values
// (settings/storedvalues.h).
#pragma once

#include "app/FormPlacement.h"
#include "settings/storedvalues.h"

#include <QStringList>

#include <vector>

namespace qv {

class TFormStorage : public TFormPlacement {
    Q_OBJECT
public:
    explicit TFormStorage(QWidget *owner);

    // Lines "Component.Property": the component is a descendant of the window
    // with that object name, the property one of its Qt properties (both names
    // compared without regard to letter case). Kept under the key
    // "<object name>_<property name as declared>". Setting a property goes
    // through its WRITE function, so the control's change handling runs.
    // Lines naming no component, and lines without a point or with an empty
    // half, are dropped at the first restore.
    QStringList StoredProps;
    TStoredValues StoredValues;

    // The value of that name; empty when there is none.
    QString StoredValue(const QString &name) const;
    // Sets the value of that name; throws std::invalid_argument when there is none.
    void SetStoredValue(const QString &name, const QString &value);

protected:
    void restoreMore(IniFile &ini) override;
    void saveMore(IniFile &ini) override;

private:
    struct Prop;
    std::vector<Prop> resolveProps(bool dropUnknown);
};

}  // namespace qv
