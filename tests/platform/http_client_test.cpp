// HEAD probes: statuses after redirects, time-outs, bad addresses and cancelling clients.
#include "platform/http_client.h"

#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace qv {

namespace {

using namespace std::chrono_literals;

bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A loopback server: "/s/<status>" answers that status, "/to-ok" redirects to "/s/200",
// "/hang" never answers.
class StatusServer {
public:
    StatusServer()
    {
        m_server = soup_server_new(nullptr, nullptr);
        GInetAddress* loopback = g_inet_address_new_from_string("127.0.0.1");
        GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
        GError* error = nullptr;
        soup_server_listen(m_server, address, static_cast<SoupServerListenOptions>(0), &error);
        g_object_unref(address);
        g_object_unref(loopback);
        EXPECT_EQ(error, nullptr);
        GSList* uris = soup_server_get_uris(m_server);
        m_port = g_uri_get_port(static_cast<GUri*>(uris->data));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
        soup_server_add_handler(m_server, nullptr, &StatusServer::handle, this, nullptr);
    }
    ~StatusServer()
    {
        for (SoupServerMessage* message : m_paused) {
            soup_server_message_set_status(message, 503, nullptr);
            soup_server_message_unpause(message);
            g_object_unref(message);
        }
        soup_server_disconnect(m_server);
        g_object_unref(m_server);
        // Closed connections are let go from the main context.
        while (g_main_context_iteration(nullptr, FALSE)) { }
    }
    std::string url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }
    std::vector<std::string> methods;

private:
    static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*,
        gpointer data)
    {
        auto* self = static_cast<StatusServer*>(data);
        self->methods.push_back(soup_server_message_get_method(message));
        std::string p = path;
        if (p == "/hang") {
            soup_server_message_pause(message);
            self->m_paused.push_back(SOUP_SERVER_MESSAGE(g_object_ref(message)));
            return;
        }
        if (p == "/to-ok") {
            soup_server_message_set_redirect(message, 302, "/s/200");
            return;
        }
        if (p.rfind("/s/", 0) == 0) {
            soup_server_message_set_status(message, std::stoi(p.substr(3)), nullptr);
            return;
        }
        soup_server_message_set_status(message, 404, nullptr);
    }
    SoupServer* m_server = nullptr;
    int m_port = 0;
    std::vector<SoupServerMessage*> m_paused;
};

} // namespace

TEST(HttpClientTest, HeadDeliversEachStatusOnceOnTheMainContext)
{
    StatusServer server;
    HttpClient client;
    std::map<int, std::optional<int>> got;
    std::map<int, int> calls;
    for (int status : { 200, 401, 404, 410, 500 }) {
        ASSERT_TRUE(client.head(server.url("/s/" + std::to_string(status)), 3s,
            [&, status](std::optional<int> answer) {
                got[status] = answer;
                calls[status]++;
            }));
    }
    // Nothing is delivered before the main context runs.
    EXPECT_TRUE(got.empty());
    ASSERT_TRUE(spinUntil([&] { return got.size() == 5; }, 5s));
    for (int status : { 200, 401, 404, 410, 500 }) {
        EXPECT_EQ(got[status], status);
        EXPECT_EQ(calls[status], 1);
    }
    for (const auto& method : server.methods)
        EXPECT_EQ(method, "HEAD");
    EXPECT_EQ(client.pendingCount(), 0u);
}

TEST(HttpClientTest, RedirectsAreFollowed)
{
    StatusServer server;
    HttpClient client;
    std::optional<std::optional<int>> got;
    ASSERT_TRUE(client.head(server.url("/to-ok"), 3s, [&](std::optional<int> s) { got = s; }));
    ASSERT_TRUE(spinUntil([&] { return got.has_value(); }, 5s));
    EXPECT_EQ(*got, 200);
}

TEST(HttpClientTest, ServerThatNeverAnswersTimesOutWithoutStatus)
{
    StatusServer server;
    HttpClient client;
    std::optional<std::optional<int>> got;
    // The server never answers, so any answer before the wait ends is the time-out's.
    ASSERT_TRUE(client.head(server.url("/hang"), 300ms, [&](std::optional<int> s) { got = s; }));
    ASSERT_TRUE(spinUntil([&] { return got.has_value(); }, 5s));
    EXPECT_EQ(*got, std::nullopt);
}

TEST(HttpClientTest, RefusedConnectionGivesNoStatus)
{
    std::string closedPort;
    {
        StatusServer server;
        closedPort = server.url("/s/200");
    }
    HttpClient client;
    std::optional<std::optional<int>> got;
    ASSERT_TRUE(client.head(closedPort, 3s, [&](std::optional<int> s) { got = s; }));
    ASSERT_TRUE(spinUntil([&] { return got.has_value(); }, 5s));
    EXPECT_EQ(*got, std::nullopt);
}

TEST(HttpClientTest, AddressesThatAreNoHttpRequestAreRefused)
{
    HttpClient client;
    bool called = false;
    for (const char* bad : { "", "not a url", "file:///etc/passwd", "https://", "javascript:x" })
        EXPECT_FALSE(client.head(bad, 1s, [&](std::optional<int>) { called = true; })) << bad;
    spinUntil([] { return false; }, 50ms);
    EXPECT_FALSE(called);
}

TEST(HttpClientTest, DestroyedClientNeverCallsBack)
{
    StatusServer server;
    bool called = false;
    {
        HttpClient client;
        auto mark = [&](std::optional<int>) { called = true; };
        ASSERT_TRUE(client.head(server.url("/hang"), 3s, mark));
        ASSERT_TRUE(client.head(server.url("/s/200"), 3s, mark));
        EXPECT_EQ(client.pendingCount(), 2u);
    }
    spinUntil([] { return false; }, 300ms);
    EXPECT_FALSE(called);
}

} // namespace qv
