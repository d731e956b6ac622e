// The name under which an upload is stored on the server.
#pragma once

#include "platform/environment.h"

#include <string>

namespace qv {

// This computer's host name reduced to letters, digits, "-" and "_"; "host"
// when nothing is left of it.
std::string SenderIdentifier();
std::string SenderIdentifierFrom(const std::string &hostName);

// sender + "~yyyy-mm-dd_hhmmss" + ".cab" for the given local date and time.
std::string RemoteFileName(const std::string &sender, const LocalDateTime &localTime);

}  // namespace qv
