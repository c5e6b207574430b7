// The JSON boundary: parse and dump without exceptions.
#include "base/json_text.h"

namespace qv {

std::optional<Json> parseJson(std::string_view text)
{
    Json value = Json::parse(text.begin(), text.end(), nullptr, false);
    if (value.is_discarded())
        return std::nullopt;
    return value;
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
