// The addresses a copied file names: a page's src, srcset and link attributes, a style sheet's
// url() and @import, a script's module imports; and the file with them pointing at the copy.
#pragma once

#include "devtools/page_source_rules.h"

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

class LocalCopyLinkRewriter;

// How deep references are followed: the page's own files are at depth 0, what they name at 1.
inline constexpr std::size_t kMaxLocalCopyReferenceDepth = 8;

// One address written in a text file: where it stands (the bytes a link replaces), what it says
// (HTML's "&amp;" decoded) and the kind of file it names.
struct LocalCopyReference {
    std::size_t offset = 0;
    std::size_t length = 0;
    std::string address;
    std::string kind; // a SourceResource kind
    bool moduleSpecifier = false; // its link must start with "./" or "../"
};

// The references of a file of the kind "html", "css" or "js" (nothing for other kinds), in
// text order. HTML: src and poster attributes, every srcset and imagesrcset candidate, the
// href of a link to a style sheet, icon, module or preload, and what inline style sheets,
// style attributes and module scripts name. CSS: url() and @import, comments and other
// strings skipped. Scripts: static "import ... from", "export ... from", "import '...'" and a
// literal dynamic import('...'), outside comments, strings, templates and regular expressions.
std::vector<LocalCopyReference> localCopyReferences(std::string_view text, std::string_view kind);

// What a file at fileURL names, as absolute http(s) addresses without fragment, once each,
// with the kind each gets.
std::vector<SourceResource> localCopyNamedResources(
    std::string_view text, std::string_view kind, std::string_view fileURL);

// The link a file uses for another where the copy keeps them; a module specifier starts with
// "./" or "../" (a bare "js/util.js" names a package, not a file).
std::string localCopyReferenceLink(const std::vector<std::string>& from,
    const std::vector<std::string>& to, bool moduleSpecifier);

// The file at fileURL with each reference to a copied file (an address in `copied`, by its
// names) replaced by its relative link, worked out from this file and keeping any fragment;
// the rest of the text goes through `rest` (addresses written elsewhere, resolved against
// restBase). References to files not copied stay as written.
std::string rewriteLocalCopyReferences(std::string_view text, std::string_view kind,
    std::string_view fileURL, const std::vector<std::string>& fileNames,
    const std::map<std::string, std::vector<std::string>>& copied,
    const LocalCopyLinkRewriter& rest, std::string_view restBase);

} // namespace qv
