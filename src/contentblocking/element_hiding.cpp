// Generic element hiding: which selectors can be keyed, splitting them out of an engine list,
// and the table a page's classes and IDs are looked up in.
#include "contentblocking/element_hiding.h"

#include "base/json_text.h"

#include <algorithm>

namespace qv {

namespace {

bool isNameStart(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '-' || c >= 0x80;
}

bool isNameChar(unsigned char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9');
}

// What could end the rule it is put in, or the line it is stored on.
bool unsafeInStyle(std::string_view text)
{
    return text.find_first_of("{};\\") != std::string_view::npos || text.find("/*") != std::string_view::npos
        || std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

} // namespace

std::optional<std::string_view> elementHidingKey(std::string_view selector)
{
    if (selector.empty() || selector.size() > kMaxHidingSelectorLength || unsafeInStyle(selector))
        return std::nullopt;
    std::optional<std::string_view> key;
    int depth = 0;
    char quote = 0;
    for (size_t i = 0; i < selector.size(); ++i) {
        char c = selector[i];
        if (quote) {
            if (c == quote)
                quote = 0;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '(' || c == '[') {
            ++depth;
        } else if (c == ')' || c == ']') {
            if (--depth < 0)
                return std::nullopt;
        } else if (depth == 0) {
            // A combinator or a list: the element that matches need not carry the key.
            if (c == ' ' || c == '>' || c == '+' || c == '~' || c == ',')
                return std::nullopt;
            if ((c == '.' || c == '#') && !key && i + 1 < selector.size()
                && isNameStart(static_cast<unsigned char>(selector[i + 1]))) {
                size_t end = i + 1;
                while (end < selector.size() && isNameChar(static_cast<unsigned char>(selector[end])))
                    ++end;
                key = selector.substr(i, end - i);
            }
        }
    }
    if (depth != 0 || quote)
        return std::nullopt;
    return key;
}

Result<SplitHidingRules> splitGenericHiding(std::string_view engineRules)
{
    std::optional<Json> rules = parseJson(engineRules);
    if (!rules || !rules->is_array())
        return Result<SplitHidingRules>::failure("The rules are not a JSON array.");
    // An exception lifts only the rules before it, so only hiding after the last one can move.
    size_t firstMovable = 0;
    for (size_t i = 0; i < rules->size(); ++i) {
        const Json& rule = (*rules)[i];
        if (rule.is_object() && rule.contains("action") && rule["action"].is_object()
            && jsonString(rule["action"], "type") == "ignore-previous-rules")
            firstMovable = i + 1;
    }
    SplitHidingRules split;
    Json kept = Json::array();
    for (size_t i = 0; i < rules->size(); ++i) {
        Json& rule = (*rules)[i];
        bool moved = false;
        if (i >= firstMovable && rule.is_object() && rule.contains("action") && rule.contains("trigger")) {
            const Json& action = rule["action"];
            const Json& trigger = rule["trigger"];
            if (action.is_object() && jsonString(action, "type") == "css-display-none"
                && trigger.is_object() && trigger.size() == 1 && jsonString(trigger, "url-filter") == ".*") {
                std::string selector = jsonString(action, "selector");
                if (elementHidingKey(selector)) {
                    split.hidingSelectors += selector;
                    split.hidingSelectors += '\n';
                    ++split.moved;
                    moved = true;
                }
            }
        }
        if (!moved)
            kept.push_back(std::move(rule));
    }
    split.engineRules = dumpJson(kept);
    return split;
}

ElementHidingTable ElementHidingTable::fromText(std::string_view text)
{
    ElementHidingTable table;
    while (!text.empty() && table.m_count < kMaxHidingSelectors) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (auto key = elementHidingKey(line)) {
            table.m_byKey[std::string(*key)].emplace_back(line);
            ++table.m_count;
        }
    }
    return table;
}

void ElementHidingTable::appendSelectorsFor(
    const std::vector<std::string>& tokens, std::vector<std::string_view>& out) const
{
    size_t asked = 0;
    for (const std::string& token : tokens) {
        if (++asked > kMaxHidingTokensPerQuery)
            break;
        if (token.size() < 2 || token.size() > kMaxHidingTokenLength)
            continue;
        auto it = m_byKey.find(token);
        if (it == m_byKey.end())
            continue;
        for (const std::string& selector : it->second)
            out.emplace_back(selector);
    }
}

std::string elementHidingStyle(const std::vector<std::string_view>& selectors)
{
    std::string style;
    for (std::string_view selector : selectors) {
        style += selector;
        style += "{display:none!important}\n";
    }
    return style;
}

} // namespace qv
