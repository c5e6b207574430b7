// Streamed requests: what is sent, chunked delivery, stopping early and the idle time-out.
#include "platform/http_client.h"

#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include <chrono>
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

// "/echo" answers "<method> <X-Probe> <Content-Length> <body>" followed by 300000 dots;
// "/endless" streams chunks until the client goes away; "/hang" never answers; "/jump"
// redirects to "/cookie" on the host "localhost", which answers with the Cookie it was sent.
class StreamServer {
public:
    StreamServer()
    {
        m_server = soup_server_new(nullptr, nullptr);
        GInetAddress* loopback = g_inet_address_new_from_string("127.0.0.1");
        GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
        soup_server_listen(m_server, address, static_cast<SoupServerListenOptions>(0), nullptr);
        g_object_unref(address);
        g_object_unref(loopback);
        GSList* uris = soup_server_get_uris(m_server);
        m_port = g_uri_get_port(static_cast<GUri*>(uris->data));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
        soup_server_add_handler(m_server, nullptr, &StreamServer::handle, this, nullptr);
    }
    ~StreamServer()
    {
        for (SoupServerMessage* message : m_paused) {
            soup_server_message_set_status(message, 503, nullptr);
            soup_server_message_unpause(message);
            g_object_unref(message);
        }
        soup_server_disconnect(m_server);
        g_object_unref(m_server);
    }
    std::string url(const std::string& path, const std::string& host = "127.0.0.1") const
    {
        return "http://" + host + ":" + std::to_string(m_port) + path;
    }
    bool endlessFinished = false;

private:
    static void handle(
        SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data)
    {
        auto* self = static_cast<StreamServer*>(data);
        std::string p = path;
        if (p == "/hang") {
            soup_server_message_pause(message);
            self->m_paused.push_back(SOUP_SERVER_MESSAGE(g_object_ref(message)));
            return;
        }
        if (p == "/endless") {
            soup_server_message_set_status(message, 200, nullptr);
            SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
            soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
            soup_message_body_set_accumulate(soup_server_message_get_response_body(message), FALSE);
            g_signal_connect(message, "wrote-chunk", G_CALLBACK(&StreamServer::more), nullptr);
            g_signal_connect(message, "finished",
                G_CALLBACK(
                    +[](SoupServerMessage*, gpointer flag) { *static_cast<bool*>(flag) = true; }),
                &self->endlessFinished);
            more(message, nullptr);
            return;
        }
        SoupMessageHeaders* request = soup_server_message_get_request_headers(message);
        if (p == "/jump") {
            soup_server_message_set_redirect(
                message, 302, self->url("/cookie", "localhost").c_str());
            return;
        }
        if (p == "/cookie") {
            const char* cookie = soup_message_headers_get_one(request, "Cookie");
            std::string answer = cookie ? cookie : "none";
            soup_server_message_set_status(message, 200, nullptr);
            soup_server_message_set_response(
                message, "text/plain", SOUP_MEMORY_COPY, answer.data(), answer.size());
            return;
        }
        const char* probe = soup_message_headers_get_one(request, "X-Probe");
        SoupMessageBody* body = soup_server_message_get_request_body(message);
        std::string answer = std::string(soup_server_message_get_method(message)) + " "
            + (probe ? probe : "-") + " "
            + std::to_string(soup_message_headers_get_content_length(request)) + " "
            + std::string(body->data ? body->data : "", static_cast<size_t>(body->length));
        answer += std::string(300000, '.');
        soup_server_message_set_status(message, 201, nullptr);
        soup_server_message_set_response(
            message, "text/plain", SOUP_MEMORY_COPY, answer.data(), answer.size());
    }
    static void more(SoupServerMessage* message, gpointer)
    {
        static const std::string chunk(32768, 'z');
        soup_message_body_append(soup_server_message_get_response_body(message), SOUP_MEMORY_STATIC,
            chunk.data(), chunk.size());
    }

    SoupServer* m_server = nullptr;
    int m_port = 0;
    std::vector<SoupServerMessage*> m_paused;
};

struct Outcome {
    std::optional<HttpResponseHead> head;
    std::vector<size_t> chunks;
    std::string body;
    std::vector<HttpStreamEnd> ends;
};

HttpStreamCallbacks recordInto(Outcome& outcome, size_t stopAfterChunks = 0)
{
    HttpStreamCallbacks callbacks;
    callbacks.response = [&outcome](const HttpResponseHead& head) {
        outcome.head = head;
        return true;
    };
    callbacks.body = [&outcome, stopAfterChunks](std::string_view chunk) {
        outcome.chunks.push_back(chunk.size());
        outcome.body.append(chunk);
        return stopAfterChunks == 0 || outcome.chunks.size() < stopAfterChunks;
    };
    callbacks.finished = [&outcome](const HttpStreamEnd& end) { outcome.ends.push_back(end); };
    return callbacks;
}

} // namespace

