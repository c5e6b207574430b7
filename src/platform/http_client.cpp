// HEAD probes and streamed requests on the shared libsoup session; every answer comes back on
// the main context.
#include "platform/http_client.h"

#include "platform/network_proxy.h"

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

constexpr gsize kStreamChunkBytes = 65536;

bool isTransportHeader(const std::string& name)
{
    static const char* const kNames[]
        = { "Host", "Content-Length", "Transfer-Encoding", "Connection" };
    for (const char* owned : kNames)
        if (g_ascii_strcasecmp(name.c_str(), owned) == 0)
            return true;
    return false;
}

struct PendingStream {
    std::shared_ptr<HttpClient::State> state;
    GCancellable* cancellable = nullptr;
    SoupMessage* message = nullptr;
    GInputStream* body = nullptr;
    guint timeoutSource = 0;
    guint totalTimeoutSource = 0;
    guint idleMilliseconds = 0;
    bool timedOut = false;
    // Set when the request's owner stopped it through its HttpStreamStop.
    std::shared_ptr<bool> stoppedByOwner = std::make_shared<bool>(false);
    HttpStreamCallbacks callbacks;
    std::function<std::string(const std::string& url)> cookieHeaderFor;

    ~PendingStream()
    {
        if (timeoutSource)
            g_source_remove(timeoutSource);
        if (totalTimeoutSource)
            g_source_remove(totalTimeoutSource);
        g_signal_handlers_disconnect_by_data(message, this);
        if (body) {
            // Closing an unfinished body could read the rest of it; the cancelled
            // cancellable has already dropped the connection, so this returns at once.
            g_input_stream_close_async(body, G_PRIORITY_DEFAULT, cancellable, nullptr, nullptr);
            g_object_unref(body);
        }
        g_object_unref(message);
        state->pending.erase(cancellable);
        g_object_unref(cancellable);
    }
};

gboolean cancelStreamOnTimeout(gpointer data)
{
    auto* pending = static_cast<PendingStream*>(data);
    pending->timeoutSource = 0;
    pending->timedOut = true;
    g_cancellable_cancel(pending->cancellable);
    return G_SOURCE_REMOVE;
}

gboolean cancelStreamOnTotalTimeout(gpointer data)
{
    auto* pending = static_cast<PendingStream*>(data);
    pending->totalTimeoutSource = 0;
    pending->timedOut = true;
    g_cancellable_cancel(pending->cancellable);
    return G_SOURCE_REMOVE;
}

// The Cookie header belongs to the address the message is going to now.
void setCookieHeader(SoupMessage* message, const PendingStream& pending)
{
    SoupMessageHeaders* headers = soup_message_get_request_headers(message);
    soup_message_headers_remove(headers, "Cookie");
    char* uri = g_uri_to_string(soup_message_get_uri(message));
    std::string value = pending.cookieHeaderFor(uri ? uri : "");
    g_free(uri);
    if (!value.empty())
        soup_message_headers_replace(headers, "Cookie", value.c_str());
}

void restartIdleTimer(PendingStream& pending)
{
    if (pending.timeoutSource)
        g_source_remove(pending.timeoutSource);
    pending.timeoutSource
        = g_timeout_add(pending.idleMilliseconds, cancelStreamOnTimeout, &pending);
}

// Ends the request: delivers `end` unless the client is gone, then frees everything.
void endStream(std::unique_ptr<PendingStream> pending, HttpStreamEnd end)
{
    if (end.kind != HttpStreamEnd::Kind::Complete)
        g_cancellable_cancel(pending->cancellable);
    auto finished = std::move(pending->callbacks.finished);
    bool deliver = pending->state->alive;
    pending.reset();
    if (deliver && finished)
        finished(end);
}

