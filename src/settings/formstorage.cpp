#include "settings/formstorage.h"

#include "platform/cp1250.h"
#include "settings/inifile.h"

#include <QMetaProperty>
#include <QWidget>

#include <optional>
#include <stdexcept>

namespace qv {

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

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

QString TrimControls(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= ' ')
        ++begin;
    while (end > begin && text[end - 1].unicode() <= ' ')
        --end;
    return text.mid(begin, end - begin);
}

QString EncodeStoredValue(const QString &text, const QString &key)
{
    const QByteArray t = ToCP1250(text);
    const QByteArray k = ToCP1250(key);
    static const char digits[] = "0123456789abcdef";
    QString out;
    out.reserve(t.size() * 2);
    for (qsizetype i = 0; i < t.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(t[i]);
        if (!k.isEmpty())
            b = static_cast<unsigned char>(b ^ static_cast<unsigned char>(k[i % k.size()]));
        out += QLatin1Char(digits[b >> 4]);
        out += QLatin1Char(digits[b & 0xF]);
    }
    return out;
}

QString DecodeStoredValue(const QString &hex, const QString &key)
{
    const QByteArray k = ToCP1250(key);
    QByteArray bytes;
    bytes.reserve(hex.size() / 2);
    for (qsizetype i = 0; 2 * i + 1 < hex.size(); ++i) {
        const int hi = hexDigit(hex[2 * i]);
        const int lo = hexDigit(hex[2 * i + 1]);
        unsigned char b = static_cast<unsigned char>(hi < 0 || lo < 0 ? 32 : hi * 16 + lo);
        if (!k.isEmpty())
            b = static_cast<unsigned char>(b ^ static_cast<unsigned char>(k[i % k.size()]));
        bytes.append(static_cast<char>(b));
    }
    return FromCP1250(bytes);
}

TStoredValue &TStoredValues::Add(const QString &name, const QVariant &value, const QString &keyString)
{
    if (name.trimmed().isEmpty())
        throw std::invalid_argument("a stored value needs a name");
    if (Find(name))
        throw std::invalid_argument("duplicate stored value name: " + name.toStdString());
    items_.push_back(TStoredValue{name, value, keyString});
    return items_.back();
}

TStoredValue *TStoredValues::Find(const QString &name)
{
    for (TStoredValue &v : items_)
        if (v.Name.compare(name, Qt::CaseInsensitive) == 0)
            return &v;
    return nullptr;
}

const TStoredValue *TStoredValues::Find(const QString &name) const
{
    return const_cast<TStoredValues *>(this)->Find(name);
}

TFormStorage::TFormStorage(QWidget *owner) : TFormPlacement(owner) {}

QVariant TFormStorage::StoredValue(const QString &name) const
{
    const TStoredValue *v = StoredValues.Find(name);
    return v ? v->Value : QVariant();
}

void TFormStorage::SetStoredValue(const QString &name, const QVariant &value)
{
    TStoredValue *v = StoredValues.Find(name);
    if (!v)
        throw std::invalid_argument("no stored value named " + name.toStdString());
    v->Value = value;
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

QString RestoredPropertyText(const IniFile &ini, const QString &section, const QString &key, const QString &current)
{
    return TrimControls(ini.ReadString(section, key, current));
}

void RestoreStoredValues(const IniFile &ini, const QString &section, TStoredValues &values)
{
    for (TStoredValue &v : values) {
        QString text = v.Value.toString();
        if (!v.KeyString.isEmpty())
            text = EncodeStoredValue(text, v.KeyString);
        text = ini.ReadString(section, v.Name, text);
        if (!v.KeyString.isEmpty())
            text = DecodeStoredValue(text, v.KeyString);
        v.Value = text;
    }
}

void TFormStorage::restoreMore(IniFile &ini)
{
    for (const Prop &p : resolveProps(true)) {
        try {
            const QString current = p.property.read(p.component).toString();
            const QString text = RestoredPropertyText(ini, IniSection, p.key, current);
            // Only a differing text is assigned, so only a real change runs the
            // control's change handling.
            if (text != current && p.property.isWritable())
                p.property.write(p.component, text);
        } catch (...) {
            // One property that cannot take its text does not keep the others back.
        }
    }
    RestoreStoredValues(ini, IniSection, StoredValues);
}

void TFormStorage::saveMore(IniFile &ini)
{
    for (const Prop &p : resolveProps(false))
        writeText(ini, p.key, TrimControls(p.property.read(p.component).toString()));

    for (const TStoredValue &v : StoredValues) {
        QString text = v.Value.toString();
        if (!v.KeyString.isEmpty())
            text = EncodeStoredValue(text, v.KeyString);
        writeText(ini, v.Name, text);
    }
}

}  // namespace qv
