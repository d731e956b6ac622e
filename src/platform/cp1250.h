// Windows-1250 between Qt's strings and the bytes the ledger program and the
// settings file hold; the table itself is the core's (platform/text.h).
#pragma once

#include <QByteArray>
#include <QString>

namespace qv {

QString FromCP1250(const QByteArray &bytes);
// Characters without a Windows-1250 form become '?'.
QByteArray ToCP1250(const QString &text);

}  // namespace qv
