// One forward pass over a tag; hostile markup only costs its length.
#include "base/markup_tags.h"

#include "base/text_util.h"

#include <algorithm>

namespace qv {

std::size_t markupTagAttributes(
    std::string_view text, std::size_t i, std::vector<MarkupAttribute>& attributes)
{
    while (i < text.size()) {
        while (i < text.size() && (isMarkupBlank(text[i]) || text[i] == '/'))
            ++i;
        if (i >= text.size())
            break;
        if (text[i] == '>')
            return i + 1;
        std::size_t nameStart = i;
        while (i < text.size() && !isMarkupBlank(text[i]) && text[i] != '=' && text[i] != '>'
            && text[i] != '/')
            ++i;
        MarkupAttribute attribute {
            toLowerAscii(std::string(text.substr(nameStart, i - nameStart))), i, {}
        };
        std::size_t j = i;
        while (j < text.size() && isMarkupBlank(text[j]))
            ++j;
        if (j < text.size() && text[j] == '=') {
            j++;
            while (j < text.size() && isMarkupBlank(text[j]))
                ++j;
            if (j < text.size() && (text[j] == '"' || text[j] == '\'')) {
                std::size_t end = text.find(text[j], j + 1);
                if (end == std::string_view::npos)
                    end = text.size();
                attribute.offset = j + 1;
                attribute.value = text.substr(j + 1, end - j - 1);
                i = std::min(end + 1, text.size());
            } else {
                std::size_t end = j;
                while (end < text.size() && !isMarkupBlank(text[end]) && text[end] != '>')
                    ++end;
                attribute.offset = j;
                attribute.value = text.substr(j, end - j);
                i = end;
            }
        }
        if (i == nameStart)
            ++i;
        attributes.push_back(std::move(attribute));
    }
    return text.size();
}

} // namespace qv
