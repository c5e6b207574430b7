// Extension-supplied addresses resolved to web addresses or searches.
#include "extensions/extension_address.h"

#include "navigation/address_resolution.h"

namespace qv {

std::string webAddressForExtensionText(
    std::string_view text, const std::function<std::string(const std::string& query)>& searchURL)
{
    std::string trimmed = trimUnicodeWhitespace(text);
    // "./x" or "../x" would otherwise pass as a dotted host; a path is never a site.
    char first = trimmed.empty() ? '\0' : trimmed.front();
    bool pathLike = first == '.' || first == '/' || first == '~' || first == '\\';
    if (!pathLike) {
        if (auto address = normalizedAddress(trimmed))
            return *address;
    }
    return searchURL(trimmed);
}

} // namespace qv
