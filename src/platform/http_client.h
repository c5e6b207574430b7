// HEAD probes and streamed requests on one shared libsoup session, answered on the main thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

typedef struct _SoupSession SoupSession;

namespace qv {

// The HTTP status after redirects, or nothing when no HTTP answer came (bad address, network
// failure, time-out, cancellation).
using HttpStatusCallback = std::function<void(std::optional<int> status)>;

// Stops a streamed request from outside its callbacks, as when the user cancels it: the
// connection is dropped and `finished` reports Stopped, later, on the main context. Stopping a
// request that has ended, or one never started, does nothing.
class HttpStreamStop {
public:
    void stop()
    {
        if (auto act = std::exchange(m_stop, nullptr))
            act();
    }

private:
    friend class HttpClient;
    std::function<void()> m_stop;
};

// A request whose body is read as it arrives.
struct HttpStreamRequest {
    std::string method = "GET";
    std::string url;
    // Set, not appended. Names the transport owns (Host, Content-Length, Transfer-Encoding,
    // Connection) are skipped.
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> body;
    // Given up when nothing arrives for this long, from the start or since the last chunk.
    std::chrono::milliseconds idleTimeout = std::chrono::seconds(60);
    // Given up when the whole transfer takes longer than this, however steadily it arrives.
    std::optional<std::chrono::milliseconds> totalTimeout;
    // The Cookie header for an address, asked again for every address a redirect leads to, so
    // one host's cookies never follow the request to another; "" sends none.
    std::function<std::string(const std::string& url)> cookieHeaderFor;
    // Armed by stream() for this request, when given.
    std::shared_ptr<HttpStreamStop> stopper;
};

struct HttpResponseHead {
    int status = 0;
    std::string finalURL; // after redirects
    std::optional<std::uint64_t> contentLength; // only when the answer announces one
    // Fields as received; repeated names are joined with ", ".
    std::vector<std::pair<std::string, std::string>> headers;
};

struct HttpStreamEnd {
    enum class Kind { Complete, Failed, Stopped };
    Kind kind = Kind::Complete;
    std::string error; // Failed: the transport's description
};

// All run on the main context. Returning false from `response` or `body` stops the transfer
// at once (the connection is dropped, nothing more is read); `finished` then reports Stopped.
struct HttpStreamCallbacks {
    std::function<bool(const HttpResponseHead&)> response;
    std::function<bool(std::string_view chunk)> body;
    std::function<void(const HttpStreamEnd&)> finished;
};

inline constexpr std::string_view kHttpTimedOutMessage = "The request timed out.";

// Requests made through one client; destroying the client cancels what is still in flight,
// and the callbacks of cancelled requests are never called.
class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // The process-wide session on the main context; redirects followed, no cache.
    static SoupSession* sharedSession();

    // Sends a HEAD request that ignores cached data and gives up after `timeout`. Returns false,
    // and never calls back, when the address cannot be made into a request. Otherwise the
    // callback runs exactly once, later, on the main context.
    bool head(
        const std::string& url, std::chrono::milliseconds timeout, HttpStatusCallback callback);

    // Sends the request with no cache and reads the body in chunks of at most 64 KiB, each
    // handed over and let go before the next is read. Returns false, and never calls back, when
    // the request cannot be made (bad address or method). Otherwise `finished` runs exactly
    // once, last, unless the client is destroyed first.
    bool stream(const HttpStreamRequest& request, HttpStreamCallbacks callbacks);

    // Requests started and not yet answered.
    size_t pendingCount() const;

    // What the client shares with its requests in flight.
    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace qv
