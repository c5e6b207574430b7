// Reading and writing the Netscape bookmark file.
#include "bookmarks/netscape_bookmarks.h"

#include "base/text_util.h"

#include <map>
#include <optional>

namespace qv {

namespace {

    // A quoted attribute value longer than this has lost its closing quote.
    constexpr size_t kMaxNetscapeAttributeBytes = 4 * kMaxBookmarkURLBytes;
    // Unix seconds of the year 3000: a larger ADD_DATE is in milli- or microseconds.
    constexpr std::int64_t kLatestBookmarkSeconds = 32503680000;

    char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

    // Whether text at pos starts with the lower-case word, in any case, not followed by a letter.
    bool hasWordAt(std::string_view text, size_t pos, std::string_view word)
    {
        if (text.size() - std::min(pos, text.size()) < word.size())
            return false;
        for (size_t i = 0; i < word.size(); ++i) {
            if (lowerAscii(text[pos + i]) != word[i])
                return false;
        }
        size_t after = pos + word.size();
        return after >= text.size() || !isAsciiAlnum(text[after]);
    }

    void appendUtf8(std::string& out, std::uint32_t code)
    {
        if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            code = 0xFFFD;
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }

    // Character references decoded; an unknown or broken one is kept as written.
    std::string decodedHtmlText(std::string_view text)
    {
        std::string out;
        out.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '&') {
                out.push_back(text[i]);
                continue;
            }
            size_t semi = text.find(';', i);
            if (semi == std::string_view::npos || semi - i > 10) {
                out.push_back('&');
                continue;
            }
            std::string_view name = text.substr(i + 1, semi - i - 1);
            static const std::map<std::string_view, std::string_view> named = { { "amp", "&" },
                { "lt", "<" }, { "gt", ">" }, { "quot", "\"" }, { "apos", "'" }, { "nbsp", " " } };
            if (auto found = named.find(name); found != named.end()) {
                out += found->second;
                i = semi;
                continue;
            }
            if (name.size() >= 2 && name[0] == '#') {
                bool hex = name[1] == 'x' || name[1] == 'X';
                std::string_view digits = name.substr(hex ? 2 : 1);
                std::uint32_t code = 0;
                bool ok = !digits.empty() && digits.size() <= 7;
                for (char c : digits) {
                    if (isAsciiDigit(c))
                        code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(c - '0');
                    else if (hex && lowerAscii(c) >= 'a' && lowerAscii(c) <= 'f')
                        code = code * 16 + static_cast<std::uint32_t>(lowerAscii(c) - 'a' + 10);
                    else
                        ok = false;
                }
                if (ok) {
                    appendUtf8(out, code);
                    i = semi;
                    continue;
                }
            }
            out.push_back('&');
        }
        return out;
    }

    // The text of an element's content with any tags inside it left out.
    std::string textWithoutTags(std::string_view content)
    {
        std::string out;
        bool inTag = false;
        for (char c : content) {
            if (c == '<')
                inTag = true;
            else if (c == '>' && inTag)
                inTag = false;
            else if (!inTag)
                out.push_back(c);
        }
        return decodedHtmlText(out);
    }

    struct NetscapeTag {
        std::string name; // lower case, "/dl" for an end tag
        std::map<std::string, std::string> attributes; // names in lower case, values decoded
        size_t end = 0; // just past the '>'
    };

    // The tag starting at text[lt] == '<'; nothing when it is no tag (a stray "<").
    std::optional<NetscapeTag> readNetscapeTag(std::string_view text, size_t lt)
    {
        NetscapeTag tag;
        size_t i = lt + 1;
        if (i < text.size() && text[i] == '/') {
            tag.name.push_back('/');
            ++i;
        }
        size_t nameStart = i;
        while (i < text.size() && (isAsciiAlnum(text[i]) || text[i] == '!' || text[i] == '-'))
            tag.name.push_back(lowerAscii(text[i++]));
        if (i == nameStart)
            return std::nullopt;
        while (i < text.size()) {
            char c = text[i];
            if (c == '>') {
                tag.end = i + 1;
                return tag;
            }
            if (c == '<') {
                // Unclosed: the tag ends where the next begins.
                tag.end = i;
                return tag;
            }
            if (!isAsciiAlpha(c)) {
                ++i;
                continue;
            }
            std::string attribute;
            while (i < text.size() && (isAsciiAlnum(text[i]) || text[i] == '_' || text[i] == '-' || text[i] == ':'))
                attribute.push_back(lowerAscii(text[i++]));
            while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
                ++i;
            std::string value;
            if (i < text.size() && text[i] == '=') {
                ++i;
                while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
                    ++i;
                if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
                    char quote = text[i++];
                    std::string_view window = text.substr(i, kMaxNetscapeAttributeBytes);
                    size_t close = window.find(quote);
                    size_t nextTag = window.find('<');
                    if (close == std::string_view::npos || nextTag < close) {
                        // A quote that never closes before the next tag: the value ends with
                        // its own tag.
                        size_t stop = window.find_first_of("><");
                        stop = stop == std::string_view::npos ? window.size() : stop;
                        value = window.substr(0, stop);
                        i += stop;
                    } else {
                        value = text.substr(i, close);
                        i += close + 1;
                    }
                } else {
                    size_t start = i;
                    while (i < text.size() && text[i] != '>' && text[i] != ' ' && text[i] != '\t'
                        && text[i] != '\n' && text[i] != '\r' && text[i] != '<')
                        ++i;
                    value = text.substr(start, std::min(i - start, kMaxNetscapeAttributeBytes));
                }
            }
            if (!attribute.empty() && !tag.attributes.count(attribute))
                tag.attributes.emplace(std::move(attribute), decodedHtmlText(value));
        }
        tag.end = text.size();
        return tag;
    }

    // Where an element's content ends: its end tag, else the next entry or list (unclosed
    // markup), else the end of the text. next is where reading goes on.
    size_t netscapeContentEnd(std::string_view text, size_t from, std::string_view endTag, size_t& next)
    {
        size_t i = from;
        while ((i = text.find('<', i)) != std::string_view::npos) {
            if (hasWordAt(text, i + 1, endTag)) {
                size_t gt = text.find('>', i);
                next = gt == std::string_view::npos ? text.size() : gt + 1;
                return i;
            }
            if (hasWordAt(text, i + 1, "dt") || hasWordAt(text, i + 1, "dl")
                || hasWordAt(text, i + 1, "/dl") || hasWordAt(text, i + 1, "a")
                || hasWordAt(text, i + 1, "h3")) {
                next = i;
                return i;
            }
            ++i;
        }
        next = text.size();
        return text.size();
    }

    std::int64_t bookmarkAddDate(const std::string* value, std::int64_t now)
    {
        if (!value || value->empty() || value->size() > 19)
            return now;
        std::int64_t seconds = 0;
        for (char c : *value) {
            if (!isAsciiDigit(c))
                return now;
            seconds = seconds * 10 + (c - '0');
        }
        while (seconds > kLatestBookmarkSeconds)
            seconds /= 1000;
        return seconds;
    }

    std::vector<std::string> splitBookmarkTags(const std::string* value)
    {
        std::vector<std::string> tags;
        if (!value)
            return tags;
        size_t start = 0;
        while (start <= value->size() && tags.size() < kMaxBookmarkTags * 4) {
            size_t comma = value->find(',', start);
            tags.push_back(value->substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
        return tags;
    }

    const std::string* attributeOf(const NetscapeTag& tag, const char* name)
    {
        auto found = tag.attributes.find(name);
        return found == tag.attributes.end() ? nullptr : &found->second;
    }

} // namespace

BookmarkImport parseNetscapeBookmarks(std::string_view html, std::int64_t now)
{
    BookmarkImport result;
    // Every open <DL>: whether it opened a named folder. Only named ones make the path.
    std::vector<bool> lists;
    std::vector<std::string> names;
    std::optional<std::string> pendingFolder;
    size_t i = 0;
    while ((i = html.find('<', i)) != std::string_view::npos) {
        if (html.compare(i, 4, "<!--") == 0) {
            size_t close = html.find("-->", i + 4);
            i = close == std::string_view::npos ? html.size() : close + 3;
            continue;
        }
        auto tag = readNetscapeTag(html, i);
        if (!tag) {
            ++i;
            continue;
        }
        i = std::max(tag->end, i + 1);
        if (tag->name == "dl") {
            bool named = pendingFolder.has_value() && !pendingFolder->empty();
            lists.push_back(named);
            if (named)
                names.push_back(std::move(*pendingFolder));
            pendingFolder.reset();
        } else if (tag->name == "/dl") {
            if (!lists.empty()) {
                if (lists.back())
                    names.pop_back();
                lists.pop_back();
            }
        } else if (tag->name == "h3") {
            size_t next = i;
            size_t end = netscapeContentEnd(html, i, "/h3", next);
            pendingFolder = bookmarkFolderNameForPath(textWithoutTags(html.substr(i, end - i)));
            i = next;
        } else if (tag->name == "a") {
            size_t next = i;
            size_t end = netscapeContentEnd(html, i, "/a", next);
            std::string_view content = html.substr(i, end - i);
            i = next;
            const std::string* href = attributeOf(*tag, "href");
            if (!href) {
                // A named anchor, not an entry; only one with an address is a bookmark.
                continue;
            }
            if (names.size() > kMaxBookmarkFolderDepth || result.bookmarks.size() >= kMaxBookmarks
                || href->size() > kMaxBookmarkURLBytes) {
                ++result.skipped;
                continue;
            }
            Bookmark bookmark;
            bookmark.url = trim(*href);
            bookmark.title = content.size() > 4 * kMaxBookmarkTitleBytes
                ? textWithoutTags(content.substr(0, 4 * kMaxBookmarkTitleBytes))
                : textWithoutTags(content);
            bookmark.created = bookmarkAddDate(attributeOf(*tag, "add_date"), now);
            bookmark.tags = splitBookmarkTags(attributeOf(*tag, "tags"));
            for (size_t n = 0; n < names.size(); ++n) {
                if (n)
                    bookmark.folder += '/';
                bookmark.folder += names[n];
            }
            auto clean = cleanBookmark(std::move(bookmark));
            if (!clean) {
                ++result.skipped;
                continue;
            }
            result.bookmarks.push_back(std::move(*clean));
        }
    }
    return result;
}

namespace {

    struct ExportFolder {
        std::string name;
        // In order: a bookmark's index in the list, or a subfolder's index (negative - 1).
        std::vector<long> items;
    };

    void writeExportFolder(const std::vector<ExportFolder>& folders, size_t index,
        const std::vector<Bookmark>& bookmarks, int depth, std::string& out)
    {
        std::string indent(static_cast<size_t>(depth) * 4, ' ');
        for (long item : folders[index].items) {
            if (item < 0) {
                size_t child = static_cast<size_t>(-item - 1);
                out += indent + "<DT><H3>" + htmlEscaped(folders[child].name) + "</H3>\n";
                out += indent + "<DL><p>\n";
                writeExportFolder(folders, child, bookmarks, depth + 1, out);
                out += indent + "</DL><p>\n";
                continue;
            }
            const Bookmark& bookmark = bookmarks[static_cast<size_t>(item)];
            out += indent + "<DT><A HREF=\"" + htmlEscaped(bookmark.url) + "\" ADD_DATE=\""
                + std::to_string(bookmark.created) + "\"";
            if (!bookmark.tags.empty()) {
                std::string tags;
                for (const std::string& tag : bookmark.tags)
                    tags += (tags.empty() ? "" : ",") + tag;
                out += " TAGS=\"" + htmlEscaped(tags) + "\"";
            }
            out += ">" + htmlEscaped(bookmark.title) + "</A>\n";
        }
    }

} // namespace

std::string netscapeBookmarksText(const std::vector<Bookmark>& bookmarks)
{
    std::vector<ExportFolder> folders(1);
    std::map<std::string, size_t> byPath { { "", 0 } };
    for (size_t n = 0; n < bookmarks.size(); ++n) {
        size_t parent = 0;
        std::string path;
        for (const std::string& name : bookmarkFolderNames(bookmarks[n].folder)) {
            path += (path.empty() ? "" : "/") + name;
            auto found = byPath.find(path);
            if (found == byPath.end()) {
                folders.push_back({ name, {} });
                size_t made = folders.size() - 1;
                folders[parent].items.push_back(-static_cast<long>(made) - 1);
                found = byPath.emplace(path, made).first;
            }
            parent = found->second;
        }
        folders[parent].items.push_back(static_cast<long>(n));
    }
    std::string out = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
                      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
                      "<TITLE>Bookmarks</TITLE>\n"
                      "<H1>Bookmarks</H1>\n"
                      "<DL><p>\n";
    writeExportFolder(folders, 0, bookmarks, 1, out);
    out += "</DL><p>\n";
    return out;
}

std::string bookmarkImportSummary(size_t imported, size_t skipped)
{
    std::string text = "Imported " + std::to_string(imported)
        + (imported == 1 ? " bookmark" : " bookmarks");
    if (skipped == 0)
        return text + ".";
    return text + " and skipped " + std::to_string(skipped)
        + " (duplicates or unusable entries).";
}

} // namespace qv
