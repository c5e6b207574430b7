// Argument checks and reply shapes of the bridge's "network.fetch" and "download.save".
#pragma once

#include "base/json_text.h"
#include "base/result.h"
#include "base/text_util.h"
#include "extensions/bridge_reply.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv {

inline constexpr std::size_t kMaxExtensionFetchBodyBytes = 4194304;
// What "download.save" may write: the same bound as a fetch's body.
inline constexpr std::size_t kMaxExtensionDownloadBytes = kMaxExtensionFetchBodyBytes;
// Every extension request, fetch or download, gives up after this long in all, and after this
// long with nothing arriving; either way the reply is the transport's "The request timed out.".
inline constexpr std::chrono::seconds kExtensionRequestTimeout { 30 };

// A checked "network.fetch": http(s) URL with a host, an upper-case method from the list,
// headers whose name and value are strings (set, not appended: a later name replaces an
// earlier one regardless of case; names or values holding CR, LF or NUL are dropped), and the
// body when it is a string. Send with no cache and a 30-second time-out.
struct ExtensionFetchRequest {
    std::string url;
    std::string method = "GET";
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> body;
};

// Failures: "Network URL must use HTTP or HTTPS.", "Unsupported HTTP method.".
Result<ExtensionFetchRequest> extensionFetchRequest(const Json& args);

// What came back from a finished fetch.
struct ExtensionFetchResponse {
    std::string finalURL; // after redirects; empty: the requested address is reported
    int status = 0; // 0 when the response is not HTTP
    Json headers = Json::object();
    std::string body;
};

// The success reply {url, status, ok, headers, body, bodyIsBase64}, or "Response exceeds the
// 4 MB limit." past kMaxExtensionFetchBodyBytes. A transport error is replied by the host with
// its description, or "Network request failed.".
BridgeReply extensionFetchReply(
    const ExtensionFetchRequest& request, const ExtensionFetchResponse& response);


inline constexpr std::string_view kFetchLimitMessage = "Response exceeds the 4 MB limit.";
inline constexpr std::string_view kFetchFailedMessage = "Network request failed.";

// The body of one fetch as it streams in, never holding more than the limit: it stops as soon
// as the announced length or the bytes received pass it, drops what it held, and from then on
// every reply is the limit failure. Feed it from the transport's callbacks and reply through it.
class ExtensionFetchAccumulator {
public:
    explicit ExtensionFetchAccumulator(
        ExtensionFetchRequest request, std::size_t limit = kMaxExtensionFetchBodyBytes);

    // The response head. A Content-Length past the limit gives false: cancel the transfer. HEAD
    // requests and 204 and 304 answers announce a length without sending a body, so theirs is
    // not counted.
    bool receiveResponse(int status, std::optional<std::uint64_t> contentLength);
    // A chunk of the body; false once the limit is passed: cancel the transfer.
    bool receiveBody(std::string_view chunk);

    bool exceeded() const { return m_exceeded; }
    std::size_t receivedBytes() const { return m_body.size(); }
    const ExtensionFetchRequest& request() const { return m_request; }

    // The reply once the body has ended.
    BridgeReply finish(std::string finalURL, Json headers);
    // The reply after a transport error; the limit failure when the transfer was cancelled for
    // passing the limit.
    BridgeReply fail(std::string_view description) const;

private:
    void stop();

    ExtensionFetchRequest m_request;
    std::size_t m_limit;
    int m_status = 0;
    std::string m_body;
    bool m_exceeded = false;
};

// A checked "download.save": the address and the name the save panel proposes (last path
// component of `suggestedName`, else of the address's path, else "download").
struct ExtensionDownloadRequest {
    std::string url;
    std::string proposedName;
};

// Failure: "Download URL must use HTTP or HTTPS.".
Result<ExtensionDownloadRequest> extensionDownloadRequest(const Json& args);

inline constexpr std::string_view kDownloadNoWindowMessage = "Browser window is no longer open.";
inline constexpr std::string_view kDownloadCancelledMessage = "Download was cancelled.";
inline constexpr std::string_view kDownloadFailedMessage = "Download failed.";
inline constexpr std::string_view kDownloadNotSavedMessage = "Could not save download.";

inline constexpr std::string_view kDownloadLimitMessage = "Download exceeds the 4 MB limit.";

// Counts a download's body against its limit as it streams in: it stops as soon as the
// announced length or the bytes received pass the limit (exactly the limit is accepted).
class ExtensionDownloadMeter {
public:
    explicit ExtensionDownloadMeter(std::uint64_t limit = kMaxExtensionDownloadBytes)
        : m_limit(limit)
    {
    }
    // The response head; false: cancel the transfer.
    bool receiveResponse(std::optional<std::uint64_t> contentLength);
    // A chunk of `bytes`; false: cancel the transfer without writing it.
    bool receiveBody(std::size_t bytes);
    bool exceeded() const { return m_exceeded; }

private:
    std::uint64_t m_limit;
    std::uint64_t m_received = 0;
    bool m_exceeded = false;
};

// The failure reply of a download or of saving it: the description, else the fallback.
BridgeReply extensionDownloadFailureReply(std::string_view description, std::string_view fallback);

// The save reply {url: the saved file's path, bytes}. Write the body through a FileReplacement
// (downloads/download_files.h) in the chosen folder so the file being replaced survives any
// failure.
BridgeReply extensionDownloadReply(const std::string& savedPath, unsigned long long bytes);

} // namespace qv
