// Icon fetches whose body never ends, from a local server: how long until the size limit
// stops them and how many bytes were read.
#include "platform/http_client.h"
#include "tabs/favicon_rules.h"

#include <benchmark/benchmark.h>
#include <libsoup/soup.h>

#include <cstdlib>

#include <chrono>
#include <memory>
#include <string>

namespace {

constexpr size_t kChunk = 64 * 1024;
// The server stops by itself after this much, whatever the client does.
constexpr size_t kServerBound = 256u * 1024 * 1024;

struct EndlessServer {
    SoupServer* server = nullptr;
    unsigned port = 0;
    size_t sent = 0;
    bool announceLength = false;

    EndlessServer()
    {
        server = soup_server_new(nullptr, nullptr);
        soup_server_add_handler(server, nullptr, &EndlessServer::handle, this, nullptr);
        soup_server_listen_local(server, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, nullptr);
        GSList* uris = soup_server_get_uris(server);
        port = static_cast<unsigned>(g_uri_get_port(static_cast<GUri*>(uris->data)));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    ~EndlessServer() { g_object_unref(server); }

    static void append(SoupServerMessage* message, size_t* sent)
    {
        static const std::string chunk(kChunk, 'x');
        SoupMessageBody* body = soup_server_message_get_response_body(message);
        if (*sent >= kServerBound) {
            soup_message_body_complete(body);
            return;
        }
        *sent += chunk.size();
        soup_message_body_append(body, SOUP_MEMORY_STATIC, chunk.data(), chunk.size());
    }

    static void handle(
        SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer data)
    {
        auto* self = static_cast<EndlessServer*>(data);
        SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
        if (self->announceLength)
            soup_message_headers_set_content_length(headers, 1ll << 40);
        else
            soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
        soup_server_message_set_status(message, 200, nullptr);
        g_signal_connect(message, "wrote-chunk", G_CALLBACK(+[](SoupServerMessage* m, gpointer d) {
            append(m, static_cast<size_t*>(d));
        }),
            &self->sent);
        append(message, &self->sent);
    }
};

void fetchUntilStopped(benchmark::State& state, bool announceLength)
{
    EndlessServer server;
    server.announceLength = announceLength;
    qv::HttpClient client;
    std::string url = "http://127.0.0.1:" + std::to_string(server.port) + "/favicon.ico";
    double bytesRead = 0;
    double bytesSent = 0;
    for (auto _ : state) {
        auto download = std::make_shared<qv::FaviconDownload>();
        size_t read = 0;
        size_t sentBefore = server.sent;
        bool done = false;
        qv::HttpStreamCallbacks handlers;
        handlers.response = [download](const qv::HttpResponseHead& head) {
            return download->receiveResponse(head.status, head.contentLength);
        };
        handlers.body = [download, &read](std::string_view chunk) {
            read += chunk.size();
            return download->receiveData(chunk);
        };
        handlers.finished = [&done](const qv::HttpStreamEnd&) { done = true; };
        qv::HttpStreamRequest request;
        request.url = url;
        request.idleTimeout = std::chrono::seconds(30);
        client.stream(request, std::move(handlers));
        while (!done)
            g_main_context_iteration(nullptr, TRUE);
        if (!download->failed())
            state.SkipWithError("the download was not stopped");
        bytesRead += double(read);
        bytesSent += double(server.sent - sentBefore);
    }
    state.counters["bytes_read"]
        = benchmark::Counter(bytesRead, benchmark::Counter::kAvgIterations);
    state.counters["bytes_sent"]
        = benchmark::Counter(bytesSent, benchmark::Counter::kAvgIterations);
}

void BM_EndlessChunkedIcon(benchmark::State& state) { fetchUntilStopped(state, false); }
void BM_HugeAnnouncedIcon(benchmark::State& state) { fetchUntilStopped(state, true); }

} // namespace

BENCHMARK(BM_EndlessChunkedIcon)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_HugeAnnouncedIcon)->Unit(benchmark::kMillisecond)->Iterations(20);
int main(int argc, char** argv)
{
    // Only the local server is fetched; anything else would meet a closed loopback port.
    setenv("QV_NETWORK_PROXY", "http://127.0.0.1:9", 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
