// The settings keeper: a placement keeper that also keeps texts of properties
// of the window's controls and a list of named values.
#pragma once

#include "settings/formplacement.h"

#include <QStringList>
#include <QVariant>

#include <vector>

namespace qv {

// A named value. Name is unique within its collection (letter case aside).
// A non-empty KeyString makes the value be written encoded with it.
struct TStoredValue {
    QString Name;
    QVariant Value;
    QString KeyString;
};

class TStoredValues {
public:
    // Adds a value; throws std::invalid_argument for an empty name or one
    // already present.
    TStoredValue &Add(const QString &name, const QVariant &value, const QString &keyString = QString());

    // The value of that name (letter case aside), or null.
    TStoredValue *Find(const QString &name);
    const TStoredValue *Find(const QString &name) const;

    int Count() const { return static_cast<int>(items_.size()); }
    std::vector<TStoredValue>::iterator begin() { return items_.begin(); }
    std::vector<TStoredValue>::iterator end() { return items_.end(); }
    std::vector<TStoredValue>::const_iterator begin() const { return items_.begin(); }
    std::vector<TStoredValue>::const_iterator end() const { return items_.end(); }

private:
    std::vector<TStoredValue> items_;
};

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

    // The value of that name; an invalid QVariant when there is none. After a
    // restore every value is text.
    QVariant StoredValue(const QString &name) const;
    // Sets the value of that name; throws std::invalid_argument when there is none.
    void SetStoredValue(const QString &name, const QVariant &value);

protected:
    void restoreMore(IniFile &ini) override;
    void saveMore(IniFile &ini) override;

private:
    struct Prop;
    std::vector<Prop> resolveProps(bool dropUnknown);
};

// Every character's Windows-1250 byte, combined by exclusive or with the key's
// byte at the same position (the key repeating), as two lower-case hexadecimal
// digits. An empty key gives the plain hexadecimal form.
QString EncodeStoredValue(const QString &text, const QString &key);

// The inverse: each pair of digits (either case) gives a byte, a pair that is
// no hexadecimal number the byte 32, then combined with the key and read as
// Windows-1250. A last single character is ignored.
QString DecodeStoredValue(const QString &hex, const QString &key);

// Texts lose leading and trailing blanks and control characters before they
// are kept or put back.
QString TrimControls(const QString &text);

// The two steps of a restore that do not need the window, shared with the
// readers that have none (ReadMainSettings):
// a stored property's text: the key's value, the property's current text
// when the key is missing, trimmed;
QString RestoredPropertyText(const IniFile &ini, const QString &section, const QString &key, const QString &current);
// the stored values, in collection order: each one's current text (encoded
// with its key string) is the default, what is read is decoded; afterwards
// every value is text.
void RestoreStoredValues(const IniFile &ini, const QString &section, TStoredValues &values);

}  // namespace qv
