// The page shown in a tab whose load failed: escaping and filling in our HTML template.
#pragma once

#include "base/text_util.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv {

struct ErrorPageText {
    std::string message;
    std::string address;
    bool dark = false;
    std::string heading = "This page could not be loaded";
    std::string title; // the document's, which the tab shows
    std::string button = "Try Again";
    std::string buttonId = "try-again";
    // A list under the message, facts as term and text, and a closing note; each may be empty.
    std::vector<std::string> points;
    std::vector<std::pair<std::string, std::string>> details;
    std::string note;
};

// The template with "{{message}}", "{{address}}", "{{heading}}", "{{title}}", "{{button}}",
// "{{buttonId}}", "{{points}}" (a list), "{{details}}" (a definition list), "{{note}}" and
// "{{theme}}" ("dark" or "light") filled in, each inserted text escaped. Filled in one pass:
// inserted text is never expanded again.
// Unknown "{{...}}" markers stay as they are.
std::string errorPageHTML(std::string_view pageTemplate, const ErrorPageText& text);

} // namespace qv
