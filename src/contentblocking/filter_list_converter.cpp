// Filter-list text to engine rules, and the engine format's own shape check.
#include "contentblocking/filter_list_converter.h"

#include "base/text_util.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace qv {

namespace {

using Kind = FilterLineConversion::Kind;

FilterLineConversion skipped()
{
    return { Kind::Skipped, Json() };
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty()
        && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

// A plain ASCII host name; wildcard entities ("example.*") and IDNs are not.
bool isPlainHost(std::string_view host)
{
    if (host.empty() || host.size() > 253 || host.front() == '.' || host.back() == '.')
        return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
    });
}

// "a.com|~b.com" (or "," for element hiding) as if-domain or unless-domain; nothing when the
// two kinds are mixed or a name is not a plain host.
std::optional<std::pair<const char*, Json>> domainCondition(std::string_view list, char separator)
{
    Json domains = Json::array();
    std::optional<bool> negated;
    for (std::string_view entry : split(list, separator)) {
        entry = trimmed(entry);
        bool isNegated = !entry.empty() && entry.front() == '~';
        if (isNegated)
            entry.remove_prefix(1);
        std::string host = toLowerAscii(entry);
        if (!isPlainHost(host) || (negated && *negated != isNegated))
            return std::nullopt;
        negated = isNegated;
        // The leading "*" takes in the subdomains too, as the filter syntax does.
        domains.push_back("*" + host);
    }
    if (!negated)
        return std::nullopt;
    return std::make_pair(*negated ? "unless-domain" : "if-domain", std::move(domains));
}

// The engine's resource type for a filter option, or nothing.
const char* resourceTypeForOption(std::string_view option)
{
    static constexpr std::pair<std::string_view, const char*> kTypes[] = {
        { "script", "script" },
        { "image", "image" },
        { "stylesheet", "style-sheet" },
        { "font", "font" },
        { "media", "media" },
        { "xmlhttprequest", "fetch" },
        { "websocket", "websocket" },
        { "ping", "ping" },
        { "other", "other" },
    };
    for (const auto& [name, type] : kTypes) {
        if (name == option)
            return type;
    }
    return nullptr;
}

// The long names of the short option spellings some lists use.
std::string canonicalOption(std::string name)
{
    static constexpr std::pair<std::string_view, std::string_view> kAliases[] = {
        { "3p", "third-party" }, { "~3p", "~third-party" }, { "1p", "~third-party" },
        { "first-party", "~third-party" }, { "~first-party", "third-party" },
        { "xhr", "xmlhttprequest" }, { "css", "stylesheet" }, { "frame", "subdocument" },
    };
    for (const auto& [alias, canonical] : kAliases) {
        if (alias == name)
            return std::string(canonical);
    }
    return name;
}

bool isRegexMetacharacter(char c)
{
    return std::string_view(".+?*()[]{}|\\^$/").find(c) != std::string_view::npos;
}

// The url-filter for a filter pattern, or nothing when it holds what the engine's regex subset
// or URLs cannot: raw spaces, non-ASCII, backslashes.
std::optional<std::string> urlFilterForPattern(std::string_view pattern)
{
    std::string regex;
    if (pattern.starts_with("||")) {
        pattern.remove_prefix(2);
        // Any scheme, then the host itself or one of its subdomains.
        regex = "^[a-z][a-z0-9.+-]*://([^/?#]*\\.)?";
        if (pattern.empty() || pattern.front() == '*' || pattern.front() == '.')
            return std::nullopt;
    } else if (pattern.starts_with("|")) {
        pattern.remove_prefix(1);
        regex = "^";
    }
    bool anchoredEnd = false;
    if (pattern.ends_with("|")) {
        pattern.remove_suffix(1);
        anchoredEnd = true;
    }
    // Wildcards at either end add nothing to an unanchored match.
    if (regex.empty())
        while (pattern.starts_with("*"))
            pattern.remove_prefix(1);
    if (!anchoredEnd)
        while (pattern.ends_with("*"))
            pattern.remove_suffix(1);
    for (char c : pattern) {
        auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f || c == '\\' || c == '|')
            return std::nullopt;
        if (c == '*') {
            if (!regex.ends_with(".*"))
                regex += ".*";
        } else if (c == '^') {
            // A separator: anything but a letter, digit or one of "_-.%". The end of the
            // address also counts in the filter syntax; URLs the engine sees have a path, so
            // only a pattern ending in a path is narrower here, never wider.
            regex += "[^a-zA-Z0-9_.%-]";
        } else if (isRegexMetacharacter(c)) {
            if (c == '/') {
                regex += c;
            } else {
                regex += '\\';
                regex += c;
            }
        } else {
            regex += c;
        }
    }
    if (anchoredEnd)
        regex += '$';
    if (regex.empty() || regex == "^")
        regex = ".*";
    return regex;
}

