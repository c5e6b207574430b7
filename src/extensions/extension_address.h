// What an address an extension asks to open becomes before any tab or page sees it.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace qv {

// The web address that extension-supplied text opens: the normalised http(s) address when the
// text names a site, otherwise searchURL of the trimmed text, as typed non-addresses are. Local
// files and paths, data:, javascript:, about:, blob:, view-source:, ftp: and every other
// non-web scheme therefore become searches.
std::string webAddressForExtensionText(
    std::string_view text, const std::function<std::string(const std::string& query)>& searchURL);

} // namespace qv
