// How a local copy is served to its pages: its addresses, the files a request may name, their
// types, and the marked folder a file belongs to.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Pages of a copy load from "quivel-copy://<token>/<path>": module scripts need an origin, which
// a file page does not have, and the token keeps the folder's path out of the address.
inline constexpr std::string_view kLocalCopyScheme = "quivel-copy";
// The mark a copy writes into its own folder. A copy never names a file with a leading ".",
// so the mark can be neither one of its files nor served.
inline constexpr std::string_view kLocalCopyMarkName = ".quivel-local-copy";
inline constexpr std::size_t kLocalCopyTokenLength = 32;
// The editor saves up to 16 MB into a copy; nothing larger is served.
inline constexpr std::size_t kMaxLocalCopyServedBytes = 16 * 1024 * 1024;
// How many folders above a file are looked at for a mark.
inline constexpr std::size_t kMaxLocalCopyMarkDepth = 64;

// 32 lower-case hex digits.
bool isLocalCopyToken(std::string_view token);

// The address of the file at `names` below the copy the token stands for, each name encoded.
std::string localCopySchemeURL(std::string_view token, const std::vector<std::string>& names);

struct LocalCopyRequest {
    std::string token;
    std::vector<std::string> names;
};

// What a request address names: the scheme, a valid token as its host (no user, no port) and a
// path of plain names decoded once. Nothing for a folder (a path ending in "/"), an empty,
// "." or ".." name, a name with "/", "\" or NUL, or one beginning with "." (never the copy's).
// Query and fragment are ignored.
std::optional<LocalCopyRequest> parseLocalCopyRequest(std::string_view uri);

// The type a file is served as, by its extension in any case; "application/octet-stream"
// for the rest.
std::string_view localCopyMimeType(std::string_view name);

struct LocalCopyLocation {
    std::filesystem::path root;
    std::vector<std::string> names;
};

// The copy an absolute path without links lies in: the nearest of its folders (at most 64 up)
// for which isMarkedRoot holds, with the names below it. Nothing when none does or a name below
// it would not be served.
std::optional<LocalCopyLocation> localCopyLocation(const std::filesystem::path& file,
    const std::function<bool(const std::filesystem::path&)>& isMarkedRoot);

} // namespace qv
