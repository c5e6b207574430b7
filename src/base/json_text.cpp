// The JSON boundary: parse and dump without exceptions.
#include "base/json_text.h"

#include <exception>

namespace qv {

bool jsonDepthWithin(std::string_view text, size_t maxDepth)
{
    size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth)
                return false;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

std::string jsonTooDeepText()
{
    return "nested more than " + std::to_string(kMaxJsonDepth) + " levels deep";
}

std::optional<Json> parseJson(std::string_view text)
{
    if (!jsonDepthWithin(text))
        return std::nullopt;
    Json value = Json::parse(text.begin(), text.end(), nullptr, false);
    if (value.is_discarded())
        return std::nullopt;
    return value;
}

Result<Json> parseJsonDescribed(std::string_view text)
{
    if (!jsonDepthWithin(text))
        return Result<Json>::failure(jsonTooDeepText());
    try {
        return Json::parse(text.begin(), text.end());
    } catch (const std::exception& e) {
        return Result<Json>::failure(e.what());
    }
}

std::string dumpJson(const Json& value, int indent)
{
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

std::string jsonForScript(const Json& value)
{
    std::string text = dumpJson(value);
    std::string out;
    out.reserve(text.size() + 16);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '<' && i + 1 < text.size() && text[i + 1] == '/') {
            out += "<\\/";
            ++i;
        } else if (c == '\xE2' && i + 2 < text.size() && text[i + 1] == '\x80'
            && (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
            out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::string jsonString(const Json& object, const char* key, const std::string& fallback)
{
    if (!object.is_object())
        return fallback;
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : fallback;
}

bool jsonBool(const Json& object, const char* key, bool fallback)
{
    if (!object.is_object())
        return fallback;
    auto it = object.find(key);
    return it != object.end() && it->is_boolean() ? it->get<bool>() : fallback;
}

} // namespace qv
