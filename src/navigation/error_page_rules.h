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
    // The crash page's heading and document title; the error page has fixed ones.
    std::string heading;
    std::string title;
};

// The template with "{{message}}", "{{address}}", "{{heading}}", "{{title}}" and "{{theme}}"
// ("dark" or "light") filled in, each inserted text escaped. Filled in one pass: inserted text is never expanded again.
// Unknown "{{...}}" markers stay as they are.
std::string errorPageHTML(std::string_view pageTemplate, const ErrorPageText& text);

} // namespace qv