void failStream(std::unique_ptr<PendingStream> pending, GError* error)
{
    HttpStreamEnd end { HttpStreamEnd::Kind::Failed, {} };
    if (*pending->stoppedByOwner)
        end.kind = HttpStreamEnd::Kind::Stopped;
    else if (pending->timedOut)
        end.error = std::string(kHttpTimedOutMessage);
    else if (error && error->message)
        end.error = error->message;
    if (error)
        g_error_free(error);
    endStream(std::move(pending), std::move(end));
}

void readNextChunk(std::unique_ptr<PendingStream> pending);

void finishChunk(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<PendingStream> pending(static_cast<PendingStream*>(data));
    GError* error = nullptr;
    GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
    if (!bytes) {
        failStream(std::move(pending), error);
        return;
    }
    gsize size = 0;
    const void* chunk = g_bytes_get_data(bytes, &size);
    if (size == 0) {
        g_bytes_unref(bytes);
        endStream(std::move(pending), { HttpStreamEnd::Kind::Complete, {} });
        return;
    }
    bool more = pending->state->alive
        && (!pending->callbacks.body
            || pending->callbacks.body(std::string_view(static_cast<const char*>(chunk), size)));
    g_bytes_unref(bytes);
    if (!more) {
        endStream(std::move(pending), { HttpStreamEnd::Kind::Stopped, {} });
        return;
    }
    restartIdleTimer(*pending);
    readNextChunk(std::move(pending));
}

void readNextChunk(std::unique_ptr<PendingStream> pending)
{
    PendingStream* raw = pending.release();
    g_input_stream_read_bytes_async(
        raw->body, kStreamChunkBytes, G_PRIORITY_DEFAULT, raw->cancellable, finishChunk, raw);
}

HttpResponseHead responseHead(SoupMessage* message)
{
    HttpResponseHead head;
    head.status = static_cast<int>(soup_message_get_status(message));
    if (GUri* uri = soup_message_get_uri(message)) {
        char* text = g_uri_to_string(uri);
        head.finalURL = text ? text : "";
        g_free(text);
    }
    SoupMessageHeaders* headers = soup_message_get_response_headers(message);
    if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH)
        head.contentLength
            = static_cast<std::uint64_t>(soup_message_headers_get_content_length(headers));
    soup_message_headers_foreach(
        headers,
        [](const char* name, const char* value, gpointer data) {
            auto* fields = static_cast<std::vector<std::pair<std::string, std::string>>*>(data);
            for (auto& field : *fields) {
                if (g_ascii_strcasecmp(field.first.c_str(), name) == 0) {
                    field.second += ", ";
                    field.second += value;
                    return;
                }
            }
            fields->emplace_back(name, value);
        },
        &head.headers);
    return head;
}

void finishStreamSend(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<PendingStream> pending(static_cast<PendingStream*>(data));
    GError* error = nullptr;
    pending->body = soup_session_send_finish(SOUP_SESSION(source), result, &error);
    if (!pending->body) {
        failStream(std::move(pending), error);
        return;
    }
    if (error)
        g_error_free(error);
    if (!pending->state->alive) {
        endStream(std::move(pending), { HttpStreamEnd::Kind::Stopped, {} });
        return;
    }
    HttpResponseHead head = responseHead(pending->message);
    if (pending->callbacks.response && !pending->callbacks.response(head)) {
        endStream(std::move(pending), { HttpStreamEnd::Kind::Stopped, {} });
        return;
    }
    restartIdleTimer(*pending);
    readNextChunk(std::move(pending));
}

} // namespace

HttpClient::HttpClient()
    : m_state(std::make_shared<State>())
{
}

HttpClient::~HttpClient()
{
    m_state->alive = false;
    // Cancelling can finish a request at once, which takes it out of the set and lets go of
    // its cancellable; walk a held copy.
    std::vector<GCancellable*> pending(m_state->pending.begin(), m_state->pending.end());
    for (GCancellable* cancellable : pending)
        g_object_ref(cancellable);
    for (GCancellable* cancellable : pending) {
        g_cancellable_cancel(cancellable);
        g_object_unref(cancellable);
    }
}

