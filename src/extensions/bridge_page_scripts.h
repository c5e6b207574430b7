// The scripts the bridge runs in a tab's page, as texts the host evaluates unchanged.
#pragma once

#include "base/json_text.h"
#include "extensions/page_read_limits.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv {

// Expression: evaluate the source as a script (its completion value is the result).
// AsyncFunctionBody: call the source as the body of an async function without arguments
// (its `return` value, awaited, is the result). Both run in the main frame.
enum class PageScriptKind { Expression, AsyncFunctionBody };

// Isolated: the browser's own script world, which shares the page's DOM and storage but not its
// globals, so a page cannot replace what the script calls. Page: the page's world, for an
// extension's own code.
enum class PageScriptWorld { Isolated, Page };

// The browser's own script world in tab pages: the bridge's page scripts, the icon look-up,
// the activity reporter and the content-blocking scripts all run in it. A frame that has run
// a script in a world makes that world a new global object on every later navigation, so one
// world costs a page one, not one per script.
inline constexpr const char* kBrowserScriptWorld = "quivel-browser";

struct PageScript {
    PageScriptKind kind = PageScriptKind::Expression;
    std::string source;
    PageScriptWorld world = PageScriptWorld::Isolated;
    // Enforced by the host on the result before it is converted.
    std::optional<PageReadLimit> resultLimit;
};

using ScriptArguments = std::vector<std::pair<std::string, Json>>;

// An async function body that first binds each argument name to its value. Values enter the
// code only as JSON text from jsonForScript, so no value can end a string or the script.
PageScript asyncFunctionWithArguments(std::string_view body, const ScriptArguments& arguments);

PageScript userAgentScript();
PageScript pageTextScript();
PageScript pageHTMLScript();
PageScript pageResourcesScript();

enum class LocalStorageAction { Get, Set, Remove, Clear };
PageScript localStorageScript(
    LocalStorageAction action, const std::string& key, const std::string& value);

enum class ElementAction { Click, Type, Scroll };
PageScript elementActionScript(
    ElementAction action, const std::string& selector, const std::string& text, double x, double y);

// The extension's own code, evaluated as it is.
PageScript executeScriptScript(const std::string& code);

PageScript sourceGetHTMLScript();
PageScript sourceSetHTMLScript(const std::string& html);
PageScript sourceListResourcesScript();
PageScript sourceReadResourceScript(const std::string& url);
PageScript sourceInsertCSSScript(const std::string& css);
PageScript sourceRemoveCSSScript(const std::string& styleId);

} // namespace qv
