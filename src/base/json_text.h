// JSON reading and writing that never throws: the boundary around nlohmann-json.
#pragma once

#include "base/result.h"

#include <nlohmann/json.hpp>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

using Json = nlohmann::json;

// The deepest nesting of arrays and objects accepted in any document we read. Our own files
// and messages nest a few levels; copying, comparing or writing a value recurses once per level,
// so a deeper one is refused before any of it is built.
inline constexpr size_t kMaxJsonDepth = 64;

// Whether no array or object in the text lies more than maxDepth levels deep. Brackets inside
// strings do not count; on JSON text the count is exactly the parser's.
bool jsonDepthWithin(std::string_view text, size_t maxDepth = kMaxJsonDepth);

// "nested more than 64 levels deep": why a deep document was refused.
std::string jsonTooDeepText();

// Parsed document, or nothing when the text is not JSON or nests deeper than kMaxJsonDepth.
std::optional<Json> parseJson(std::string_view text);

// The same, with the parser's description of what is wrong (or jsonTooDeepText()).
Result<Json> parseJsonDescribed(std::string_view text);

// Serialised text; invalid UTF-8 in strings is replaced (U+FFFD), never thrown on.
// indent < 0 gives the compact form.
std::string dumpJson(const Json& value, int indent = -1);

// A JSON text safe to paste into a page script: also escapes "</", U+2028 and U+2029.
std::string jsonForScript(const Json& value);

// Typed look-ups that give the fallback when the member is missing or of another type.
std::string jsonString(const Json& object, const char* key, const std::string& fallback = "");
bool jsonBool(const Json& object, const char* key, bool fallback = false);

} // namespace qv
