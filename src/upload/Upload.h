// "Wyślij pliki do autora": sends the archive file to the service server's
// folder "dane" and logs the exchange in a log window of its own.
#pragma once

#include "platform/interaction.h"

#include <QVariant>
#include <functional>

class QWidget;

namespace qv {

class TIdFTP;

// What the upload needs from the main window.
struct UploadHost {
    QWidget *window = nullptr;
    std::function<QString()> archiveFileName;
    // The stored connection values "port", "host", "un" and "pw".
    std::function<QVariant(const QString &name)> storedValue;
    std::function<void(bool enabled)> setFtpEnabled;
    // Keeps the other commands that write to a log window disabled meanwhile.
    std::function<void(bool running)> setOperationRunning;
};

// act_FTPExecute. A stored port that is not a whole number raises before the
// log window opens; every failure after that is logged, never shown.
void UploadArchive(Interaction &ui, TIdFTP &IdFTP, const UploadHost &host);

}  // namespace qv
