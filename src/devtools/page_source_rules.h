// The page source editor's records, page scripts and editor-state rules.
#pragma once

#include "base/json_text.h"
#include "base/result.h"
#include "extensions/bridge_page_scripts.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// One file a page is made of: an http(s) address without fragment and one of the kinds
// "html", "js", "css", "image", "font", "media", "text".
struct SourceResource {
    std::string url;
    std::string kind;

    bool operator==(const SourceResource&) const = default;
};

// A page may return anything; the list keeps at most this many records and ignores longer
// addresses, so a hostile page cannot flood the table or the build.
inline constexpr std::size_t kMaxListedSourceResources = 5000;
inline constexpr std::size_t kMaxSourceResourceURLBytes = 8192;

bool isSourceResourceKind(std::string_view kind);

// The records of a listing script's value, in the page's order. An element is kept when it is
// an object whose `url` is an http(s) address with a host and no fragment and whose `kind` is
// a known kind; a repeated address keeps its first record. Nothing when the value is not an
// array ("The page did not return a file list.").
std::optional<std::vector<SourceResource>> sourceResourcesFromValue(const Json& value);
// The same for the value as JSON text (what the web engine hands back).
std::optional<std::vector<SourceResource>> sourceResourcesFromJSONText(std::string_view text);

// "[CSS] https://host/site.css": the row text of the resource list.
std::string sourceResourceRowLabel(const SourceResource& resource);

// Lists the page's own address, scripts, style sheets, media and its resource timing entries
// as an array of {url, kind}, first kind per address winning. Evaluate as an expression, in
// the browser's own script world.
PageScript sourceResourceListingScript();

// The live document, serialised. Evaluate as an expression.
PageScript sourceLiveHTMLScript();

// Fetches one address from the page with its cookies; resolves to the text, or rejects with
// "HTTP <status>", "Not a readable text resource: <type>" or "File exceeds the 2 MB editor
// limit"; aborted after 10 seconds. An async function body.
PageScript sourceResourceFetchScript(const std::string& url);

// What the editor holds: nothing (the placeholder) or the text of one resource.
struct SourceEditorState {
    std::optional<SourceResource> loaded;
    bool dirty = false;
};

// Puts a resource's freshly read text in the editor: loaded, clean.
void markSourceLoaded(SourceEditorState& state, const SourceResource& resource);
// The editor's text changed; only a loaded resource becomes dirty. Gives the status
// "Unsaved local edits · <last path component>", or nothing when nothing is loaded.
std::optional<std::string> markSourceEdited(SourceEditorState& state);

// What loading `next` must do first, given the editor's state.
enum class SourceLoadStep {
    Load, // go on loading
    AskToSaveOrDiscard, // dirty edits of another resource: "Save your local edits..."
    RefuseSameDirty, // "This file has unsaved edits. Save Changes or choose another file."
};
SourceLoadStep sourceLoadStep(const SourceEditorState& state, const SourceResource& next);

// The script that applies the editor's text to the page with the kind of the resource the
// text was loaded from (not whatever row is selected now, which may be another file).
// Failures: "Select and load a file before applying edits." when nothing is loaded, and
// "This text resource is editable and saveable, but cannot be applied as HTML/CSS/JS." for
// kinds other than html, css and js. Evaluate as an expression.
Result<PageScript> applyPageSourceScript(const SourceEditorState& state, std::string_view text);

} // namespace qv
