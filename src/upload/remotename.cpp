#include "upload/remotename.h"

#include "platform/sockets.h"

#include <cstdio>

namespace qv {

std::string SenderIdentifierFrom(const std::string &hostName)
{
    std::string out;
    for (char c : hostName) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_')
            out += c;
    }
    // An empty identifier would make every sender's files look alike.
    return out.empty() ? std::string("host") : out;
}

std::string SenderIdentifier() { return SenderIdentifierFrom(net::LocalHostName()); }

std::string RemoteFileName(const std::string &sender, const LocalDateTime &t)
{
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "~%04d-%02d-%02d_%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return sender + stamp + ".cab";
}

}  // namespace qv
