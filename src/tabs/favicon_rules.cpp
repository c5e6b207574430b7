// Icon addresses, inline icon decoding and the download limit.
#include "tabs/favicon_rules.h"

#include "base/text_util.h"
#include "navigation/address_resolution.h"

namespace qv {

namespace {

    std::string authorityHost(const URLParts& parts)
    {
        return parts.hostIsIPv6 ? "[" + parts.host + "]" : parts.host;
    }

    bool isHTTPScheme(std::string_view scheme)
    {
        std::string lower = toLowerAscii(scheme);
        return lower == "http" || lower == "https";
    }

    int base64Value(char c)
    {
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= 'a' && c <= 'z')
            return c - 'a' + 26;
        if (c >= '0' && c <= '9')
            return c - '0' + 52;
        if (c == '+')
            return 62;
        if (c == '/')
            return 63;
        return -1;
    }

} // namespace

std::optional<std::string> faviconPageHost(std::string_view address)
{
    auto parts = parseURL(address);
    if (!parts || parts->host.empty())
        return std::nullopt;
    return parts->host;
}

std::optional<std::string> faviconFallbackAddress(std::string_view pageAddress)
{
    auto parts = parseURL(pageAddress);
    if (!parts || parts->host.empty() || !isHTTPScheme(parts->scheme))
        return std::nullopt;
    // User information stays out: the icon request should not carry the page's credentials.
    std::string address = parts->scheme + "://" + authorityHost(*parts);
    if (parts->port && !parts->port->empty())
        address += ":" + *parts->port;
    return address + "/favicon.ico";
}

std::string decodeBase64Lenient(std::string_view text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3);
    unsigned buffer = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=')
            break;
        int value = base64Value(c);
        if (value < 0)
            continue;
        buffer = (buffer << 6) | static_cast<unsigned>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return out;
}

FaviconSource faviconSourceFor(std::string_view scriptResult)
{
    FaviconSource source;
    if (startsWith(scriptResult, "data:image/")) {
        size_t comma = scriptResult.find(',');
        if (comma == std::string_view::npos)
            return source;
        std::string_view header = scriptResult.substr(0, comma);
        std::string_view payload = scriptResult.substr(comma + 1);
        if (payload.size() > kMaxFaviconDataCharacters)
            return source;
        std::string bytes;
        if (header.find(";base64") != std::string_view::npos) {
            bytes = decodeBase64Lenient(payload);
        } else {
            auto decoded = decodePercentEscapes(payload);
            if (!decoded)
                return source;
            bytes = std::move(*decoded);
        }
        if (bytes.empty())
            return source;
        source.kind = FaviconSource::Kind::Inline;
        source.bytes = std::move(bytes);
        return source;
    }
    auto parts = parseURL(scriptResult);
    if (!parts || parts->host.empty() || !isHTTPScheme(parts->scheme))
        return source;
    source.kind = FaviconSource::Kind::Network;
    source.address = std::string(scriptResult);
    return source;
}

bool isAcceptableFaviconStatus(int status) { return status >= 200 && status <= 399; }

bool FaviconDownload::receiveResponse(
    std::optional<int> httpStatus, std::optional<std::uint64_t> contentLength)
{
    if (m_failed)
        return false;
    if ((httpStatus && !isAcceptableFaviconStatus(*httpStatus))
        || (contentLength && *contentLength > m_limit)) {
        m_failed = true;
        m_data.clear();
    }
    return !m_failed;
}

bool FaviconDownload::receiveData(std::string_view chunk)
{
    if (m_failed)
        return false;
    if (chunk.size() > m_limit - m_data.size()) {
        m_failed = true;
        m_data.clear();
        m_data.shrink_to_fit();
        return false;
    }
    m_data.append(chunk);
    return true;
}

std::optional<std::string> FaviconDownload::finish()
{
    if (m_failed || m_data.empty())
        return std::nullopt;
    return std::move(m_data);
}

} // namespace qv
