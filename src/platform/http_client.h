// HEAD requests on one shared libsoup session, answered on the main thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

typedef struct _SoupSession SoupSession;

namespace qv {

// The HTTP status after redirects, or nothing when no HTTP answer came (bad address, network
// failure, time-out, cancellation).
using HttpStatusCallback = std::function<void(std::optional<int> status)>;

// A GET whose body is handed over as it arrives, so the caller can stop it at any byte.
struct HttpStreamHandlers {
    // The status and announced length (nothing when unknown); false cancels now.
    std::function<bool(int status, std::optional<std::uint64_t> contentLength)> response;
    // One piece of the body; false cancels now.
    std::function<bool(std::string_view chunk)> data;
    // Runs exactly once at the end: completed is true only when the whole body arrived.
    std::function<void(bool completed)> done;
};

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
    bool head(const std::string& url, std::chrono::milliseconds timeout,
        HttpStatusCallback callback);

    // Sends a GET and streams its body through the handlers, giving up after `timeout` in
    // all. Returns false, and never calls back, when the address cannot be made into a request.
    bool get(const std::string& url, std::chrono::milliseconds timeout,
        HttpStreamHandlers handlers);

    // Requests started and not yet answered.
    size_t pendingCount() const;

    // What the client shares with its requests in flight.
    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace qv
