// The process-wide proxy override.
#include "platform/network_proxy.h"

#include <libsoup/soup.h>

#include <cstdlib>

namespace qv {

const std::optional<NetworkProxyOverride>& networkProxyOverride()
{
    static const std::optional<NetworkProxyOverride> proxy = []() -> std::optional<NetworkProxyOverride> {
        const char* uri = std::getenv(kNetworkProxyVariable);
        if (!uri || !*uri)
            return std::nullopt;
        return NetworkProxyOverride { uri, { "127.0.0.1", "localhost", "::1" } };
    }();
    return proxy;
}

void applyNetworkProxy(SoupSession* session)
{
    const auto& proxy = networkProxyOverride();
    if (!proxy || !session)
        return;
    std::vector<const char*> ignore = proxy->ignoreHostList();
    GProxyResolver* resolver = g_simple_proxy_resolver_new(proxy->uri.c_str(),
        const_cast<char**>(ignore.data()));
    soup_session_set_proxy_resolver(session, resolver);
    g_object_unref(resolver);
}

} // namespace qv
