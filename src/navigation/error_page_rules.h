// The page shown in a tab whose load failed: escaping and filling in our HTML template.
#pragma once

#include "base/text_util.h"

#include <string>
#include <string_view>

namespace qv {

struct ErrorPageText {
    std::string message;
    std::string address;
    bool dark = false;
    std::string heading = "This page could not be loaded";
    std::string title; // the document's, which the tab shows
    std::string button = "Try Again";
    std::string buttonId = "try-again";
};

// The template with "{{message}}", "{{address}}", "{{heading}}", "{{title}}", "{{button}}",
// "{{buttonId}}" and "{{theme}}" ("dark" or "light") filled in, each inserted text escaped. Filled in one pass: inserted text is never expanded again.
// Unknown "{{...}}" markers stay as they are.
std::string errorPageHTML(std::string_view pageTemplate, const ErrorPageText& text);

} // namespace qv
