// "Wyślij pliki do autora": sends the archive file to the service server's
// folder "dane" and logs the exchange in a log window of its own.
//
// The session waits in short slices; at each slice, and after each log line,
// the upload lets the window system's events through and turns a press of
// the log window's STOP button, or the closing of the main window, into a
// stop of the session. A transfer that fails or is stopped after "STOR" has
// its remote file deleted ("DELE"), over a new connection when the old one
// is out of step, so the server never keeps a partial archive under the final
// name, or the log names the file that could not be deleted; a size check
// ("SIZE") after the transfer catches a file that arrived short.
#pragma once

#include "archive/Interaction.h"

#include <functional>
#include <string>

namespace qv {

class TIdFTP;

// What the upload needs from the main window.
struct UploadHost {
    std::function<std::string()> archiveFileName;
    // The stored connection values "port", "host", "un" and "pw".
    std::function<std::string(const std::string &name)> storedValue;
    // A key of section "Main" of the settings file as it is now ("tryb",
    // "tls"); empty when it is missing. May be left empty: the defaults hold.
    std::function<std::string(const std::string &name)> setting;
    std::function<void(bool enabled)> setFtpEnabled;
    // Keeps the other commands that write to a log window disabled meanwhile.
    std::function<void(bool running)> setOperationRunning;
    // True once the main window is closing: the upload then stops at once.
    std::function<bool()> closing;
};

// act_FTPExecute. A stored port that is not a whole number, and a value of
// "tryb" or "tls" that means nothing, raise before the log window opens;
// every failure after that is logged, never shown. True when the file is on
// the server (the log ends with " *** Koniec przesyłania *** ").
bool UploadArchive(Interaction &ui, TIdFTP &IdFTP, const UploadHost &host);

}  // namespace qv
