// Web addresses for every layer: one parser, one percent-encoder, one decoder, file addresses.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// How much parseURL checks beyond splitting the text into its parts.
enum class URLSyntax {
    // An RFC 3986 reference: nothing for a character outside the URL set (blanks, controls,
    // non-ASCII, "<", "\"" ...), a "%" without two hex digits, a bad IPv6 literal or a port that
    // is not decimal.
    Strict,
    // An absolute address as a web view or a script hands it over: nothing without a scheme,
    // with a blank or control byte anywhere or with a "\" in the authority (a web view ends the
    // host there, so the host read here would not be the one it loads); the parts are split
    // but their bytes not checked.
    Loose,
};

// A URL reference split into its parts exactly as written (no case folding, no escaping).
struct URLParts {
    std::string scheme; // without ":"; empty for a relative reference
    bool hasAuthority = false;
    std::optional<std::string> userInfo;
    std::string host; // an IPv6 literal without its brackets
    bool hostIsIPv6 = false;
    std::optional<std::string> port; // after ":"; Strict: decimal digits, possibly none ("host:")
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    std::string lowerScheme() const;
    std::string lowerHost() const;
    // True for http and https in any case.
    bool isHTTP() const;
    // The host as it stands in an address: an IPv6 literal in brackets.
    std::string hostText() const;
    // The port, or for an empty one the scheme's default ("443" for https, else "80").
    std::string effectivePort() const;

    // The reference put back together; parseURL(s)->absoluteString() == s.
    std::string absoluteString() const;
};

std::optional<URLParts> parseURL(std::string_view text, URLSyntax syntax = URLSyntax::Strict);

// The text between the brackets of an IPv6 host, without zone.
bool isIPv6Literal(std::string_view text);

// The text after a host's ":": no digits, or a decimal number up to 65535.
bool isURLPort(std::string_view text);

// A Loose address of scheme http or https (any case) whose host is non-empty.
bool isHTTPURLWithHost(std::string_view text);

// A Loose address whose parts can name files and folders: http(s) only with an authority, a
// host of nothing but letters, digits and "-._~:" that is not all dots (so never "..", "/" or
// "%"), a port of digits only. Its scheme and host come back lower-cased.
std::optional<URLParts> parsePlainAddress(std::string_view text);

// The address without its fragment.
std::string withoutFragment(std::string_view text);

// A reference as a page writes it (relative or absolute, surrounding blanks, a "\" for "/",
// a blank or non-ASCII byte that a browser would escape) made absolute against an http(s)
// base: dot segments removed, scheme and host lower-cased, the scheme's default port dropped,
// the fragment kept. Nothing when either does not parse or the base is not http(s).
std::optional<std::string> resolveURLReference(std::string_view base, std::string_view reference);

// "b.css" for "/a/b.css", "a" for "/a/", "/" for "" or "/".
std::string lastURLPathComponent(std::string_view path);

// What encoded text becomes part of; each keeps letters, digits and its own bytes as they are
// and encodes every other byte as "%XX" (upper-case hex).
enum class URLComponent {
    SearchQuery, // -._~!$'()*,;:@/?  ("+", "&", "=" and "#" encoded)
    Fragment, // -._~!$&'()*+,;=:@/?
    Path, // -._~!$&'()*+,;=:@/  (a local file path in a file address too)
    LinkSegment, // -._~!$&'()*+,;=@  (one name of a relative link, never "/" or ":")
    RelativePath, // every printable ASCII byte but "%", "#", "?", "\" and ":"
    FileName, // everything but control bytes, so a name holds no NUL or line break
    PortableFileName, // -_.
};
enum class ExistingEscapes { Encode, Keep };
std::string percentEncode(std::string_view text, URLComponent component,
    ExistingEscapes escapes = ExistingEscapes::Encode);

// What a "%" without two hex digits after it does to the decoding.
enum class MalformedEscapes {
    Reject, // nothing comes back
    Keep, // it stays as written
};
// "%41" -> "A". With Keep there is always a result.
std::optional<std::string> percentDecode(
    std::string_view text, MalformedEscapes malformed = MalformedEscapes::Reject);

// A "file://" address for an absolute path, every byte outside the Path set encoded.
std::string fileURLFromPath(const std::filesystem::path& path);

// The local path a Loose file address names (host empty or "localhost", query and fragment
// dropped, malformed escapes kept); nothing for other addresses or a path holding NUL.
std::optional<std::filesystem::path> pathFromFileURL(std::string_view url);

} // namespace qv
