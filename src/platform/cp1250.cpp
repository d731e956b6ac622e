#include "platform/cp1250.h"

#include "platform/text.h"

namespace qv {

QString FromCP1250(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (char c : bytes)
        out.append(QChar(Cp1250ToUnicode(static_cast<unsigned char>(c))));
    return out;
}

QByteArray ToCP1250(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (QChar ch : text)
        out.append(UnicodeToCp1250(ch.unicode()));
    return out;
}

}  // namespace qv
