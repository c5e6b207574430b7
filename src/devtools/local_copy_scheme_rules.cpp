// Addresses, request checks, types and marked folders of the served local copy.
#include "devtools/local_copy_scheme_rules.h"

#include "base/text_util.h"
#include "base/url.h"

#include <array>
#include <utility>

namespace qv {

namespace fs = std::filesystem;

namespace {

// A name the copy may have written: what the handler opens one component at a time.
bool isServedName(std::string_view name)
{
    return !name.empty() && name.front() != '.'
        && name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

} // namespace

bool isLocalCopyToken(std::string_view token)
{
    if (token.size() != kLocalCopyTokenLength)
        return false;
    for (char c : token) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

std::string localCopySchemeURL(std::string_view token, const std::vector<std::string>& names)
{
    std::string url = std::string(kLocalCopyScheme) + "://" + std::string(token);
    for (const std::string& name : names)
        url += "/" + percentEncode(name, URLComponent::LinkSegment);
    return url;
}

std::optional<LocalCopyRequest> parseLocalCopyRequest(std::string_view uri)
{
    auto parts = parseURL(uri, URLSyntax::Loose);
    if (!parts || parts->lowerScheme() != kLocalCopyScheme || !parts->hasAuthority
        || parts->userInfo || parts->port || !isLocalCopyToken(parts->host)
        || !startsWith(parts->path, "/"))
        return std::nullopt;
    LocalCopyRequest request { parts->host, {} };
    // Split before decoding, so an encoded "/" stays inside its name and refuses it.
    std::string_view path = std::string_view(parts->path).substr(1);
    while (true) {
        std::size_t slash = path.find('/');
        auto name = percentDecode(path.substr(0, slash));
        if (!name || !isServedName(*name))
            return std::nullopt;
        request.names.push_back(std::move(*name));
        if (slash == std::string_view::npos)
            break;
        path = path.substr(slash + 1);
    }
    return request;
}

std::string_view localCopyMimeType(std::string_view name)
{
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 24> kTypes { {
        { "html", "text/html" },
        { "htm", "text/html" },
        { "xhtml", "application/xhtml+xml" },
        { "css", "text/css" },
        { "js", "text/javascript" },
        { "mjs", "text/javascript" },
        { "json", "application/json" },
        { "map", "application/json" },
        { "txt", "text/plain" },
        { "xml", "application/xml" },
        { "svg", "image/svg+xml" },
        { "png", "image/png" },
        { "jpg", "image/jpeg" },
        { "jpeg", "image/jpeg" },
        { "gif", "image/gif" },
        { "webp", "image/webp" },
        { "avif", "image/avif" },
        { "ico", "image/x-icon" },
        { "bmp", "image/bmp" },
        { "woff", "font/woff" },
        { "woff2", "font/woff2" },
        { "ttf", "font/ttf" },
        { "otf", "font/otf" },
        { "wasm", "application/wasm" },
    } };
    std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0) {
        std::string extension = toLowerAscii(name.substr(dot + 1));
        for (const auto& [known, type] : kTypes) {
            if (extension == known)
                return type;
        }
    }
    return "application/octet-stream";
}

std::optional<LocalCopyLocation> localCopyLocation(
    const fs::path& file, const std::function<bool(const fs::path&)>& isMarkedRoot)
{
    if (!file.is_absolute())
        return std::nullopt;
    fs::path folder = file.lexically_normal().parent_path();
    for (std::size_t depth = 0; depth < kMaxLocalCopyMarkDepth; ++depth) {
        if (isMarkedRoot(folder)) {
            LocalCopyLocation location { folder, {} };
            for (const fs::path& name : file.lexically_normal().lexically_relative(folder)) {
                if (!isServedName(name.string()))
                    return std::nullopt;
                location.names.push_back(name.string());
            }
            if (location.names.empty())
                return std::nullopt;
            return location;
        }
        if (folder == folder.root_path())
            break;
        folder = folder.parent_path();
    }
    return std::nullopt;
}

} // namespace qv
