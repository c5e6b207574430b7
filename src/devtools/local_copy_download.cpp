// Streaming local-copy downloads: each transfer reads its body in slices and stops at the limits.
#include "devtools/local_copy_download.h"

#include "platform/network_proxy.h"

#include <libsoup/soup.h>

#include <map>

namespace qv {

namespace {

// Enough to keep a page's files flowing without opening hundreds of connections at once.
constexpr std::size_t kParallelTransfers = 8;
constexpr gsize kReadSlice = 64 * 1024;

struct Transfer;

} // namespace

struct LocalCopyDownloader::State {
    explicit State(const std::vector<SourceResource>& resources)
        : downloads(resources)
    {
    }
    ~State()
    {
        if (session)
            g_object_unref(session);
    }

    LocalCopyDownloads downloads;
    LocalCopyRequestHeaders headers;
    Progress progress;
    Finished finished;
    SoupSession* session = nullptr;
    std::size_t next = 0;
    std::map<std::size_t, Transfer*> active;
    bool started = false;
    bool stopped = false; // cancelled, or finished and handed over
};

namespace {

using State = LocalCopyDownloader::State;

struct Transfer {
    std::shared_ptr<State> state;
    std::size_t index = 0;
    GCancellable* cancellable = nullptr;
    SoupMessage* message = nullptr;
    GInputStream* body = nullptr;
    guint timeoutSource = 0;
    bool timedOut = false;
    int status = 0;
};

double secondsNow() { return static_cast<double>(g_get_real_time()) / 1e6; }

// A redirect must not carry one host's cookies to another: the header follows the new address.
void setCookieHeader(SoupMessage* message, const std::vector<CookieRecord>& cookies)
{
    SoupMessageHeaders* headers = soup_message_get_request_headers(message);
    soup_message_headers_remove(headers, "Cookie");
    char* uri = g_uri_to_string(soup_message_get_uri(message));
    std::string value = cookieHeaderValue(cookiesForURL(cookies, uri ? uri : "", secondsNow()));
    g_free(uri);
    if (!value.empty())
        soup_message_headers_replace(headers, "Cookie", value.c_str());
}

void pump(const std::shared_ptr<State>& state);

void endTransfer(Transfer* transfer)
{
    if (transfer->timeoutSource)
        g_source_remove(transfer->timeoutSource);
    if (transfer->body) {
        g_input_stream_close_async(transfer->body, G_PRIORITY_DEFAULT, nullptr, nullptr, nullptr);
        g_object_unref(transfer->body);
    }
    g_signal_handlers_disconnect_by_data(transfer->message, transfer);
    g_object_unref(transfer->message);
    g_object_unref(transfer->cancellable);
    std::shared_ptr<State> state = std::move(transfer->state);
    state->active.erase(transfer->index);
    delete transfer;
    if (state->stopped)
        return;
    if (state->progress)
        state->progress(state->downloads);
    // The progress callback may have cancelled everything.
    if (!state->stopped)
        pump(state);
}

void finishWithError(Transfer* transfer, GError* error)
{
    if (!transfer->state->stopped) {
        std::string description = transfer->timedOut ? "The request timed out."
            : error && error->message                ? error->message
                                                     : "";
        transfer->state->downloads.finish(transfer->index, description, 0);
    }
    if (error)
        g_error_free(error);
    endTransfer(transfer);
}

void readNext(Transfer* transfer);

void bodyRead(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* transfer = static_cast<Transfer*>(data);
    GError* error = nullptr;
    GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
    if (!bytes) {
        finishWithError(transfer, error);
        return;
    }
    gsize size = 0;
    const auto* chunk = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    State& state = *transfer->state;
    if (state.stopped) {
        g_bytes_unref(bytes);
        endTransfer(transfer);
        return;
    }
    if (size == 0) {
        g_bytes_unref(bytes);
        state.downloads.finish(transfer->index, std::nullopt, transfer->status);
        endTransfer(transfer);
        return;
    }
    bool goOn = state.downloads.append(transfer->index, std::string_view(chunk, size));
    g_bytes_unref(bytes);
    if (!goOn) {
        // Over a limit: drop the connection rather than drain the rest of the body.
        g_cancellable_cancel(transfer->cancellable);
        endTransfer(transfer);
        return;
    }
    readNext(transfer);
}

void readNext(Transfer* transfer)
{
    g_input_stream_read_bytes_async(
        transfer->body, kReadSlice, G_PRIORITY_DEFAULT, transfer->cancellable, bodyRead, transfer);
}

void headersArrived(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* transfer = static_cast<Transfer*>(data);
    GError* error = nullptr;
    transfer->body = soup_session_send_finish(SOUP_SESSION(source), result, &error);
    if (!transfer->body) {
        finishWithError(transfer, error);
        return;
    }
    if (transfer->state->stopped) {
        endTransfer(transfer);
        return;
    }
    transfer->status = static_cast<int>(soup_message_get_status(transfer->message));
    if (transfer->status < 200 || transfer->status > 299) {
        transfer->state->downloads.finish(transfer->index, std::nullopt, transfer->status);
        endTransfer(transfer);
        return;
    }
    readNext(transfer);
}

gboolean transferTimedOut(gpointer data)
{
    auto* transfer = static_cast<Transfer*>(data);
    transfer->timeoutSource = 0;
    transfer->timedOut = true;
    g_cancellable_cancel(transfer->cancellable);
    return G_SOURCE_REMOVE;
}

void messageRestarted(SoupMessage* message, gpointer data)
{
    setCookieHeader(message, static_cast<Transfer*>(data)->state->headers.cookies);
}

void startTransfer(const std::shared_ptr<State>& state, std::size_t index)
{
    const SourceResource& resource = state->downloads.transfers()[index];
    SoupMessage* message = soup_message_new("GET", resource.url.c_str());
    if (!message) {
        state->downloads.finish(index, "Download failed", 0);
        return;
    }
    SoupMessageHeaders* headers = soup_message_get_request_headers(message);
    if (!state->headers.userAgent.empty())
        soup_message_headers_replace(headers, "User-Agent", state->headers.userAgent.c_str());
    if (!state->headers.referer.empty())
        soup_message_headers_replace(headers, "Referer", state->headers.referer.c_str());
    setCookieHeader(message, state->headers.cookies);

    auto* transfer = new Transfer;
    transfer->state = state;
    transfer->index = index;
    transfer->cancellable = g_cancellable_new();
    transfer->message = message;
    transfer->timeoutSource = g_timeout_add_seconds(
        static_cast<guint>(kLocalCopyRequestTimeoutSeconds), transferTimedOut, transfer);
    g_signal_connect(message, "restarted", G_CALLBACK(messageRestarted), transfer);
    state->active[index] = transfer;
    soup_session_send_async(state->session, message, G_PRIORITY_DEFAULT, transfer->cancellable,
        headersArrived, transfer);
}

void pump(const std::shared_ptr<State>& state)
{
    LocalCopyDownloads& downloads = state->downloads;
    while (!state->stopped && state->active.size() < kParallelTransfers
        && state->next < downloads.transfers().size()) {
        std::size_t index = state->next++;
        // Past the 50 MB total a transfer never starts; it completes at once as a failure.
        if (downloads.begin(index))
            startTransfer(state, index);
    }
    if (!state->stopped && state->active.empty() && downloads.allCompleted()) {
        state->stopped = true;
        LocalCopyDownloader::Finished finished = std::move(state->finished);
        state->progress = nullptr;
        if (finished)
            finished(std::move(state->downloads));
    }
}

} // namespace

LocalCopyDownloader::LocalCopyDownloader(const std::vector<SourceResource>& resources,
    LocalCopyRequestHeaders headers, Progress progress, Finished finished)
    : m_state(std::make_shared<State>(resources))
{
    m_state->headers = std::move(headers);
    m_state->progress = std::move(progress);
    m_state->finished = std::move(finished);
    // Its own session: no cookie jar (each request carries the tab's cookies), no cache.
    m_state->session
        = soup_session_new_with_options("max-conns-per-host", static_cast<int>(kParallelTransfers),
            "timeout", static_cast<guint>(kLocalCopyRequestTimeoutSeconds), nullptr);
    applyNetworkProxy(m_state->session);
}

LocalCopyDownloader::~LocalCopyDownloader() { cancel(); }

void LocalCopyDownloader::start()
{
    if (m_state->started)
        return;
    m_state->started = true;
    pump(m_state);
}

void LocalCopyDownloader::cancel()
{
    m_state->stopped = true;
    m_state->progress = nullptr;
    m_state->finished = nullptr;
    for (auto& [index, transfer] : m_state->active)
        g_cancellable_cancel(transfer->cancellable);
}

bool LocalCopyDownloader::running() const { return m_state->started && !m_state->stopped; }

std::size_t LocalCopyDownloader::activeTransfers() const { return m_state->active.size(); }

} // namespace qv
