// The bookmarks file, its limits and the rules shared by every way bookmarks arrive.
#include "bookmarks/bookmark_store.h"

#include "base/bad_file.h"
#include "base/file_writer.h"
#include "base/json_text.h"
#include "base/text_util.h"
#include "base/url.h"
#include "base/uuid.h"

#include <mutex>
#include <unordered_set>

namespace qv {

namespace fs = std::filesystem;

namespace {

    // Control characters and runs of blanks become one space; the ends are trimmed.
    std::string foldedBookmarkText(std::string_view text, size_t maxBytes)
    {
        std::string clean = sanitizeUtf8(text);
        std::string out;
        out.reserve(std::min(clean.size(), maxBytes + 8));
        bool space = false;
        for (unsigned char c : clean) {
            if (c < 0x20 || c == 0x7f || c == ' ') {
                space = !out.empty();
                continue;
            }
            if (space)
                out.push_back(' ');
            space = false;
            out.push_back(static_cast<char>(c));
            if (out.size() > maxBytes + 4)
                break;
        }
        return cutUtf8(std::move(out), maxBytes);
    }

    // U+2215 DIVISION SLASH, what a "/" inside a folder name is kept as.
    constexpr std::string_view kFolderNameSlash = "\xE2\x88\x95";

} // namespace

bool isBookmarkableURL(std::string_view url)
{
    if (url.empty() || url.size() > kMaxBookmarkURLBytes)
        return false;
    auto parts = parseURL(url);
    if (!parts)
        return false;
    std::string scheme = parts->lowerScheme();
    if (scheme == "http" || scheme == "https")
        return parts->hasAuthority && !parts->host.empty();
    if (scheme == "file")
        return parts->hasAuthority && !parts->path.empty();
    return false;
}

std::string bookmarkTitleForStorage(std::string_view title)
{
    return foldedBookmarkText(title, kMaxBookmarkTitleBytes);
}

std::string bookmarkFolderNameForPath(std::string_view name)
{
    std::string folded = foldedBookmarkText(name, kMaxBookmarkFolderNameBytes);
    std::string out;
    for (char c : folded) {
        if (c == '/')
            out += kFolderNameSlash;
        else
            out.push_back(c);
    }
    return cutUtf8(std::move(out), kMaxBookmarkFolderNameBytes);
}

std::vector<std::string> bookmarkFolderNames(std::string_view folder)
{
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= folder.size()) {
        size_t slash = folder.find('/', start);
        std::string_view part = folder.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (!part.empty())
            names.emplace_back(part);
        if (slash == std::string_view::npos)
            break;
        start = slash + 1;
    }
    return names;
}

std::optional<std::string> bookmarkFolderForStorage(std::string_view folder)
{
    std::string path;
    size_t depth = 0;
    for (const std::string& part : bookmarkFolderNames(folder)) {
        std::string name = foldedBookmarkText(part, kMaxBookmarkFolderNameBytes);
        if (name.empty())
            continue;
        if (++depth > kMaxBookmarkFolderDepth)
            return std::nullopt;
        if (!path.empty())
            path += '/';
        path += name;
    }
    return path;
}

std::vector<std::string> bookmarkTagsForStorage(const std::vector<std::string>& tags)
{
    std::vector<std::string> kept;
    for (const std::string& tag : tags) {
        std::string withoutCommas;
        for (char c : tag)
            withoutCommas.push_back(c == ',' ? ' ' : c);
        std::string clean = foldedBookmarkText(withoutCommas, kMaxBookmarkTagBytes);
        if (clean.empty() || std::find(kept.begin(), kept.end(), clean) != kept.end())
            continue;
        kept.push_back(std::move(clean));
        if (kept.size() == kMaxBookmarkTags)
            break;
    }
    return kept;
}

std::optional<Bookmark> cleanBookmark(Bookmark bookmark)
{
    if (!isBookmarkableURL(bookmark.url))
        return std::nullopt;
    auto folder = bookmarkFolderForStorage(bookmark.folder);
    if (!folder)
        return std::nullopt;
    bookmark.folder = std::move(*folder);
    bookmark.title = bookmarkTitleForStorage(bookmark.title);
    bookmark.tags = bookmarkTagsForStorage(bookmark.tags);
    if (bookmark.id.empty() || bookmark.id.size() > 64 || !isValidUtf8(bookmark.id))
        bookmark.id = makeUUIDString();
    return bookmark;
}

