// Navigation fences, list order and engine JSON for running extensions.
#include "extensions/extension_runtime_rules.h"

#include "base/paths.h"
#include "base/text_util.h"
#include "base/url.h"

#include <algorithm>
#include <cctype>

namespace qv {

bool extensionMayNavigateTo(const ExtensionRecord& record, std::string_view url)
{
    auto parsed = parseURL(url, URLSyntax::Loose);
    if (!parsed)
        return false;
    if (record.isWebsite())
        return parsed->isHTTP();
    if (parsed->lowerScheme() != "file")
        return false;
    auto path = pathFromFileURL(url);
    return path && isPathInsideOrEqual(standardizedPath(*path), standardizedPath(record.rootURL));
}

std::string extensionPageCrashedMessage(std::string_view name)
{
    std::string shown = displaySafeTitle(name);
    return (shown.empty() ? std::string("This Extension") : shown)
        + " stopped because its page crashed. Turn it on in the list to start it again.";
}

std::vector<ExtensionID> extensionManagerOrder(
    const std::map<ExtensionID, ExtensionRecord>& extensions)
{
    std::vector<std::pair<std::string, ExtensionID>> keyed;
    for (const auto& [id, record] : extensions) {
        std::string name = record.name();
        keyed.emplace_back(toLowerAscii(name.empty() ? id : name), id);
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<ExtensionID> order;
    for (auto& entry : keyed)
        order.push_back(std::move(entry.second));
    return order;
}

namespace {

std::optional<unsigned> hexEscapeAt(std::string_view text, std::size_t i)
{
    // text[i] is the backslash of "\uXXXX".
    if (i + 6 > text.size() || text[i + 1] != 'u')
        return std::nullopt;
    unsigned value = 0;
    for (std::size_t k = i + 2; k < i + 6; ++k) {
        auto c = static_cast<unsigned char>(text[k]);
        if (!std::isxdigit(c))
            return std::nullopt;
        value
            = value * 16 + static_cast<unsigned>(std::isdigit(c) ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return value;
}

bool isHigh(unsigned u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(unsigned u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Replaces every "\uXXXX" that is a surrogate without its partner by "\ufffd".
std::string withoutLoneSurrogateEscapes(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        auto unit = hexEscapeAt(text, i);
        if (!unit) {
            // Any other escape is copied with the character it escapes.
            out += text[i];
            out += text[++i];
            continue;
        }
        if (isHigh(*unit)) {
            auto next = text.size() > i + 6 && text[i + 6] == '\\' ? hexEscapeAt(text, i + 6)
                                                                   : std::nullopt;
            if (next && isLow(*next)) {
                out.append(text.substr(i, 12));
                i += 11;
                continue;
            }
            out += "\\ufffd";
        } else if (isLow(*unit)) {
            out += "\\ufffd";
        } else {
            out.append(text.substr(i, 6));
        }
        i += 5;
    }
    return out;
}

} // namespace

std::optional<Json> parseEngineJson(std::string_view text)
{
    if (auto parsed = parseJson(text))
        return parsed;
    // Bytes of a surrogate written out as if it were a character are not UTF-8 either.
    std::string repaired = sanitizeUtf8(text);
    if (repaired.find("\\u") != std::string::npos)
        repaired = withoutLoneSurrogateEscapes(repaired);
    return parseJson(repaired);
}

} // namespace qv
