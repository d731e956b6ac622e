#include "app/FormStorage.h"

#include "app/AppInteraction.h"
#include "settings/inifile.h"

#include <QMetaProperty>
#include <QWidget>

#include <optional>
#include <stdexcept>

namespace qv {

namespace {

QObject *findComponent(QObject *owner, const QString &name)
{
    for (QObject *o : owner->findChildren<QObject *>())
        if (o->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return o;
    return nullptr;
}

// The property of that name ignoring case. Qt names are case-sensitive, so a
// control may have both "text" (QLineEdit's) and "Text" (its own): the exact
// spelling wins, then the most derived class's property.
std::optional<QMetaProperty> findProperty(const QMetaObject *meta, const QString &name)
{
    const int exact = meta->indexOfProperty(name.toLatin1().constData());
    if (exact >= 0)
        return meta->property(exact);
    for (int i = meta->propertyCount() - 1; i >= 0; --i) {
        const QMetaProperty p = meta->property(i);
        if (QString::fromLatin1(p.name()).compare(name, Qt::CaseInsensitive) == 0)
            return p;
    }
    return std::nullopt;
}

}  // namespace

TFormStorage::TFormStorage(QWidget *owner) : TFormPlacement(owner) {}

QString TFormStorage::StoredValue(const QString &name) const
{
    const TStoredValue *v = StoredValues.Find(U(name));
    return v ? Q(v->Value) : QString();
}

void TFormStorage::SetStoredValue(const QString &name, const QString &value)
{
    TStoredValue *v = StoredValues.Find(U(name));
    if (!v)
        throw std::invalid_argument("no stored value named " + name.toStdString());
    v->Value = U(value);
}

struct TFormStorage::Prop {
    QObject *component;
    QMetaProperty property;
    QString key;
};

std::vector<TFormStorage::Prop> TFormStorage::resolveProps(bool dropUnknown)
{
    std::vector<Prop> props;
    QStringList kept;
    for (const QString &line : std::as_const(StoredProps)) {
        const qsizetype dot = line.indexOf(QLatin1Char('.'));
        const QString componentName = dot < 0 ? QString() : line.left(dot).trimmed();
        const QString propertyName = dot < 0 ? QString() : line.mid(dot + 1).trimmed();
        QObject *component = componentName.isEmpty() || propertyName.isEmpty()
                                 ? nullptr
                                 : findComponent(owner(), componentName);
        if (!component)
            continue;
        kept << line;
        if (const std::optional<QMetaProperty> p = findProperty(component->metaObject(), propertyName))
            props.push_back(
                Prop{component, *p, component->objectName() + QLatin1Char('_') + QString::fromLatin1(p->name())});
    }
    if (dropUnknown)
        StoredProps = kept;
    return props;
}

void TFormStorage::restoreMore(IniFile &ini)
{
    for (const Prop &p : resolveProps(true)) {
        try {
            const QString current = p.property.read(p.component).toString();
            const QString text = Q(RestoredPropertyText(ini, U(IniSection), U(p.key), U(current)));
            // Only a differing text is assigned, so only a real change runs the
            // control's change handling.
            if (text != current && p.property.isWritable())
                p.property.write(p.component, text);
        } catch (...) {
            // One property that cannot take its text does not keep the others back.
        }
    }
    RestoreStoredValues(ini, U(IniSection), StoredValues);
}

void TFormStorage::saveMore(IniFile &ini)
{
    for (const Prop &p : resolveProps(false))
        writeText(ini, p.key, Q(TrimControls(U(p.property.read(p.component).toString()))));
    SaveStoredValues(ini, U(IniSection), StoredValues);
}

}  // namespace qv
