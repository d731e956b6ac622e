// Whole-file reads and writes and folder snapshots for the Qt-side tests.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

namespace qv::test {

// The whole file; empty when it cannot be read.
QByteArray readAll(const QString &path);
// Writes bytes as the whole file, making its folder when missing; a failure
// fails the running test.
void writeAll(const QString &path, const QByteArray &bytes);
// Every file below a folder (hidden and system ones too) with its bytes, by
// relative name.
QMap<QString, QByteArray> snapshot(const QString &folder);

}  // namespace qv::test
