// Windows-1250, the code page of every text the ledger program and the
// settings file hold, to and from Unicode.
#pragma once

#include <QByteArray>
#include <QString>

namespace qv {

QString FromCP1250(const QByteArray &bytes);
// Characters without a Windows-1250 form become '?'.
QByteArray ToCP1250(const QString &text);

}  // namespace qv
