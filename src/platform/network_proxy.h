// A proxy that overrides the environment's for every network session of the process.
#pragma once

#include <optional>
#include <string>
#include <vector>

typedef struct _SoupSession SoupSession;

namespace qv {

// The environment variable naming the override; tests and benchmarks set it to a closed
// loopback port so nothing but 127.0.0.1 and localhost is ever reached.
inline constexpr const char* kNetworkProxyVariable = "QV_NETWORK_PROXY";

struct NetworkProxyOverride {
    std::string uri;
    std::vector<std::string> ignoreHosts; // always reached directly

    // The ignored hosts as the C libraries take them: a list ending in a null pointer.
    std::vector<const char*> ignoreHostList() const
    {
        std::vector<const char*> list;
        for (const auto& host : ignoreHosts)
            list.push_back(host.c_str());
        list.push_back(nullptr);
        return list;
    }
};

// Read from the environment once; nothing when the variable is unset or empty, so the
// system's own proxy settings apply.
const std::optional<NetworkProxyOverride>& networkProxyOverride();

// Gives the session the override, if there is one.
void applyNetworkProxy(SoupSession* session);

} // namespace qv
