// The little URL handling the extension system needs: http(s) checks and file URLs.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

struct ParsedURL {
    std::string scheme; // lower-cased
    std::string host; // without brackets for an IPv6 literal
    std::string path; // still percent-encoded
};

// An absolute URL ("scheme:" with an optional "//authority"); nothing for text that is not one,
// including text with spaces or control characters.
std::optional<ParsedURL> parseAbsoluteURL(std::string_view text);

// The lower-cased scheme of an absolute URL and what follows its ":"; nothing for text that is
// not one, including text with spaces or control characters.
struct URLSchemeSplit {
    std::string scheme;
    std::string_view rest;
};
std::optional<URLSchemeSplit> splitURLScheme(std::string_view text);

// The bytes a URL path keeps as they are: letters, digits and "-._~/!$&'()*+,;=@:".
bool isPathSafeURLByte(unsigned char c);

// True for an http or https address (any case) whose host is non-empty.
bool isHTTPURLWithHost(std::string_view text);

// "%41" -> "A"; malformed escapes stay as they are.
std::string percentDecode(std::string_view text);

// A "file://" URL for an absolute path, every byte outside the path-safe set percent-encoded.
std::string fileURLFromPath(const std::filesystem::path& path);

// The local path a file URL names (host empty or "localhost", query and fragment dropped);
// nothing for other URLs or a path holding NUL.
std::optional<std::filesystem::path> pathFromFileURL(std::string_view url);

// Lexically normalised absolute form without a trailing slash: what "standardized" means here.
std::filesystem::path standardizedPath(const std::filesystem::path& path);

// True when path equals root or lies below it ("/a/bc" is not inside "/a/b").
bool isPathInsideOrEqual(const std::filesystem::path& path, const std::filesystem::path& root);

// True when path lies strictly below root.
bool isPathStrictlyInside(const std::filesystem::path& path, const std::filesystem::path& root);

} // namespace qv
