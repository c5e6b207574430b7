// HEAD requests on the shared libsoup session; every answer comes back on the main context.
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
    static SoupSession* session = [] {
        SoupSession* made = soup_session_new_with_options("max-conns-per-host",
            kMaxConnectionsPerHost, "max-conns", kMaxConnections, nullptr);
        applyNetworkProxy(made);
        return made;
    }();
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

size_t HttpClient::pendingCount() const { return m_state->pending.size(); }

} // namespace qv
