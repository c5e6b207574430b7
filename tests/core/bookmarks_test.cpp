// The bookmarks file, the Netscape bookmark file reader and writer, and the damaged-file rule.
#include "base/atomic_file.h"
#include "base/file_writer.h"
#include "bookmarks/bookmark_store.h"
#include "bookmarks/netscape_bookmarks.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qv::test {

namespace {

    constexpr std::int64_t kNow = 1765000000;

    // "folder|title|url|tags" per bookmark, in order.
    std::vector<std::string> described(const std::vector<Bookmark>& bookmarks)
    {
        std::vector<std::string> out;
        for (const Bookmark& b : bookmarks) {
            std::string tags;
            for (const auto& tag : b.tags)
                tags += (tags.empty() ? "" : ",") + tag;
            out.push_back(b.folder + "|" + b.title + "|" + b.url + "|" + tags);
        }
        return out;
    }

    std::string nested(size_t depth, const std::string& inner)
    {
        std::string open, close;
        for (size_t n = 0; n < depth; ++n) {
            open += "<DT><H3>F</H3><DL><p>";
            close += "</DL><p>";
        }
        return open + inner + close;
    }

} // namespace

TEST(NetscapeBookmarks, ReadsWhatIsSoundAndCountsWhatIsNot)
{
    struct Case {
        const char* name;
        std::string html;
        std::vector<std::string> expected;
        size_t skipped;
    };
    const std::vector<Case> cases = {
        { "folders, non-ASCII titles, tags and dates",
            "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n"
            "<DT><A HREF=\"https://a.test/\" ADD_DATE=\"1700000000\" TAGS=\"x,y\">Caf\xC3\xA9 "
            "&amp; \xE6\x97\xA5\xE6\x9C\xAC</A>\n"
            "<DT><H3 ADD_DATE=\"1\">Work</H3>\n<DL><p>\n"
            "  <DT><H3>Deep/er</H3><DL><p><DT><A HREF=\"https://b.test/?q=1&amp;r=2\">B</A></DL><p>\n"
            "  <DT><A HREF=\"file:///home/me/notes.txt\">Notes</A>\n"
            "</DL><p>\n<DT><A HREF=\"http://c.test/\">C</A>\n</DL><p>\n",
            { "|Caf\xC3\xA9 & \xE6\x97\xA5\xE6\x9C\xAC|https://a.test/|x,y",
                "Work/Deep\xE2\x88\x95" "er|B|https://b.test/?q=1&r=2|",
                "Work|Notes|file:///home/me/notes.txt|", "|C|http://c.test/|" },
            0 },
        { "odd markup: lower case, unquoted and single-quoted values, tags inside titles, "
          "references, comments, unclosed entries",
            "<dl><!-- <a href=\"https://hidden.test/\">no</a> -->"
            "<dt><a href=https://d.test/ add_date=x>D <b>bold</b> &#x263A;&#9731;&bogus;</a>"
            "<dt><a href='https://e.test/'>E unclosed\n<dt><a HREF=\"https://f.test/\">F</A></dl>",
            { "|D bold \xE2\x98\xBA\xE2\x98\x83&bogus;|https://d.test/|", "|E unclosed|https://e.test/|",
                "|F|https://f.test/|" },
            0 },
        { "hostile addresses are skipped, named anchors are not entries",
            "<DL><DT><A HREF=\"javascript:alert(1)\">J</A><DT><A HREF=\"data:text/html,x\">D</A>"
            "<DT><A HREF=\"\">E</A><DT><A NAME=\"top\">anchor</A><DT><A HREF=\"https://"
            + std::string(kMaxBookmarkURLBytes, 'a') + "/\">long</A>"
            "<DT><A HREF=\"ftp://x.test/\">F</A><DT><A HREF=\"https://ok.test/\">ok</A></DL>",
            { "|ok|https://ok.test/|" }, 5 },
        { "nesting deeper than the folder limit is skipped, the rest kept",
            "<DL>" + nested(kMaxBookmarkFolderDepth + 1, "<DT><A HREF=\"https://deep.test/\">x</A>")
                + "<DT><A HREF=\"https://top.test/\">top</A></DL>",
            { "|top|https://top.test/|" }, 1 },
        { "broken markup: a quote that never closes, stray brackets, a cut-off end",
            "<DL>< <> <DT><A HREF=\"https://g.test/\">G</A><DT><A HREF=\"https://h.test/ "
            "ADD_DATE=1>H</A><DT><A HREF=\"https://i.test/\">I",
            { "|G|https://g.test/|", "|I|https://i.test/|" }, 1 },
    };
    for (const Case& c : cases) {
        BookmarkImport read = parseNetscapeBookmarks(c.html, kNow);
        EXPECT_EQ(described(read.bookmarks), c.expected) << c.name;
        EXPECT_EQ(read.skipped, c.skipped) << c.name;
    }
}