bool isSameBookmark(const Bookmark& a, const Bookmark& b)
{
    return a.url == b.url && a.title == b.title && a.folder == b.folder;
}

std::string bookmarkDuplicateKey(const Bookmark& bookmark)
{
    // NUL never occurs in a kept string, so the parts cannot run into one another.
    std::string key;
    key.reserve(bookmark.url.size() + bookmark.title.size() + bookmark.folder.size() + 2);
    key += bookmark.url;
    key += '\0';
    key += bookmark.title;
    key += '\0';
    key += bookmark.folder;
    return key;
}

BookmarkMerge mergeBookmarks(std::vector<Bookmark>& into, std::vector<Bookmark> incoming)
{
    BookmarkMerge merge;
    std::unordered_set<std::string> seen;
    std::unordered_set<std::string> ids;
    seen.reserve(into.size() + incoming.size());
    for (const Bookmark& bookmark : into) {
        seen.insert(bookmarkDuplicateKey(bookmark));
        ids.insert(bookmark.id);
    }
    for (Bookmark& bookmark : incoming) {
        if (!seen.insert(bookmarkDuplicateKey(bookmark)).second) {
            ++merge.duplicates;
            continue;
        }
        if (into.size() >= kMaxBookmarks) {
            ++merge.overLimit;
            continue;
        }
        while (bookmark.id.empty() || !ids.insert(bookmark.id).second)
            bookmark.id = makeUUIDString();
        into.push_back(std::move(bookmark));
        ++merge.added;
    }
    return merge;
}

std::string bookmarksFileText(const std::vector<Bookmark>& bookmarks)
{
    Json list = Json::array();
    for (const Bookmark& bookmark : bookmarks) {
        Json entry = Json::object();
        entry["id"] = bookmark.id;
        entry["title"] = bookmark.title;
        entry["url"] = bookmark.url;
        entry["created"] = bookmark.created;
        entry["folder"] = bookmark.folder;
        entry["tags"] = bookmark.tags;
        list.push_back(std::move(entry));
    }
    Json root = Json::object();
    root["bookmarks"] = std::move(list);
    return dumpJson(root, 1) + "\n";
}

Result<BookmarksFileContents> parseBookmarksFile(std::string_view text)
{
    auto parsed = parseJsonDescribed(text);
    if (!parsed)
        return Result<BookmarksFileContents>::failure(parsed.error());
    const Json& root = *parsed;
    if (!root.is_object() || !root.contains("bookmarks") || !root["bookmarks"].is_array())
        return Result<BookmarksFileContents>::failure("invalid bookmarks format");
    const Json& list = root["bookmarks"];
    if (list.size() > kMaxBookmarks)
        return Result<BookmarksFileContents>::failure(
            "more than " + std::to_string(kMaxBookmarks) + " bookmarks");
    BookmarksFileContents contents;
    contents.bookmarks.reserve(list.size());
    std::unordered_set<std::string> ids;
    for (const Json& entry : list) {
        if (!entry.is_object() || !entry.contains("url") || !entry["url"].is_string()) {
            ++contents.dropped;
            continue;
        }
        Bookmark bookmark;
        bookmark.id = jsonString(entry, "id");
        bookmark.title = jsonString(entry, "title");
        bookmark.url = jsonString(entry, "url");
        bookmark.folder = jsonString(entry, "folder");
        if (auto created = entry.find("created"); created != entry.end() && created->is_number_integer())
            bookmark.created = created->get<std::int64_t>();
        if (auto tags = entry.find("tags"); tags != entry.end() && tags->is_array()) {
            for (const Json& tag : *tags) {
                if (tag.is_string() && bookmark.tags.size() < kMaxBookmarkTags * 4)
                    bookmark.tags.push_back(tag.get<std::string>());
            }
        }
        auto clean = cleanBookmark(std::move(bookmark));
        if (!clean) {
            ++contents.dropped;
            continue;
        }
        if (!ids.insert(clean->id).second)
            clean->id = makeUUIDString();
        contents.bookmarks.push_back(std::move(*clean));
    }
    return contents;
}

struct BookmarkStore::WriteState {
    std::mutex mutex;
    std::vector<std::string> failures;
    std::function<void()> reported;
};

BookmarkStore::BookmarkStore(fs::path file, FileWriter& writer, std::function<void()> writeReported)
    : m_file(std::move(file))
    , m_writer(writer)
    , m_writeState(std::make_shared<WriteState>())
{
    m_writeState->reported = std::move(writeReported);
}