FilterLineConversion convertNetworkRule(std::string_view line)
{
    bool exception = line.starts_with("@@");
    if (exception)
        line.remove_prefix(2);
    std::string_view pattern = line;
    std::string_view options;
    if (size_t dollar = line.rfind('$'); dollar != std::string_view::npos) {
        pattern = line.substr(0, dollar);
        options = line.substr(dollar + 1);
    }
    // Regular-expression rules use a richer syntax than the engine's subset.
    if (pattern.size() >= 2 && pattern.front() == '/' && pattern.back() == '/')
        return skipped();

    Json trigger = Json::object();
    Json types = Json::array();
    bool childFrames = false;
    std::optional<bool> thirdParty;
    if (!options.empty()) {
        for (std::string_view option : split(options, ',')) {
            option = trimmed(option);
            std::string name = canonicalOption(toLowerAscii(option));
            if (const char* type = resourceTypeForOption(name)) {
                if (std::find(types.begin(), types.end(), type) == types.end())
                    types.push_back(type);
            } else if (name == "subdocument") {
                childFrames = true;
            } else if (name == "third-party" || name == "~third-party") {
                bool third = name == "third-party";
                if (thirdParty && *thirdParty != third)
                    return skipped();
                thirdParty = third;
            } else if (name == "match-case") {
                trigger["url-filter-is-case-sensitive"] = true;
            } else if (name.starts_with("domain=")) {
                if (trigger.contains("if-domain") || trigger.contains("unless-domain"))
                    return skipped();
                auto condition = domainCondition(option.substr(7), '|');
                if (!condition)
                    return skipped();
                trigger[condition->first] = std::move(condition->second);
            } else {
                // $redirect, $csp, $important, $document, negated types and the rest.
                return skipped();
            }
        }
    }
    // Frames are "document" loads in a child frame; with other types in the same rule the
    // frame condition would narrow them too.
    if (childFrames) {
        if (!types.empty())
            return skipped();
        types.push_back("document");
        trigger["load-context"] = Json::array({ "child-frame" });
    }
    auto filter = urlFilterForPattern(pattern);
    if (!filter)
        return skipped();
    trigger["url-filter"] = *filter;
    if (!types.empty())
        trigger["resource-type"] = std::move(types);
    if (thirdParty)
        trigger["load-type"] = Json::array({ *thirdParty ? "third-party" : "first-party" });
    Json action = { { "type", exception ? "ignore-previous-rules" : "block" } };
    return { Kind::Converted, Json { { "trigger", std::move(trigger) }, { "action", std::move(action) } } };
}

// Selectors of the extended syntaxes that the engine's CSS would not understand.
bool isPlainSelector(std::string_view selector)
{
    if (selector.empty() || selector.find_first_of("{}\\") != std::string_view::npos)
        return false;
    static constexpr std::string_view kExtended[] = { ":-abp-", ":has-text(", ":contains(",
        ":xpath(", ":matches-css", ":upward(", ":remove(", ":style(", ":min-text-length(",
        ":watch-attr(", ":matches-path(", ":matches-attr(", ":others(", ":if(", ":if-not(" };
    std::string lower = toLowerAscii(selector);
    return std::none_of(std::begin(kExtended), std::end(kExtended),
        [&](std::string_view token) { return lower.find(token) != std::string::npos; });
}

FilterLineConversion convertElementHiding(std::string_view domains, std::string_view selector)
{
    // "##+js(...)" scriptlets and "##^" HTML filters are not element hiding.
    if (selector.starts_with("+js") || selector.starts_with("^") || !isPlainSelector(selector))
        return skipped();
    Json trigger = { { "url-filter", ".*" } };
    if (!domains.empty()) {
        auto condition = domainCondition(domains, ',');
        if (!condition)
            return skipped();
        trigger[condition->first] = std::move(condition->second);
    }
    Json action = { { "type", "css-display-none" }, { "selector", std::string(selector) } };
    return { Kind::Converted, Json { { "trigger", std::move(trigger) }, { "action", std::move(action) } } };
}

bool isCommentOrHeader(std::string_view line)
{
    return line.empty() || line.front() == '!' || (line.front() == '[' && line.back() == ']');
}

} // namespace

