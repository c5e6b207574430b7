// Network and download argument checks, and their replies.
#include "extensions/extension_network.h"

#include "base/text_util.h"
#include "base/url.h"

#include <algorithm>
#include <array>

namespace qv {

namespace {

bool hasLineBreakOrNul(const std::string& text)
{
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

std::string upperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

} // namespace

Result<ExtensionFetchRequest> extensionFetchRequest(const Json& args)
{
    using R = Result<ExtensionFetchRequest>;
    std::string url = jsonString(args, "url");
    if (!isHTTPURLWithHost(url))
        return R::failure("Network URL must use HTTP or HTTPS.");
    ExtensionFetchRequest request;
    request.url = url;
    Json options = args.is_object() && args.contains("options") && args["options"].is_object()
        ? args["options"]
        : Json::object();
    auto method = options.find("method");
    if (method != options.end() && method->is_string())
        request.method = upperAscii(method->get<std::string>());
    static const std::array<std::string_view, 6> kMethods
        = { "GET", "POST", "PUT", "PATCH", "DELETE", "HEAD" };
    if (std::find(kMethods.begin(), kMethods.end(), request.method) == kMethods.end())
        return R::failure("Unsupported HTTP method.");
    auto headers = options.find("headers");
    if (headers != options.end() && headers->is_object()) {
        for (const auto& [name, value] : headers->items()) {
            if (!value.is_string() || name.empty())
                continue;
            std::string text = value.get<std::string>();
            if (hasLineBreakOrNul(name) || hasLineBreakOrNul(text))
                continue;
            // Compared once, lowered; a lambda may not capture a structured binding in clang 14.
            const std::string lowered = toLowerAscii(name);
            auto same = std::find_if(
                request.headers.begin(), request.headers.end(), [&](const auto& header) {
                    return toLowerAscii(header.first) == lowered;
                });
            if (same != request.headers.end())
                same->second = text;
            else
                request.headers.emplace_back(name, text);
        }
    }
    auto body = options.find("body");
    if (body != options.end() && body->is_string())
        request.body = body->get<std::string>();
    return request;
}

BridgeReply extensionFetchReply(
    const ExtensionFetchRequest& request, const ExtensionFetchResponse& response)
{
    if (response.body.size() > kMaxExtensionFetchBodyBytes)
        return BridgeReply::failure(std::string(kFetchLimitMessage));
    bool text = isValidUtf8(response.body);
    return BridgeReply::success(Json {
        { "url", response.finalURL.empty() ? request.url : response.finalURL },
        { "status", response.status },
        { "ok", response.status >= 200 && response.status <= 299 },
        { "headers", response.headers.is_object() ? response.headers : Json::object() },
        { "body", text ? response.body : base64Encode(response.body) },
        { "bodyIsBase64", !text },
    });
}

ExtensionFetchAccumulator::ExtensionFetchAccumulator(
    ExtensionFetchRequest request, std::size_t limit)
    : m_request(std::move(request))
    , m_limit(limit)
{
}

void ExtensionFetchAccumulator::stop()
{
    m_exceeded = true;
    std::string().swap(m_body);
}

bool ExtensionFetchAccumulator::receiveResponse(
    int status, std::optional<std::uint64_t> contentLength)
{
    m_status = status;
    if (m_exceeded)
        return false;
    bool bodiless = m_request.method == "HEAD" || status == 204 || status == 304;
    if (!bodiless && contentLength && *contentLength > m_limit) {
        stop();
        return false;
    }
    return true;
}

bool ExtensionFetchAccumulator::receiveBody(std::string_view chunk)
{
    if (m_exceeded)
        return false;
    if (chunk.size() > m_limit - m_body.size()) {
        stop();
        return false;
    }
    m_body.append(chunk);
    return true;
}

BridgeReply ExtensionFetchAccumulator::finish(std::string finalURL, Json headers)
{
    if (m_exceeded)
        return BridgeReply::failure(std::string(kFetchLimitMessage));
    ExtensionFetchResponse response;
    response.finalURL = std::move(finalURL);
    response.status = m_status;
    response.headers = std::move(headers);
    response.body = std::move(m_body);
    m_body.clear();
    return extensionFetchReply(m_request, response);
}

BridgeReply ExtensionFetchAccumulator::fail(std::string_view description) const
{
    if (m_exceeded)
        return BridgeReply::failure(std::string(kFetchLimitMessage));
    return BridgeReply::failure(
        description.empty() ? std::string(kFetchFailedMessage) : std::string(description));
}

Result<ExtensionDownloadRequest> extensionDownloadRequest(const Json& args)
{
    std::string url = jsonString(args, "url");
    auto parsed = parseURL(url, URLSyntax::Loose);
    if (!parsed || !parsed->isHTTP() || parsed->host.empty())
        return Result<ExtensionDownloadRequest>::failure("Download URL must use HTTP or HTTPS.");
    ExtensionDownloadRequest request;
    request.url = url;
    auto suggested = args.find("suggestedName");
    if (suggested != args.end() && suggested->is_string())
        request.proposedName = lastPathComponent(suggested->get<std::string>());
    else
        request.proposedName
            = lastPathComponent(*percentDecode(parsed->path, MalformedEscapes::Keep));
    if (request.proposedName.empty())
        request.proposedName = "download";
    return request;
}

bool ExtensionDownloadMeter::receiveResponse(std::optional<std::uint64_t> contentLength)
{
    if (contentLength && *contentLength > m_limit)
        m_exceeded = true;
    return !m_exceeded;
}

bool ExtensionDownloadMeter::receiveBody(std::size_t bytes)
{
    if (m_exceeded || bytes > m_limit - m_received) {
        m_exceeded = true;
        return false;
    }
    m_received += bytes;
    return true;
}

BridgeReply extensionDownloadFailureReply(std::string_view description, std::string_view fallback)
{
    return BridgeReply::failure(std::string(description.empty() ? fallback : description));
}

BridgeReply extensionDownloadReply(const std::string& savedPath, unsigned long long bytes)
{
    return BridgeReply::success(Json { { "url", savedPath }, { "bytes", bytes } });
}

} // namespace qv