// Writes still queued finish without the store: their hooks hold the state.
BookmarkStore::~BookmarkStore() = default;

BookmarksLoad BookmarkStore::read(const fs::path& file)
{
    BookmarksLoad loaded;
    loaded.read = readWholeFile(file, kBookmarksFileLimit);
    if (loaded.read.status == ReadStatus::Missing)
        return loaded;
    if (loaded.read.status == ReadStatus::Failed) {
        loaded.problem = loaded.read.error;
        return loaded;
    }
    auto parsed = parseBookmarksFile(loaded.read.contents);
    if (!parsed) {
        loaded.problem = parsed.error();
        return loaded;
    }
    loaded.contents = std::move(parsed.value());
    // The text is no longer needed once understood; only a damaged file's bytes are kept.
    loaded.read.contents.clear();
    loaded.read.contents.shrink_to_fit();
    return loaded;
}

std::optional<std::string> BookmarkStore::adopt(BookmarksLoad loaded)
{
    m_loaded = true;
    if (loaded.contents) {
        m_bookmarks = std::move(loaded.contents->bookmarks);
        return std::nullopt;
    }
    if (loaded.read.status == ReadStatus::Missing)
        return std::nullopt;
    // Never written over: a damaged file is the user's bookmarks until proven otherwise.
    m_readOnly = true;
    std::string message = "Cannot read bookmarks file " + m_file.string() + ": " + loaded.problem;
    auto kept = keepBadFileAside(m_file, loaded.read);
    if (kept)
        message += ". A copy was kept as " + kept->string() + ".";
    else
        message += ". No copy could be kept: " + kept.error() + ".";
    return message + " Bookmarks cannot be changed until the browser is restarted.";
}

Result<Done> BookmarkStore::set(std::vector<Bookmark> bookmarks, std::optional<std::string> fileText)
{
    if (!m_loaded || m_readOnly)
        return Result<Done>::failure(std::string(kBookmarksReadOnlyMessage));
    m_bookmarks = std::move(bookmarks);
    ++m_generation;
    FileWriteHooks hooks;
    hooks.done = [state = m_writeState](const FileWriteReport& report) {
        if (report.kind == FileWriteReport::Kind::Written)
            return;
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->failures.push_back("Could not save bookmarks: "
                + (report.message.empty() ? std::string("write failed") : report.message));
        }
        if (state->reported)
            state->reported();
    };
    if (fileText) {
        m_writer.submit(m_file, std::move(*fileText), std::move(hooks));
        return Done {};
    }
    // The text is made on the writer's thread from a copy: a large list costs the UI thread
    // one copy, not the serialising.
    m_writer.submitMade(
        m_file,
        [copy = m_bookmarks]() -> Result<std::string> { return bookmarksFileText(copy); },
        std::move(hooks));
    return Done {};
}

std::vector<std::string> BookmarkStore::takeWriteFailures()
{
    std::lock_guard<std::mutex> lock(m_writeState->mutex);
    return std::exchange(m_writeState->failures, {});
}

} // namespace qv

namespace qv {

std::vector<size_t> bookmarkSearchRows(const std::vector<Bookmark>& bookmarks, const std::string& search)
{
    std::string needle = toLowerAscii(trim(search));
    std::vector<size_t> rows;
    rows.reserve(bookmarks.size());
    auto holds = [&needle](const std::string& text) {
        return toLowerAscii(text).find(needle) != std::string::npos;
    };
    for (size_t n = 0; n < bookmarks.size(); ++n) {
        const Bookmark& b = bookmarks[n];
        if (needle.empty() || holds(b.title) || holds(b.url) || holds(b.folder)
            || std::any_of(b.tags.begin(), b.tags.end(), holds))
            rows.push_back(n);
    }
    return rows;
}

std::vector<Bookmark> bookmarksAfterDrop(
    std::vector<Bookmark> bookmarks, const std::string& moving, const std::string& target)
{
    auto byID = [&](const std::string& id) {
        return std::find_if(bookmarks.begin(), bookmarks.end(),
            [&](const Bookmark& b) { return b.id == id; });
    };
    auto from = byID(moving);
    auto to = byID(target);
    if (from == bookmarks.end() || to == bookmarks.end() || from == to)
        return bookmarks;
    Bookmark moved = std::move(*from);
    moved.folder = to->folder;
    bookmarks.erase(from);
    bookmarks.insert(byID(target), std::move(moved));
    return bookmarks;
}

} // namespace qv
