// Records a session's notifications as text, in order, for exact comparison.
#pragma once

#include "upload/IdFTP.h"

#include "CoreTest.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace qvtest {

inline const char *StatusName(qv::TIdStatus s)
{
    switch (s) {
    case qv::hsResolving: return "hsResolving";
    case qv::hsConnecting: return "hsConnecting";
    case qv::hsConnected: return "hsConnected";
    case qv::hsDisconnecting: return "hsDisconnecting";
    case qv::hsDisconnected: return "hsDisconnected";
    case qv::ftpTransfer: return "ftpTransfer";
    case qv::ftpReady: return "ftpReady";
    case qv::ftpAborted: return "ftpAborted";
    case qv::ftpTlsSecured: return "ftpTlsSecured";
    case qv::ftpTlsNotOffered: return "ftpTlsNotOffered";
    case qv::ftpTlsUnavailable: return "ftpTlsUnavailable";
    case qv::ftpTlsDataClear: return "ftpTlsDataClear";
    case qv::ftpActiveRefused: return "ftpActiveRefused";
    case qv::ftpActiveNoConnection: return "ftpActiveNoConnection";
    case qv::ftpSizeUnknown: return "ftpSizeUnknown";
    case qv::ftpActiveConnectFailed: return "ftpActiveConnectFailed";
    case qv::ftpReconnecting: return "ftpReconnecting";
    }
    return "?";
}

inline const char *ModeName(qv::TWorkMode m) { return m == qv::wmWrite ? "wmWrite" : "wmRead"; }

struct Recorder {
    std::vector<std::string> events;

    void Attach(qv::TIdFTP &ftp)
    {
        ftp.OnStatus = [this](qv::TIdStatus s, const std::string &text) {
            events.push_back(std::string(StatusName(s)) + " " + text);
        };
        ftp.OnConnected = [this] { events.push_back("OnConnected"); };
        ftp.OnDisconnected = [this] { events.push_back("OnDisconnected"); };
        ftp.OnWorkBegin = [this](qv::TWorkMode m, std::int64_t total) {
            events.push_back(std::string("OnWorkBegin ") + ModeName(m) + " " + std::to_string(total));
        };
        ftp.OnWork = [this](qv::TWorkMode m, std::int64_t count) {
            events.push_back(std::string("OnWork ") + ModeName(m) + " " + std::to_string(count));
        };
        ftp.OnWorkEnd = [this](qv::TWorkMode m) { events.push_back(std::string("OnWorkEnd ") + ModeName(m)); };
    }

    // The running totals of every OnWork, in order.
    std::vector<std::int64_t> WorkTotals() const
    {
        std::vector<std::int64_t> out;
        for (const auto &e : events)
            if (e.rfind("OnWork wmWrite ", 0) == 0)
                out.push_back(std::stoll(e.substr(15)));
        return out;
    }
};

// The three notifications of every closing.
inline std::vector<std::string> Closing()
{
    return {"hsDisconnecting Disconnecting.", "OnDisconnected", "hsDisconnected Disconnected."};
}

inline std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Bytes that differ from position to position, so a shifted or repeated
// block would show.
inline std::string Pattern(std::size_t size, unsigned seed = 1)
{
    std::string out(size, '\0');
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (auto &c : out) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return out;
}

inline std::string WriteFile(const std::string &folder, const std::string &name, const std::string &content)
{
    const std::string path = folder + qv::PathDelim + name;
    qv::test::WriteBytes(path, content);
    return path;
}

inline std::string ReadFile(const std::string &path)
{
    const std::string bytes = qv::test::ReadBytes(path);
    return bytes.rfind("<missing ", 0) == 0 ? std::string() : bytes;
}

}  // namespace qvtest
