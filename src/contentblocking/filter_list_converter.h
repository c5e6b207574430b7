// Content-blocker rule lists: converting the common filter-list syntax to the engine's JSON
// format, and checking a file already in that format.
#pragma once

#include "base/json_text.h"
#include "base/result.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace qv {

// A filter file larger than this is refused unread.
inline constexpr size_t kMaxFilterListBytes = 32 * 1024 * 1024;
// The engine refuses lists with more rules than this.
inline constexpr size_t kMaxContentBlockerRules = 150000;
// Longer lines are skipped: no real rule is this long.
inline constexpr size_t kMaxFilterLineLength = 4096;

struct FilterLineConversion {
    enum class Kind { Ignored, Converted, Skipped };
    Kind kind = Kind::Ignored;
    // The engine rule when converted.
    Json rule;
};

// One line of a filter list: comments, headers and blank lines are ignored; a rule that
// cannot be expressed exactly in the engine's format is skipped.
FilterLineConversion convertFilterLine(std::string_view line);

struct ContentBlockerList {
    // The engine's JSON rule array.
    Json rules = Json::array();
    size_t convertedCount = 0;
    size_t skippedCount = 0;
};

// A whole file: the engine's JSON format when it starts with '[' or '{' (but not with a list
// header such as "[Adblock Plus 2.0]"), otherwise filter-list text.
// Blocking rules come first, then exceptions (so they lift only blocking rules), then element
// hiding. Fails with the user-facing reason when nothing usable is in it.
Result<ContentBlockerList> convertContentBlockerFile(std::string_view text);

// The rules of a file in the engine's format, each checked for the shape the engine needs.
Result<ContentBlockerList> checkEngineRuleList(std::string_view text);

} // namespace qv
