// Rules of running extensions that need no web view: navigation fences, list order, and reading
// the engine's JSON.
#pragma once

#include "base/json_text.h"
#include "extensions/extension_manifest.h"

#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace qv {

// Website extensions may go to any http or https address; file extensions only to file URLs
// at or below their own folder.
bool extensionMayNavigateTo(const ExtensionRecord& record, std::string_view url);

// The manager's list order: by name (the ID when there is none), ignoring case, then by ID.
std::vector<ExtensionID> extensionManagerOrder(
    const std::map<ExtensionID, ExtensionRecord>& extensions);

// The manager's note on an extension turned off because its page's process ended.
std::string extensionPageCrashedMessage(std::string_view name);

// JSON as the engine serialises script values. A string holding a lone UTF-16 surrogate comes
// out as a "\ud800" escape (or as the surrogate's raw bytes) that strict parsers refuse; such
// escapes and bytes become U+FFFD instead.
std::optional<Json> parseEngineJson(std::string_view text);

} // namespace qv