SoupSession* HttpClient::sharedSession()
{
    static SoupSession* session = [] {
        SoupSession* made = soup_session_new_with_options("max-conns-per-host",
            kMaxConnectionsPerHost, "max-conns", kMaxConnections, nullptr);
        applyNetworkProxy(made);
        return made;
    }();
    return session;
}

bool HttpClient::head(
    const std::string& url, std::chrono::milliseconds timeout, HttpStatusCallback callback)
{
    SoupMessage* message = soup_message_new("HEAD", url.c_str());
    if (!message)
        return false;
    // No cache sits on the session; the header keeps caches on the way out of it too.
    soup_message_headers_replace(
        soup_message_get_request_headers(message), "Cache-Control", "no-cache");
    auto* pending = new PendingHead;
    pending->state = m_state;
    pending->cancellable = g_cancellable_new();
    pending->message = message;
    pending->callback = std::move(callback);
    m_state->pending.insert(pending->cancellable);
    auto milliseconds = static_cast<guint>(std::max<long long>(timeout.count(), 0));
    pending->timeoutSource = g_timeout_add(milliseconds, cancelOnTimeout, pending);
    soup_session_send_async(
        sharedSession(), message, G_PRIORITY_DEFAULT, pending->cancellable, finishHead, pending);
    return true;
}

bool HttpClient::stream(const HttpStreamRequest& request, HttpStreamCallbacks callbacks)
{
    if (request.method.empty())
        return false;
    SoupMessage* message = soup_message_new(request.method.c_str(), request.url.c_str());
    if (!message)
        return false;
    if (request.body) {
        GBytes* body = g_bytes_new(request.body->data(), request.body->size());
        soup_message_set_request_body_from_bytes(message, nullptr, body);
        g_bytes_unref(body);
    }
    SoupMessageHeaders* headers = soup_message_get_request_headers(message);
    soup_message_headers_replace(headers, "Cache-Control", "no-cache");
    for (const auto& [name, value] : request.headers) {
        if (!isTransportHeader(name))
            soup_message_headers_replace(headers, name.c_str(), value.c_str());
    }
    auto* pending = new PendingStream;
    pending->state = m_state;
    pending->cancellable = g_cancellable_new();
    pending->message = message;
    pending->callbacks = std::move(callbacks);
    pending->idleMilliseconds
        = static_cast<guint>(std::max<long long>(request.idleTimeout.count(), 1));
    if (request.cookieHeaderFor) {
        pending->cookieHeaderFor = request.cookieHeaderFor;
        setCookieHeader(message, *pending);
        g_signal_connect(message, "restarted",
            G_CALLBACK(+[](SoupMessage* restarted, gpointer data) {
                setCookieHeader(restarted, *static_cast<PendingStream*>(data));
            }),
            pending);
    }
    if (request.totalTimeout)
        pending->totalTimeoutSource = g_timeout_add(
            static_cast<guint>(std::max<long long>(request.totalTimeout->count(), 1)),
            cancelStreamOnTotalTimeout, pending);
    m_state->pending.insert(pending->cancellable);
    if (request.stopper) {
        // The cancellable is held by the stopper too: the request may be long gone when it stops.
        std::shared_ptr<GCancellable> cancellable(
            G_CANCELLABLE(g_object_ref(pending->cancellable)), g_object_unref);
        request.stopper->m_stop = [cancellable, stopped = pending->stoppedByOwner] {
            *stopped = true;
            g_cancellable_cancel(cancellable.get());
        };
    }
    restartIdleTimer(*pending);
    soup_session_send_async(sharedSession(), message, G_PRIORITY_DEFAULT, pending->cancellable,
        finishStreamSend, pending);
    return true;
}

size_t HttpClient::pendingCount() const { return m_state->pending.size(); }

} // namespace qv
