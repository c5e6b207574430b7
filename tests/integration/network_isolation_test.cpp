// Tests never leave the loopback: the environment's proxy is never used while the fixture's
// closed-port proxy is in force.
#include "support/browser_fixture.h"

#include <cstdlib>

namespace qv::test {
namespace {

// A listening socket on 127.0.0.1 that counts the connections made to it.
class CountingProxy {
public:
    CountingProxy()
    {
        m_service = g_socket_service_new();
        GInetAddress* loopback = g_inet_address_new_from_string("127.0.0.1");
        GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
        GSocketAddress* bound = nullptr;
        g_socket_listener_add_address(G_SOCKET_LISTENER(m_service), address, G_SOCKET_TYPE_STREAM,
            G_SOCKET_PROTOCOL_TCP, nullptr, &bound, nullptr);
        if (bound)
            m_port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
        g_clear_object(&bound);
        g_object_unref(address);
        g_object_unref(loopback);
        g_signal_connect(m_service, "incoming",
            G_CALLBACK(+[](GSocketService*, GSocketConnection*, GObject*, gpointer data) -> gboolean {
                ++*static_cast<int*>(data);
                return FALSE;
            }),
            &m_connections);
        g_socket_service_start(m_service);
    }
    ~CountingProxy()
    {
        g_socket_service_stop(m_service);
        g_socket_listener_close(G_SOCKET_LISTENER(m_service));
        g_object_unref(m_service);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    int connections() const { return m_connections; }
    unsigned port() const { return m_port; }

private:
    GSocketService* m_service = nullptr;
    unsigned m_port = 0;
    int m_connections = 0;
};

class NetworkIsolationTest : public BrowserTest {
protected:
    NetworkIsolationTest() { m_launchInSetUp = false; }
};

TEST_F(NetworkIsolationTest, LaunchAndTypedWordNeverReachTheEnvironmentsProxy)
{
    CountingProxy proxy;
    ASSERT_NE(proxy.port(), 0u);
    for (const char* name : { "http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy" })
        setenv(name, proxy.url().c_str(), 1);
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");

    launch();
    WebKitWebView* view = selectedView();
    ASSERT_NE(view, nullptr);
    auto loadFailed = [&] {
        return controller().window()->get_title().raw().rfind("Load failed: ", 0) == 0;
    };
    // The home page is a public search address: its load must fail at the closed port.
    ASSERT_TRUE(waitUntil(loadFailed));

    controller().window()->set_title("Quivel Browser");
    uint64_t generation = controller().navigation().addressLookupGeneration();
    submitAddress("news");
    // Every candidate is probed and refused, then the search itself fails to load.
    ASSERT_TRUE(waitUntil(
        [&] { return controller().navigation().addressLookupGeneration() > generation && loadFailed(); }));
    EXPECT_EQ(proxy.connections(), 0);

    // Loopback addresses are still reached directly.
    m_server->page("/here.html", "Here");
    submitAddress(m_server->url("/here.html"));
    ASSERT_TRUE(waitForLoad(view, m_server->url("/here.html")));
    EXPECT_GE(m_server->requestCount("/here.html"), 1);
    EXPECT_EQ(proxy.connections(), 0);
}

} // namespace
} // namespace qv::test
