// The attributes of an HTML start tag, read as a browser's tokenizer reads them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct MarkupAttribute {
    std::string name; // lower-cased
    std::size_t offset = 0; // of the value in the text
    std::string_view value; // as written, quotes removed, references not decoded
};

// The attributes of a tag whose name ends at `i`; returns the index after its ">", or the
// text's size when the tag is never closed. An unclosed quote runs to the end of the text.
std::size_t markupTagAttributes(
    std::string_view text, std::size_t i, std::vector<MarkupAttribute>& attributes);

// Whether c separates attributes and words in markup.
constexpr bool isMarkupBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

} // namespace qv
