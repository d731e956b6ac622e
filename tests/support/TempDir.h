// A fresh temporary folder per test, removed afterwards.
#pragma once

#include "QtPrinters.h"

#include <QDir>
#include <QTemporaryDir>

namespace qv::test {

class TempDir {
public:
    TempDir() { dir_.setAutoRemove(true); }
    QString path() const { return dir_.path(); }
    QString file(const QString &name) const { return QDir(dir_.path()).filePath(name); }

private:
    QTemporaryDir dir_;
};

}  // namespace qv::test
