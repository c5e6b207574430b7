// The bookmarks and their file "bookmarks.json", kept beside the history file.
#pragma once

#include "base/atomic_file.h"
#include "base/result.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

class FileWriter;

// One kept page. folder is a path of folder names joined by "/", "" for the top level; a "/"
// inside a name is stored as U+2215 (looks alike, never splits). created is in Unix seconds.
struct Bookmark {
    std::string id;
    std::string title;
    std::string url;
    std::int64_t created = 0;
    std::string folder;
    std::vector<std::string> tags;
};

inline constexpr std::string_view kBookmarksFileName = "bookmarks.json";

// What one file or import may hold. A person keeps thousands; the limits stop a hostile file
// from filling memory or a menu, not anyone's real collection.
inline constexpr std::uintmax_t kBookmarksFileLimit = 64 * 1024 * 1024;
inline constexpr size_t kMaxBookmarks = 100000;
inline constexpr size_t kMaxBookmarkURLBytes = 8192;
inline constexpr size_t kMaxBookmarkTitleBytes = 1024;
inline constexpr size_t kMaxBookmarkFolderNameBytes = 256;
inline constexpr size_t kMaxBookmarkFolderDepth = 16;
inline constexpr size_t kMaxBookmarkTags = 32;
inline constexpr size_t kMaxBookmarkTagBytes = 128;

// Only web and file addresses are kept: http, https and file with a well-formed address. A
// javascript:, data: or any other scheme would run or carry content when opened.
bool isBookmarkableURL(std::string_view url);

// The title as kept: invalid UTF-8 repaired, blanks and control characters folded to single
// spaces, cut to kMaxBookmarkTitleBytes at a character boundary.
std::string bookmarkTitleForStorage(std::string_view title);
// A folder path as kept: each "/"-separated name cleaned like a title (and cut to
// kMaxBookmarkFolderNameBytes), empty names dropped; nothing when deeper than
// kMaxBookmarkFolderDepth.
std::optional<std::string> bookmarkFolderForStorage(std::string_view folder);
// One folder name as a part of a folder path: cleaned, with "/" turned into U+2215.
std::string bookmarkFolderNameForPath(std::string_view name);
// The names of a folder path, top first; none for the top level.
std::vector<std::string> bookmarkFolderNames(std::string_view folder);
// Tags as kept: cleaned like titles, commas removed (they separate tags in exported files),
// empties and repeats dropped, at most kMaxBookmarkTags.
std::vector<std::string> bookmarkTagsForStorage(const std::vector<std::string>& tags);

// The bookmark made fit to keep, or nothing when its address may not be kept (or is too long).
// An empty title stays empty; a missing id gets a new one.
std::optional<Bookmark> cleanBookmark(Bookmark bookmark);

// Exact duplicates are the same address, title and folder: the same page kept twice under
// another name or in another folder is the user's choice, so only exact repeats are skipped.
bool isSameBookmark(const Bookmark& a, const Bookmark& b);
std::string bookmarkDuplicateKey(const Bookmark& bookmark);

// What adding a list to the bookmarks did.
struct BookmarkMerge {
    size_t added = 0;
    size_t duplicates = 0;
    size_t overLimit = 0;
};
// Appends the incoming bookmarks in order, skipping exact duplicates of what is there (or came
// earlier in the list) and whatever would pass kMaxBookmarks. Never replaces anything.
BookmarkMerge mergeBookmarks(std::vector<Bookmark>& into, std::vector<Bookmark> incoming);

// The rows the search shows: positions in the list whose title, address, folder or a tag holds
// the text, in any case (ASCII). An empty search shows every row.
std::vector<size_t> bookmarkSearchRows(const std::vector<Bookmark>& bookmarks, const std::string& search);

// The list after dragging the bookmark `moving` onto `target`: it goes just before the target,
// into the target's folder. Unchanged when either is missing or they are the same.
std::vector<Bookmark> bookmarksAfterDrop(
    std::vector<Bookmark> bookmarks, const std::string& moving, const std::string& target);

// "bookmarks.json": {"bookmarks": [{"id", "title", "url", "created", "folder", "tags"}]}.
std::string bookmarksFileText(const std::vector<Bookmark>& bookmarks);
// The bookmarks of a file's text. Not JSON, another shape, or more than kMaxBookmarks entries
// is a damaged file and an error; a single entry that is not sound (an address that may not be
// kept, wrong types) is dropped and counted, the rest kept.
struct BookmarksFileContents {
    std::vector<Bookmark> bookmarks;
    size_t dropped = 0;
};
Result<BookmarksFileContents> parseBookmarksFile(std::string_view text);

inline constexpr std::string_view kBookmarksReadOnlyMessage
    = "The bookmarks file could not be read, so bookmarks cannot be changed until the browser "
      "is restarted.";

// What reading the file found, on any thread; BookmarkStore::adopt takes it.
struct BookmarksLoad {
    FileRead read;
    std::optional<BookmarksFileContents> contents;
    std::string problem; // why a file that is there is unusable
};

// Owns "bookmarks.json" and the bookmarks in memory, which are authoritative once adopted.
// Every change is written whole by the file writer, off the calling thread. A file that exists
// but cannot be read or understood is kept aside byte for byte ("bookmarks.json.bad"), reported
// once and never written over: the bookmarks stay read-only for the rest of the run.
class BookmarkStore {
public:
    // writeReported runs on the writer's thread when takeWriteFailures() has news.
    BookmarkStore(std::filesystem::path file, FileWriter& writer,
        std::function<void()> writeReported = {});
    ~BookmarkStore();
    BookmarkStore(const BookmarkStore&) = delete;
    BookmarkStore& operator=(const BookmarkStore&) = delete;

    static BookmarksLoad read(const std::filesystem::path& file);
    // Takes what read() found. A missing file is an empty, writable list. An unusable one makes
    // the store read-only, and the value is the one report: "Cannot read bookmarks file <path>:
    // <reason>", saying where its copy was kept.
    std::optional<std::string> adopt(BookmarksLoad loaded);

    const std::filesystem::path& file() const { return m_file; }
    bool loaded() const { return m_loaded; }
    bool readOnly() const { return m_readOnly; }
    const std::vector<Bookmark>& bookmarks() const { return m_bookmarks; }

    // Replaces the list in memory and hands the file to the writer, with its text when the
    // caller made it already (on a worker), else made on the writer's thread. Fails with
    // kBookmarksReadOnlyMessage while read-only, and before adopt().
    Result<Done> set(std::vector<Bookmark> bookmarks, std::optional<std::string> fileText = {});
    // Counts the changes, so work done on a copy can tell whether the list moved on meanwhile.
    std::uint64_t generation() const { return m_generation; }

    // Writes that failed since the last call, as alert texts: "Could not save bookmarks: ...".
    std::vector<std::string> takeWriteFailures();

    struct WriteState;

private:
    std::filesystem::path m_file;
    FileWriter& m_writer;
    std::shared_ptr<WriteState> m_writeState;
    bool m_loaded = false;
    bool m_readOnly = false;
    std::uint64_t m_generation = 0;
    std::vector<Bookmark> m_bookmarks;
};

} // namespace qv
