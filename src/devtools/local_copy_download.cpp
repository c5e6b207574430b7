// Streaming local-copy downloads: each transfer reads its body in slices and stops at the limits.
#include "devtools/local_copy_download.h"

#include "platform/http_client.h"

#include <glib.h>
#include <libsoup/soup.h>

#include <set>

namespace qv {

namespace {

// Enough to keep a page's files flowing without opening hundreds of connections at once.
constexpr std::size_t kParallelTransfers = 8;

double secondsNow() { return static_cast<double>(g_get_real_time()) / 1e6; }

bool isSuccess(int status) { return status >= 200 && status <= 299; }

// The public suffix list that libsoup carries decides what a site is.
std::optional<std::string> registrableDomain(std::string_view host)
{
    std::string name(host);
    GError* error = nullptr;
    const char* base = soup_tld_get_base_domain(name.c_str(), &error);
    if (error)
        g_error_free(error);
    if (!base)
        return std::nullopt;
    return std::string(base);
}

} // namespace

struct LocalCopyDownloader::State {
    explicit State(const std::vector<SourceResource>& resources)
        : downloads(resources)
    {
    }

    LocalCopyDownloads downloads;
    LocalCopyRequestHeaders headers;
    Progress progress;
    Finished finished;
    // Destroying the client stops every transfer, and none of them calls back after that.
    std::unique_ptr<HttpClient> client = std::make_unique<HttpClient>();
    std::size_t next = 0;
    std::set<std::size_t> active;
    bool started = false;
    bool stopped = false; // cancelled, or finished and handed over
};

namespace {

using State = LocalCopyDownloader::State;

void pump(const std::shared_ptr<State>& state);

void endTransfer(const std::shared_ptr<State>& state, std::size_t index)
{
    state->active.erase(index);
    if (state->stopped)
        return;
    if (state->progress)
        state->progress(state->downloads);
    // The progress callback may have cancelled everything.
    if (!state->stopped)
        pump(state);
}

void startTransfer(const std::shared_ptr<State>& state, std::size_t index)
{
    HttpStreamRequest request;
    request.url = state->downloads.transfers()[index].url;
    if (!state->headers.userAgent.empty())
        request.headers.emplace_back("User-Agent", state->headers.userAgent);
    // Another origin learns the page's origin only, as it would from the page itself.
    if (auto referer = refererFor(request.url, state->headers.referer))
        request.headers.emplace_back("Referer", *referer);
    std::vector<CookieRecord> cookies = state->headers.cookies;
    // Asked again after each redirect: the site is judged for the address actually requested.
    request.cookieHeaderFor = [cookies, page = state->headers.referer](const std::string& url) {
        RequestSite site = requestSite(url, page, registrableDomain);
        return cookieHeaderValue(cookiesForURL(cookies, url, secondsNow(), site));
    };
    request.idleTimeout = std::chrono::seconds(kLocalCopyRequestTimeoutSeconds);
    request.totalTimeout = request.idleTimeout;

    // The state owns the client that holds these callbacks: they must not own the state back.
    std::weak_ptr<State> weak = state;
    auto status = std::make_shared<int>(0);
    HttpStreamCallbacks callbacks;
    callbacks.response = [weak, index, status](const HttpResponseHead& head) {
        auto owner = weak.lock();
        *status = head.status;
        if (owner) {
            for (const auto& [name, value] : head.headers) {
                if (g_ascii_strcasecmp(name.c_str(), "Content-Type") == 0)
                    owner->downloads.noteContentType(index, value);
            }
        }
        if (!owner || isSuccess(head.status))
            return true;
        owner->downloads.finish(index, std::nullopt, head.status);
        return false;
    };
    // Past a limit the accounting records the failure and the connection is dropped.
    callbacks.body = [weak, index](std::string_view chunk) {
        auto owner = weak.lock();
        return owner && owner->downloads.append(index, chunk);
    };
    callbacks.finished = [weak, index, status](const HttpStreamEnd& end) {
        auto owner = weak.lock();
        if (!owner)
            return;
        if (end.kind == HttpStreamEnd::Kind::Complete)
            owner->downloads.finish(index, std::nullopt, *status);
        else if (end.kind == HttpStreamEnd::Kind::Failed)
            owner->downloads.finish(index, end.error, 0);
        endTransfer(owner, index);
    };
    if (!state->client->stream(request, std::move(callbacks))) {
        state->downloads.finish(index, "Download failed", 0);
        return;
    }
    state->active.insert(index);
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
    m_state->client.reset();
    m_state->active.clear();
}

bool LocalCopyDownloader::running() const { return m_state->started && !m_state->stopped; }

std::size_t LocalCopyDownloader::activeTransfers() const { return m_state->active.size(); }

} // namespace qv