TEST(HttpStreamTest, SendsMethodHeadersAndBodyAndDeliversTheAnswerInChunks)
{
    StreamServer server;
    HttpClient client;
    Outcome outcome;
    HttpStreamRequest request;
    request.method = "POST";
    request.url = server.url("/echo");
    // The transport sets the body's length itself.
    request.headers = { { "X-Probe", "42" }, { "Content-Length", "999" } };
    request.body = "hello";
    ASSERT_TRUE(client.stream(request, recordInto(outcome)));
    ASSERT_TRUE(spinUntil([&] { return !outcome.ends.empty(); }, 10s));
    // Whatever was still queued has run: a second end would be among it.
    while (g_main_context_iteration(nullptr, FALSE)) { }

    ASSERT_EQ(outcome.ends.size(), 1u);
    EXPECT_EQ(outcome.ends[0].kind, HttpStreamEnd::Kind::Complete);
    ASSERT_TRUE(outcome.head);
    EXPECT_EQ(outcome.head->status, 201);
    EXPECT_EQ(outcome.head->finalURL, server.url("/echo"));
    EXPECT_EQ(outcome.head->contentLength, outcome.body.size());
    EXPECT_EQ(outcome.body.substr(0, 17), "POST 42 5 hello..");
    EXPECT_EQ(outcome.body.size(), 300000u + 15u);
    EXPECT_GT(outcome.chunks.size(), 1u);
    for (size_t size : outcome.chunks)
        EXPECT_LE(size, 65536u);
    EXPECT_EQ(client.pendingCount(), 0u);
}

TEST(HttpStreamTest, StoppingDropsTheConnectionAtOnce)
{
    StreamServer server;
    HttpClient client;
    Outcome outcome;
    HttpStreamRequest request;
    request.url = server.url("/endless");
    ASSERT_TRUE(client.stream(request, recordInto(outcome, 2)));
    ASSERT_TRUE(spinUntil([&] { return !outcome.ends.empty(); }, 10s));
    EXPECT_EQ(outcome.ends[0].kind, HttpStreamEnd::Kind::Stopped);
    EXPECT_EQ(outcome.chunks.size(), 2u);
    // An endless body can only end for the server when the client has gone.
    EXPECT_TRUE(spinUntil([&] { return server.endlessFinished; }, 10s));
    EXPECT_EQ(outcome.ends.size(), 1u);
}

TEST(HttpStreamTest, SilenceLongerThanTheIdleTimeOutFails)
{
    StreamServer server;
    HttpClient client;
    Outcome outcome;
    HttpStreamRequest request;
    request.url = server.url("/hang");
    request.idleTimeout = 300ms;
    ASSERT_TRUE(client.stream(request, recordInto(outcome)));
    ASSERT_TRUE(spinUntil([&] { return !outcome.ends.empty(); }, 5s));
    EXPECT_EQ(outcome.ends[0].kind, HttpStreamEnd::Kind::Failed);
    EXPECT_EQ(outcome.ends[0].error, kHttpTimedOutMessage);
    EXPECT_FALSE(outcome.head);
}

TEST(HttpStreamTest, ARedirectToAnotherHostCarriesThatHostsCookiesOnly)
{
    StreamServer server;
    HttpClient client;
    Outcome outcome;
    HttpStreamRequest request;
    request.url = server.url("/jump");
    std::vector<std::string> asked;
    request.cookieHeaderFor = [&asked](const std::string& url) {
        asked.push_back(url);
        return url.find("//127.0.0.1:") != std::string::npos ? std::string("first=1") : "";
    };
    ASSERT_TRUE(client.stream(request, recordInto(outcome)));
    ASSERT_TRUE(spinUntil([&] { return !outcome.ends.empty(); }, 10s));
    EXPECT_EQ(outcome.ends[0].kind, HttpStreamEnd::Kind::Complete);
    EXPECT_EQ(outcome.body, "none");
    EXPECT_EQ(asked,
        (std::vector<std::string> { server.url("/jump"), server.url("/cookie", "localhost") }));
}

TEST(HttpStreamTest, ASteadyBodyPastTheTotalTimeOutFails)
{
    StreamServer server;
    HttpClient client;
    Outcome outcome;
    HttpStreamRequest request;
    request.url = server.url("/endless");
    request.totalTimeout = 300ms;
    ASSERT_TRUE(client.stream(request, recordInto(outcome)));
    ASSERT_TRUE(spinUntil([&] { return !outcome.ends.empty(); }, 10s));
    EXPECT_EQ(outcome.ends[0].kind, HttpStreamEnd::Kind::Failed);
    EXPECT_EQ(outcome.ends[0].error, kHttpTimedOutMessage);
    EXPECT_FALSE(outcome.chunks.empty());
}

} // namespace qv
