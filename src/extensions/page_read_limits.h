// How much a page may hand back to a read before the browser refuses it, and how it is measured.
#pragma once

#include "base/json_text.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// The largest answer a read accepts and the failure it replies past that. The length is
// first taken in UTF-16 code units, as the engine holds the value, before anything is copied
// out of it; a converted answer is then measured in UTF-8 bytes, which are never fewer.
struct PageReadLimit {
    std::size_t maxLength = 0;
    std::string_view message;
};

inline constexpr PageReadLimit kLiveHTMLReadLimit { 2097152, "Live HTML is larger than 2 MB" };
inline constexpr PageReadLimit kResourceReadLimit { 2097152,
    "Resources larger than 2 MB cannot be read" };
inline constexpr PageReadLimit kPageTextReadLimit { 2097152, "Page text is larger than 2 MB" };
// What the extension's own code hands back from a page: the same bound as live HTML.
inline constexpr PageReadLimit kScriptResultReadLimit { 2097152,
    "Script result is larger than 2 MB" };
// The resource timing list, whose length a page may raise as far as it likes.
inline constexpr PageReadLimit kResourceListReadLimit { 16777216,
    "Resource list is larger than 16 MB" };
// Far above what an origin's localStorage quota lets a page store.
inline constexpr PageReadLimit kLocalStorageReadLimit { 16777216,
    "Page localStorage is larger than 16 MB" };

// The failure message when `length` is past the limit.
std::optional<std::string> pageReadOverLimit(const PageReadLimit& limit, std::size_t length);

// The size of an answer as the limit counts it, in UTF-8 bytes: a string's own bytes; for
// arrays and objects every key (plus one) and nested value summed; one for any other value.
// Counting stops once the total is past `stopAfter`.
std::size_t pageReadSize(const Json& value, std::size_t stopAfter);

} // namespace qv
