#include "platform/shell.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace qv {

bool ShellOpenFile(const std::string &path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

}  // namespace qv
