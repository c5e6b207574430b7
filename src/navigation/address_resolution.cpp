// Address normalisation, submission decisions and search addresses, without any platform call.
#include "navigation/address_resolution.h"

#include "base/text_util.h"
#include "base/url.h"

#include <cstdint>

namespace qv {

namespace {


bool isAsciiBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Decodes one UTF-8 character at i; length 0 for an invalid sequence.
uint32_t decodeAt(std::string_view s, size_t i, size_t& length)
{
    auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    uint8_t c = byte(i);
    length = 0;
    if (c < 0x80) {
        length = 1;
        return c;
    }
    size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (!len || i + len > s.size())
        return 0;
    uint32_t cp = c & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    length = len;
    return cp;
}

bool isUnicodeWhitespace(uint32_t cp)
{
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680
        || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F
        || cp == 0x205F || cp == 0x3000;
}

bool startsWithHTTPScheme(std::string_view text)
{
    std::string head = toLowerAscii(text.substr(0, 8));
    return startsWith(head, "http://") || startsWith(head, "https://");
}

// After "localhost" only a decimal port; after "[" only an IPv6 literal and an optional port.
bool isLocalhostOrBracketedAuthority(std::string_view authority)
{
    if (authority == "localhost")
        return true;
    if (startsWith(authority, "localhost:")) {
        std::string_view port = authority.substr(10);
        return !port.empty() && isURLPort(port);
    }
    if (startsWith(authority, "[")) {
        size_t close = authority.find(']');
        if (close == std::string_view::npos || !isIPv6Literal(authority.substr(1, close - 1)))
            return false;
        std::string_view rest = authority.substr(close + 1);
        return rest.empty() || (rest[0] == ':' && rest.size() > 1 && isURLPort(rest.substr(1)));
    }
    return false;
}

bool isHostByte(char c)
{
    return isAsciiAlnum(c) || c == '-' || c == '.' || c == ':' || c == '[' || c == ']';
}

// The parsed form of normalizedAddress(text), so callers can look at its parts.
std::optional<URLParts> normalizedParts(std::string_view rawText)
{
    std::string text = trimUnicodeWhitespace(rawText);
    if (text.empty())
        return std::nullopt;
    std::string candidate;
    if (startsWithHTTPScheme(text)) {
        candidate = text;
    } else {
        std::string bytes = utf8FromString(text);
        if (bytes.empty() || bytes.find_first_of(" \t\n\r") != std::string::npos)
            return std::nullopt;
        std::string_view authority = std::string_view(bytes).substr(0, bytes.find_first_of("/?#"));
        if (!isLocalhostOrBracketedAuthority(authority)) {
            if (authority.find('.') == std::string_view::npos)
                return std::nullopt;
            for (char c : authority)
                if (!isHostByte(c))
                    return std::nullopt;
        }
        size_t dots = 0;
        bool digitsAndDots = true;
        for (char c : authority) {
            dots += c == '.';
            digitsAndDots = digitsAndDots && (isAsciiDigit(c) || c == '.');
        }
        bool oneDotName = dots == 1 && !digitsAndDots
            && !startsWith(toLowerAscii(authority.substr(0, 4)), "www.");
        candidate = (oneDotName ? "https://www." : "https://") + bytes;
    }
    auto parts = parseURL(candidate);
    if (!parts || parts->host.empty())
        return std::nullopt;
    if (!parts->isHTTP())
        return std::nullopt;
    return parts;
}

// The folder URL that contains the file or folder at an escaped absolute path.
std::string containingFolderAddress(std::string_view authority, std::string_view path)
{
    std::string_view trimmed = path;
    if (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.remove_suffix(1);
    size_t slash = trimmed.rfind('/');
    std::string_view folder = slash == std::string_view::npos ? "/" : trimmed.substr(0, slash + 1);
    return "file://" + std::string(authority) + std::string(folder);
}

bool isLocalPathText(std::string_view input)
{
    return input == "~" || startsWith(input, "~/") || startsWith(input, "/");
}

std::optional<RequestDecision> localFileDecision(
    const std::string& input, const RequestContext& context)
{
    if (!context.pathKind)
        return std::nullopt;
    RequestDecision decision;
    decision.kind = RequestKind::OpenFile;
    decision.input = input;
    if (startsWith(toLowerAscii(input.substr(0, 7)), "file://")) {
        // Escapes the user already typed stay as they are; only a stray "%" is escaped.
        auto parts
            = parseURL(percentEncode(input, URLComponent::Fragment, ExistingEscapes::Keep));
        if (!parts || parts->lowerScheme() != "file" || !parts->hasAuthority
            || parts->userInfo || parts->port)
            return std::nullopt;
        std::string host = parts->lowerHost();
        if (!host.empty() && host != "localhost")
            return std::nullopt;
        auto path = percentDecode(parts->path);
        if (!path || path->empty() || (*path)[0] != '/' || path->find('\0') != std::string::npos)
            return std::nullopt;
        if (context.pathKind(*path) == PathKind::None)
            return std::nullopt;
        parts->scheme = "file";
        decision.fileAddress = parts->absoluteString();
        decision.readAccessAddress = containingFolderAddress(parts->host, parts->path);
        return decision;
    }
    if (!isLocalPathText(input))
        return std::nullopt;
    std::string path = input;
    if (path[0] == '~') {
        std::string home = context.homeDirectory;
        while (home.size() > 1 && home.back() == '/')
            home.pop_back();
        if (home.empty() || home[0] != '/')
            return std::nullopt;
        path = home == "/" && path.size() > 1 ? path.substr(1) : home + path.substr(1);
    }
    if (path.find('\0') != std::string::npos)
        return std::nullopt;
    PathKind kind = context.pathKind(path);
    if (kind == PathKind::None)
        return std::nullopt;
    std::string escaped = percentEncode(path, URLComponent::Path);
    if (kind == PathKind::Folder && escaped.back() != '/')
        escaped += '/';
    decision.fileAddress = "file://" + escaped;
    decision.readAccessAddress = containingFolderAddress("", escaped);
    return decision;
}

} // namespace

std::string trimUnicodeWhitespace(std::string_view text)
{
    size_t begin = 0;
    while (begin < text.size()) {
        size_t length;
        uint32_t cp = decodeAt(text, begin, length);
        if (!length || !isUnicodeWhitespace(cp))
            break;
        begin += length;
    }
    size_t end = text.size();
    while (end > begin) {
        size_t start = end - 1;
        while (
            start > begin && end - start < 4 && (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80)
            --start;
        size_t length;
        uint32_t cp = decodeAt(text, start, length);
        if (length != end - start || !isUnicodeWhitespace(cp))
            break;
        end = start;
    }
    return std::string(text.substr(begin, end - begin));
}

std::optional<std::string> normalizedAddress(std::string_view text)
{
    auto parts = normalizedParts(text);
    if (!parts)
        return std::nullopt;
    return parts->absoluteString();
}

std::optional<std::string> addressFromRawRequest(std::string_view bytes)
{
    if (bytes.size() < 4 || !(startsWith(bytes, "GET ") || startsWith(bytes, "GET\t")))
        return std::nullopt;
    size_t lineEnd = bytes.find('\n');
    std::string_view requestLine = bytes.substr(0, lineEnd);
    size_t start = requestLine.find_first_not_of(" \t", 3);
    if (start == std::string_view::npos)
        return std::string();
    size_t end = requestLine.find_first_of(" \t\r\n", start);
    std::string_view target = requestLine.substr(
        start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (startsWithHTTPScheme(target) || target[0] != '/')
        return std::string(target);
    if (lineEnd == std::string_view::npos)
        return std::string(target);
    std::string_view headers = bytes.substr(lineEnd + 1);
    while (!headers.empty()) {
        size_t next = headers.find('\n');
        std::string_view line = headers.substr(0, next);
        headers = next == std::string_view::npos ? std::string_view() : headers.substr(next + 1);
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || toLowerAscii(line.substr(0, colon)) != "host")
            continue;
        std::string value = trim(line.substr(colon + 1));
        return value.empty() ? std::string() : "http://" + value + std::string(target);
    }
    return std::string(target);
}

std::string submissionInput(std::string_view fieldText)
{
    std::string bytes = utf8FromString(fieldText);
    if (!bytes.empty() && bytes.back() == '#')
        bytes.pop_back();
    bytes = trim(bytes);
    if (bytes.empty())
        return std::string();
    auto request = addressFromRawRequest(bytes);
    return trimUnicodeWhitespace(request ? *request : bytes);
}

std::vector<std::string> addressCandidates(std::string_view input)
{
    std::vector<std::string> candidates;
    if (input.empty())
        return candidates;
    auto add = [&](std::string candidate) {
        for (const std::string& existing : candidates)
            if (existing == candidate)
                return;
        candidates.push_back(std::move(candidate));
    };
    bool schemeTyped = startsWithHTTPScheme(input);
    auto normalized = normalizedParts(input);
    if (normalized)
        add(normalized->absoluteString());
    if (!schemeTyped) {
        // Text typed without a scheme names a host, never credentials for another one.
        for (std::string_view prefix : { "https://", "https://www." }) {
            std::string candidate = std::string(prefix) + std::string(input);
            auto parts = normalizedParts(candidate);
            if (parts && !parts->userInfo)
                add(candidate);
        }
    } else if (normalized) {
        URLParts parts = *normalized;
        if (!parts.host.empty() && !startsWith(toLowerAscii(parts.host.substr(0, 4)), "www.")
            && parts.host.find(':') == std::string::npos) {
            parts.host = "www." + parts.host;
            if (parseURL(parts.absoluteString()))
                add(parts.absoluteString());
        }
    }
    bool bareWord = !input.empty();
    for (char c : input)
        bareWord = bareWord && (isAsciiAlnum(c) || c == '-');
    if (bareWord) {
        for (std::string_view domain : kBareWordDomains)
            add("https://www." + std::string(input) + "." + std::string(domain));
    }
    return candidates;
}

RequestDecision decideRequest(std::string_view fieldText, const RequestContext& context)
{
    RequestDecision decision;
    decision.input = submissionInput(fieldText);
    if (decision.input.empty())
        return decision;
    if (context.origin == SubmitOrigin::User) {
        if (auto file = localFileDecision(decision.input, context))
            return *file;
    }
    for (char c : decision.input) {
        if (static_cast<uint8_t>(c) >= 0x80 || isAsciiBlank(c)) {
            decision.kind = RequestKind::Search;
            return decision;
        }
    }
    decision.candidates = addressCandidates(decision.input);
    decision.kind = decision.candidates.empty() ? RequestKind::Search : RequestKind::Probe;
    return decision;
}

bool isAnsweringStatus(int status)
{
    return status >= 200 && status <= 499 && status != 404 && status != 410;
}

SettledProbe settledProbe(const std::vector<ProbeAnswer>& answers)
{
    for (size_t i = 0; i < answers.size(); ++i) {
        if (!answers[i].finished)
            return {};
        if (answers[i].status && isAnsweringStatus(*answers[i].status))
            return { ProbeSettlement::Winner, i };
    }
    return { ProbeSettlement::NoWinner, 0 };
}

std::string_view searchEngineHost(std::string_view engine)
{
    if (engine == "Bing")
        return "www.bing.com";
    if (engine == "DuckDuckGo")
        return "duckduckgo.com";
    if (engine == "Yahoo")
        return "search.yahoo.com";
    if (engine == "Brave")
        return "search.brave.com";
    return "www.google.com";
}

std::string searchURLForProfile(std::string_view query, const BrowserProfile* profile)
{
    std::string_view engine = profile ? std::string_view(profile->searchEngine) : "Google";
    std::string_view path = engine == "DuckDuckGo" ? "/" : "/search";
    std::string_view key = engine == "Yahoo" ? "p" : "q";
    return "https://" + std::string(searchEngineHost(engine)) + std::string(path) + "?"
        + std::string(key) + "="
        + percentEncode(sanitizeUtf8(query), URLComponent::SearchQuery);
}

std::string homePageURLForProfile(const BrowserProfile* profile)
{
    return searchURLForProfile("", profile);
}

std::string homePageURLForProfile(const std::vector<BrowserProfile>& profiles, std::string_view id)
{
    return homePageURLForProfile(profileForID(profiles, id.empty() ? kBuiltInProfileID : id));
}

} // namespace qv
