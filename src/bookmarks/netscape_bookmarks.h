// The bookmark file every browser exports and imports ("bookmarks.html"): nested <DL> lists of
// <DT><H3> folders and <DT><A HREF> bookmarks.
#pragma once

#include "bookmarks/bookmark_store.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// A file to import larger than this is refused before it is read.
inline constexpr std::uintmax_t kBookmarkImportFileLimit = 64 * 1024 * 1024;

struct BookmarkImport {
    // Cleaned (cleanBookmark), in the file's order, not yet checked for duplicates.
    std::vector<Bookmark> bookmarks;
    // Entries that were not sound: an address that may not be kept (javascript:, data:, none,
    // too long), a folder deeper than kMaxBookmarkFolderDepth, or past kMaxBookmarks.
    size_t skipped = 0;
};

// Reads whatever the text holds, however broken: tags are found by their names in any case,
// unclosed ones end at the next entry, quotes that never close are bounded, and character
// references are decoded. A bookmark without ADD_DATE (or with a nonsense one) was made `now`.
// Runs in one pass over the text.
BookmarkImport parseNetscapeBookmarks(std::string_view html, std::int64_t now);

// The file for these bookmarks, folders in the order they first appear, each bookmark in its
// folder in list order; every text is escaped.
std::string netscapeBookmarksText(const std::vector<Bookmark>& bookmarks);

// What an import says when it is done: "Imported 12 bookmarks." or "Imported 12 bookmarks and
// skipped 3 (duplicates or unusable entries)."
std::string bookmarkImportSummary(size_t imported, size_t skipped);

} // namespace qv