TEST(NetscapeBookmarks, WrittenFilesReadBackTheSame)
{
    std::vector<Bookmark> original = {
        { "1", "<Top> & \"quoted\"", "https://a.test/?a=1&b=2", 1700000000, "", { "t1", "t2" } },
        { "2", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "https://b.test/", 1700000001,
            "Bar/Sub", {} },
        { "3", "Sibling", "file:///tmp/x%20y.html", 1700000002, "Bar", {} },
        { "4", "Later top", "http://c.test/", 1700000003, "", {} },
    };
    BookmarkImport read = parseNetscapeBookmarks(netscapeBookmarksText(original), kNow);
    EXPECT_EQ(read.skipped, 0u);
    ASSERT_EQ(read.bookmarks.size(), original.size());
    // Folders are written where they first appear, so the order is by folder, then list order.
    std::vector<std::string> expected
        = { described({ original[0] })[0], described({ original[1] })[0],
              described({ original[2] })[0], described({ original[3] })[0] };
    std::vector<std::string> got = described(read.bookmarks);
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expected);
    for (const Bookmark& b : read.bookmarks)
        EXPECT_GE(b.created, 1700000000);
}

TEST(Bookmarks, ImportsAddAndSkipExactDuplicatesOnly)
{
    std::vector<Bookmark> mine = { { "a", "A", "https://a.test/", 1, "", {} } };
    BookmarkMerge merge = mergeBookmarks(mine,
        { { "x", "A", "https://a.test/", 2, "", {} }, { "y", "A again", "https://a.test/", 2, "", {} },
            { "z", "A", "https://a.test/", 2, "Other", {} },
            { "a", "New", "https://n.test/", 2, "", {} }, { "q", "New", "https://n.test/", 2, "", {} } });
    EXPECT_EQ(merge.added, 3u);
    EXPECT_EQ(merge.duplicates, 2u);
    ASSERT_EQ(mine.size(), 4u);
    EXPECT_NE(mine[3].id, "a"); // ids stay unique
}

TEST(Bookmarks, TheFileReadsBackAndDropsUnsoundEntries)
{
    std::vector<Bookmark> list = { { "1", "T", "https://a.test/", 5, "A/B", { "x" } } };
    auto parsed = parseBookmarksFile(bookmarksFileText(list));
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(described(parsed->bookmarks), described(list));
    EXPECT_EQ(parsed->bookmarks[0].created, 5);

    auto mixed = parseBookmarksFile(R"({"bookmarks": [{"url": "javascript:x"}, 3,
        {"url": "https://ok.test/", "title": 7}]})");
    ASSERT_TRUE(mixed);
    EXPECT_EQ(mixed->dropped, 2u);
    EXPECT_EQ(described(mixed->bookmarks), std::vector<std::string> { "||https://ok.test/|" });
    for (const char* damaged : { "", "{", "[]", "{\"bookmarks\": {}}" })
        EXPECT_FALSE(parseBookmarksFile(damaged)) << damaged;
}

TEST(Bookmarks, ADamagedFileIsKeptAsideOnceAndNeverWrittenOver)
{
    TempDir dir;
    auto file = dir / "bookmarks.json";
    const std::string damaged = "{\"bookmarks\": [\xFF not json";
    std::ofstream(file, std::ios::binary) << damaged;
    FileWriter writer;
    BookmarkStore store(file, writer);
    auto report = store.adopt(BookmarkStore::read(file));
    ASSERT_TRUE(report);
    EXPECT_NE(report->find("Cannot read bookmarks file"), std::string::npos) << *report;
    EXPECT_TRUE(store.readOnly());
    EXPECT_FALSE(store.set({ { "1", "T", "https://a.test/", 5, "", {} } }));
    writer.flush();
    EXPECT_EQ(readWholeFile(file).contents, damaged);
    EXPECT_EQ(readWholeFile(dir / "bookmarks.json.bad").contents, damaged);

    // A missing file is an empty list that saves.
    auto fresh = dir / "fresh.json";
    BookmarkStore writable(fresh, writer);
    EXPECT_FALSE(writable.adopt(BookmarkStore::read(fresh)));
    ASSERT_TRUE(writable.set({ { "1", "T", "https://a.test/", 5, "", {} } }));
    writer.flush();
    auto back = parseBookmarksFile(readWholeFile(fresh).contents);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->bookmarks.size(), 1u);
}

} // namespace qv::test
