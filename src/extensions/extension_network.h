// Argument checks and reply shapes of the bridge's "network.fetch" and "download.save".
#pragma once

#include "base/json_text.h"
#include "base/result.h"
#include "extensions/bridge_reply.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qv {

inline constexpr std::size_t kMaxExtensionFetchBodyBytes = 4194304;

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

std::string base64Encode(std::string_view bytes);

// A checked "download.save": the address and the name the save panel proposes (last path
// component of `suggestedName`, else of the address's path, else "download").
struct ExtensionDownloadRequest {
    std::string url;
    std::string proposedName;
};

// Failure: "Download URL must use HTTP or HTTPS.".
Result<ExtensionDownloadRequest> extensionDownloadRequest(const Json& args);

// The save reply {url: the saved file's path, bytes}.
BridgeReply extensionDownloadReply(const std::string& savedPath, unsigned long long bytes);

} // namespace qv