FilterLineConversion convertFilterLine(std::string_view line)
{
    line = trimmed(line);
    if (isCommentOrHeader(line))
        return { Kind::Ignored, Json() };
    if (line.size() > kMaxFilterLineLength)
        return skipped();
    // Exceptions per selector ("#@#"), procedural ("#?#"), style ("#$#") and script ("#%#")
    // rules have no exact engine form.
    for (std::string_view marker : { "#@#", "#?#", "#$#", "#%#", "#@$#", "#@?#", "$$" }) {
        if (line.find(marker) != std::string_view::npos)
            return skipped();
    }
    if (size_t hash = line.find("##"); hash != std::string_view::npos)
        return convertElementHiding(trimmed(line.substr(0, hash)), trimmed(line.substr(hash + 2)));
    return convertNetworkRule(line);
}

Result<ContentBlockerList> checkEngineRuleList(std::string_view text)
{
    if (text.size() > kMaxFilterListBytes)
        return Result<ContentBlockerList>::failure("The file is too large.");
    auto parsed = parseJsonDescribed(text);
    if (!parsed)
        return Result<ContentBlockerList>::failure(parsed.error());
    const Json& rules = parsed.value();
    if (!rules.is_array() || rules.empty())
        return Result<ContentBlockerList>::failure("The file holds no rule list.");
    if (rules.size() > kMaxContentBlockerRules)
        return Result<ContentBlockerList>::failure("The list has more rules than can be used.");
    static constexpr std::string_view kActions[]
        = { "block", "block-cookies", "css-display-none", "ignore-previous-rules", "make-https" };
    for (const Json& rule : rules) {
        const Json* trigger = rule.is_object() && rule.contains("trigger") ? &rule["trigger"] : nullptr;
        const Json* action = rule.is_object() && rule.contains("action") ? &rule["action"] : nullptr;
        bool shaped = trigger && action && trigger->is_object() && action->is_object()
            && trigger->contains("url-filter") && (*trigger)["url-filter"].is_string()
            && action->contains("type") && (*action)["type"].is_string();
        if (!shaped)
            return Result<ContentBlockerList>::failure(
                "A rule has no \"trigger\" with a \"url-filter\" or no \"action\" with a \"type\".");
        std::string type = (*action)["type"].get<std::string>();
        if (std::find(std::begin(kActions), std::end(kActions), type) == std::end(kActions))
            return Result<ContentBlockerList>::failure("A rule has an unknown action \"" + type + "\".");
        if (type == "css-display-none"
            && !(action->contains("selector") && (*action)["selector"].is_string()))
            return Result<ContentBlockerList>::failure("An element hiding rule has no selector.");
    }
    ContentBlockerList list;
    list.convertedCount = rules.size();
    list.rules = std::move(parsed.value());
    return list;
}

Result<ContentBlockerList> convertContentBlockerFile(std::string_view text)
{
    if (text.size() > kMaxFilterListBytes)
        return Result<ContentBlockerList>::failure("The file is too large.");
    std::string_view start = trimmed(text.substr(0, std::min<size_t>(text.size(), 64)));
    if (start.starts_with("\xEF\xBB\xBF"))
        start.remove_prefix(3);
    bool json = start.starts_with("{")
        || (start.starts_with("[") && !start.starts_with("[Adblock") && !start.starts_with("[uBlock"));
    if (json)
        return checkEngineRuleList(text);

    ContentBlockerList list;
    Json blocking = Json::array();
    Json exceptions = Json::array();
    Json hiding = Json::array();
    size_t lineStart = 0;
    while (lineStart < text.size()) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos)
            lineEnd = text.size();
        FilterLineConversion line = convertFilterLine(text.substr(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;
        if (line.kind == Kind::Ignored)
            continue;
        if (line.kind == Kind::Skipped || list.convertedCount >= kMaxContentBlockerRules) {
            ++list.skippedCount;
            continue;
        }
        ++list.convertedCount;
        std::string type = line.rule["action"]["type"].get<std::string>();
        Json& bucket = type == "block" ? blocking : type == "ignore-previous-rules" ? exceptions : hiding;
        bucket.push_back(std::move(line.rule));
    }
    // An exception with nothing before it to lift would only make the engine refuse the list.
    if (blocking.empty() && hiding.empty())
        return Result<ContentBlockerList>::failure("The file holds no rule that can be used.");
    for (Json* bucket : { &blocking, &exceptions, &hiding }) {
        for (Json& rule : *bucket)
            list.rules.push_back(std::move(rule));
    }
    return list;
}

} // namespace qv
