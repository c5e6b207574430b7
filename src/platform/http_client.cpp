// HEAD and streamed GET requests on the shared libsoup session, answered on the main context.
#include "platform/http_client.h"

#include <libsoup/soup.h>

#include <algorithm>
#include <set>

namespace qv {

struct HttpClient::State {
    bool alive = true;
    std::set<GCancellable*> pending;
};

namespace {

// Every candidate of one submission goes to the same few hosts at once; the default of two
// connections per host would queue probes behind one that hangs.
constexpr int kMaxConnectionsPerHost = 16;
constexpr int kMaxConnections = 64;

struct PendingHead {
    std::shared_ptr<HttpClient::State> state;
    GCancellable* cancellable = nullptr;
    SoupMessage* message = nullptr;
    guint timeoutSource = 0;
    HttpStatusCallback callback;
};

gboolean cancelOnTimeout(gpointer data)
{
    auto* pending = static_cast<PendingHead*>(data);
    pending->timeoutSource = 0;
    g_cancellable_cancel(pending->cancellable);
    return G_SOURCE_REMOVE;
}

void finishHead(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<PendingHead> pending(static_cast<PendingHead*>(data));
    GError* error = nullptr;
    GInputStream* body = soup_session_send_finish(SOUP_SESSION(source), result, &error);
    std::optional<int> status;
    if (body) {
        status = static_cast<int>(soup_message_get_status(pending->message));
        g_input_stream_close_async(body, G_PRIORITY_DEFAULT, nullptr, nullptr, nullptr);
        g_object_unref(body);
    }
    if (error)
        g_error_free(error);
    if (pending->timeoutSource)
        g_source_remove(pending->timeoutSource);
    g_object_unref(pending->message);
    HttpStatusCallback callback = std::move(pending->callback);
    bool deliver = pending->state->alive;
    pending->state->pending.erase(pending->cancellable);
    g_object_unref(pending->cancellable);
    pending.reset();
    if (deliver && callback)
        callback(status);
}

constexpr gsize kReadChunkBytes = 16 * 1024;

struct PendingGet {
    std::shared_ptr<HttpClient::State> state;
    GCancellable* cancellable = nullptr;
    SoupMessage* message = nullptr;
    GInputStream* body = nullptr;
    guint timeoutSource = 0;
    HttpStreamHandlers handlers;
};

void readNextChunk(PendingGet* pending);

// Ends the request once: the done handler runs only while the client lives.
void finishGet(PendingGet* raw, bool completed)
{
    std::unique_ptr<PendingGet> pending(raw);
    if (pending->timeoutSource)
        g_source_remove(pending->timeoutSource);
    if (pending->body) {
        // Closing a cancelled stream drops the connection instead of draining it.
        g_cancellable_cancel(pending->cancellable);
        g_input_stream_close(pending->body, nullptr, nullptr);
        g_object_unref(pending->body);
    }
    g_object_unref(pending->message);
    auto done = std::move(pending->handlers.done);
    bool deliver = pending->state->alive;
    pending->state->pending.erase(pending->cancellable);
    g_object_unref(pending->cancellable);
    pending.reset();
    if (deliver && done)
        done(completed);
}

gboolean cancelGetOnTimeout(gpointer data)
{
    auto* pending = static_cast<PendingGet*>(data);
    pending->timeoutSource = 0;
    g_cancellable_cancel(pending->cancellable);
    return G_SOURCE_REMOVE;
}

void chunkRead(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* pending = static_cast<PendingGet*>(data);
    GError* error = nullptr;
    GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
    if (error)
        g_error_free(error);
    if (!bytes || !pending->state->alive) {
        if (bytes)
            g_bytes_unref(bytes);
        finishGet(pending, false);
        return;
    }
    gsize size = 0;
    const char* chunk = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    if (size == 0) {
        g_bytes_unref(bytes);
        finishGet(pending, true);
        return;
    }
    bool more = !pending->handlers.data || pending->handlers.data(std::string_view(chunk, size));
    g_bytes_unref(bytes);
    if (!more) {
        finishGet(pending, false);
        return;
    }
    readNextChunk(pending);
}

void readNextChunk(PendingGet* pending)
{
    g_input_stream_read_bytes_async(pending->body, kReadChunkBytes, G_PRIORITY_DEFAULT,
        pending->cancellable, chunkRead, pending);
}

void getSent(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* pending = static_cast<PendingGet*>(data);
    GError* error = nullptr;
    pending->body = soup_session_send_finish(SOUP_SESSION(source), result, &error);
    if (error)
        g_error_free(error);
    if (!pending->body || !pending->state->alive) {
        finishGet(pending, false);
        return;
    }
    std::optional<std::uint64_t> length;
    SoupMessageHeaders* headers = soup_message_get_response_headers(pending->message);
    if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH)
        length = static_cast<std::uint64_t>(soup_message_headers_get_content_length(headers));
    int status = static_cast<int>(soup_message_get_status(pending->message));
    if (pending->handlers.response && !pending->handlers.response(status, length)) {
        finishGet(pending, false);
        return;
    }
    readNextChunk(pending);
}

} // namespace

HttpClient::HttpClient()
    : m_state(std::make_shared<State>())
{
}

HttpClient::~HttpClient()
{
    m_state->alive = false;
    for (GCancellable* cancellable : m_state->pending)
        g_cancellable_cancel(cancellable);
}

SoupSession* HttpClient::sharedSession()
{
    static SoupSession* session = soup_session_new_with_options("max-conns-per-host",
        kMaxConnectionsPerHost, "max-conns", kMaxConnections, nullptr);
    return session;
}

bool HttpClient::head(const std::string& url, std::chrono::milliseconds timeout,
    HttpStatusCallback callback)
{
    SoupMessage* message = soup_message_new("HEAD", url.c_str());
    if (!message)
        return false;
    // No cache sits on the session; the header keeps caches on the way out of it too.
    soup_message_headers_replace(soup_message_get_request_headers(message), "Cache-Control",
        "no-cache");
    auto* pending = new PendingHead;
    pending->state = m_state;
    pending->cancellable = g_cancellable_new();
    pending->message = message;
    pending->callback = std::move(callback);
    m_state->pending.insert(pending->cancellable);
    auto milliseconds = static_cast<guint>(std::max<long long>(timeout.count(), 0));
    pending->timeoutSource = g_timeout_add(milliseconds, cancelOnTimeout, pending);
    soup_session_send_async(sharedSession(), message, G_PRIORITY_DEFAULT, pending->cancellable,
        finishHead, pending);
    return true;
}

bool HttpClient::get(const std::string& url, std::chrono::milliseconds timeout,
    HttpStreamHandlers handlers)
{
    SoupMessage* message = soup_message_new("GET", url.c_str());
    if (!message)
        return false;
    auto* pending = new PendingGet;
    pending->state = m_state;
    pending->cancellable = g_cancellable_new();
    pending->message = message;
    pending->handlers = std::move(handlers);
    m_state->pending.insert(pending->cancellable);
    auto milliseconds = static_cast<guint>(std::max<long long>(timeout.count(), 0));
    pending->timeoutSource = g_timeout_add(milliseconds, cancelGetOnTimeout, pending);
    soup_session_send_async(sharedSession(), message, G_PRIORITY_DEFAULT, pending->cancellable,
        getSent, pending);
    return true;
}

size_t HttpClient::pendingCount() const { return m_state->pending.size(); }

} // namespace qv
