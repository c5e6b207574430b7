// A typed word's candidate probes against a local server where the first-preferred candidate
// answers at once and a later one only after 300 ms: the decision as soon as it is certain
// against waiting for every probe.
#include "platform/address_probe.h"
#include "platform/http_client.h"

#include <benchmark/benchmark.h>
#include <libsoup/soup.h>

#include <cstdlib>
#include <string>

namespace {

constexpr guint kSlowMilliseconds = 300;

struct ProbeServer {
SoupServer* server = nullptr;
unsigned port = 0;

ProbeServer()
{
    server = soup_server_new(nullptr, nullptr);
    soup_server_add_handler(server, nullptr, &ProbeServer::handle, nullptr, nullptr);
    soup_server_listen_local(server, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, nullptr);
    GSList* uris = soup_server_get_uris(server);
    port = static_cast<unsigned>(g_uri_get_port(static_cast<GUri*>(uris->data)));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
}
~ProbeServer() { g_object_unref(server); }

std::string url(const char* path) const
{
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

static void handle(
    SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer)
{
    soup_server_message_set_status(message, 200, nullptr);
    if (std::string(path) != "/slow")
        return;
    soup_server_message_pause(message);
    g_object_ref(message);
    g_timeout_add(
        kSlowMilliseconds,
        +[](gpointer data) -> gboolean {
            auto* held = static_cast<SoupServerMessage*>(data);
            soup_server_message_unpause(held);
            g_object_unref(held);
            return G_SOURCE_REMOVE;
        },
        message);
}
};

template <typename Done> void spinUntil(Done done)
{
while (!done())
    g_main_context_iteration(nullptr, TRUE);
}

void BM_DecisionAsSoonAsCertain(benchmark::State& state)
{
ProbeServer server;
for (auto _ : state) {
    bool decided = false;
    qv::AddressProbe probe({ server.url("/fast"), server.url("/slow") },
        std::chrono::seconds(3), [&](std::optional<std::string>) { decided = true; });
    spinUntil([&] { return decided; });
}
}

void BM_DecisionAfterEveryProbe(benchmark::State& state)
{
ProbeServer server;
qv::HttpClient client;
for (auto _ : state) {
    int answered = 0;
    for (const char* path : { "/fast", "/slow" })
        client.head(
            server.url(path), std::chrono::seconds(3), [&](std::optional<int>) { ++answered; });
    spinUntil([&] { return answered == 2; });
}
}

BENCHMARK(BM_DecisionAsSoonAsCertain)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_DecisionAfterEveryProbe)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char** argv)
{
    // Nothing leaves the loopback: the discard port refuses anything proxied.
    setenv("QV_NETWORK_PROXY", "http://127.0.0.1:9", 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
