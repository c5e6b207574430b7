// Generic element hiding kept out of the engine's rule list. A list's selectors that apply on
// every site make the engine add one style sheet of thousands of selectors to every document,
// and style work on each page grows with it. A selector whose element must carry a given class
// or ID is kept here instead, under that class or ID, and a page is given only the selectors of
// the classes and IDs it actually uses.
#pragma once

#include "base/result.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qv {

// ".name" or "#name": the class or ID an element must carry for the selector to match it, when
// the selector is one compound selector (no combinator, no list) naming one. Nothing otherwise.
std::optional<std::string_view> elementHidingKey(std::string_view selector);

struct SplitHidingRules {
    // The engine's JSON rules without the moved ones.
    std::string engineRules;
    // The moved selectors, one per line.
    std::string hidingSelectors;
    size_t moved = 0;
};

// Moves every rule that hides a keyed selector on all sites (trigger only `"url-filter": ".*"`)
// out of an engine rule list. The order of what stays is kept: the moved rules came after
// every exception, so none of them was lifted by one.
Result<SplitHidingRules> splitGenericHiding(std::string_view engineRules);

// Limits on what one page can ask for at a time, and on a table read from a file.
inline constexpr size_t kMaxHidingTokensPerQuery = 1000;
inline constexpr size_t kMaxHidingTokenLength = 256;
inline constexpr size_t kMaxHidingSelectors = 200000;
inline constexpr size_t kMaxHidingSelectorLength = 4096;

class ElementHidingTable {
public:
    // Selectors one per line, as splitGenericHiding writes them. Lines that are not keyed
    // selectors, or beyond the limits, are dropped.
    static ElementHidingTable fromText(std::string_view text);

    size_t size() const { return m_count; }
    // Appends the selectors of the tokens (".class" or "#id" as a page uses them).
    void appendSelectorsFor(const std::vector<std::string>& tokens, std::vector<std::string_view>& out) const;

private:
    std::unordered_map<std::string, std::vector<std::string>> m_byKey;
    size_t m_count = 0;
};

// The style a page adds for the selectors: one rule each, so a selector the page's engine
// does not understand loses only itself.
std::string elementHidingStyle(const std::vector<std::string_view>& selectors);

} // namespace qv
