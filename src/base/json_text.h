// JSON reading and writing that never throws: the boundary around nlohmann-json.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

using Json = nlohmann::json;

// Parsed document, or nothing when the text is not JSON.
std::optional<Json> parseJson(std::string_view text);

// Serialised text; invalid UTF-8 in strings is replaced (U+FFFD), never thrown on.
// indent < 0 gives the compact form.
std::string dumpJson(const Json& value, int indent = -1);

// A JSON text safe to paste into a page script: also escapes "</", U+2028 and U+2029.
std::string jsonForScript(const Json& value);

// Typed look-ups that give the fallback when the member is missing or of another type.
std::string jsonString(const Json& object, const char* key, const std::string& fallback = "");
bool jsonBool(const Json& object, const char* key, bool fallback = false);

} // namespace qv
