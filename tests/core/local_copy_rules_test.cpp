// Local copy mapping, containment, relative links, link rewriting, limits and copy ownership.
#include "devtools/local_copy_rules.h"

#include "base/new_folder.h"
#include "base/text_util.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qv {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

const std::string kPage = "https://example.com/";

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(LocalCopyMapping, QueryHashVectors)
{
    EXPECT_EQ(localCopyQueryHash(""), 0x14650fb0739d0383ULL);
    EXPECT_EQ(localCopyQueryHash("v=3"), 0x8533cc516a4675ffULL);
    EXPECT_EQ(localCopyQueryHash("a=1&b=2"), 0xf4e1f3d9478b6d4fULL);
}

TEST(LocalCopyMapping, AddressesMapToTheirFiles)
{
    struct Case {
        std::string url;
        std::optional<Names> names;
    };
    const std::vector<Case> cases {
        { "https://example.com/", Names { "index.html" } },
        { "https://example.com", Names { "index.html" } },
        { "https://Example.COM/a/", Names { "a", "index.html" } },
        { "https://example.com:8443/x", Names { "x" } },
        { "https://example.com/css/site.css?v=3", Names { "css", "site-8533cc516a4675ff.css" } },
        { "https://example.com/css/site.css?v=4", Names { "css", "site-8533c9516a4670e6.css" } },
        { "https://example.com/api?x", Names { "api-44bda3d473cdc381" } },
        { "https://example.com/?", Names { "index-14650fb0739d0383.html" } },
        { "https://example.com/a%20b.css", Names { "a b.css" } },
        { "https://example.com/page.html#top", Names { "page.html" } },
        { "https://CDN.Other.org/lib/x.js", Names { "_external", "cdn.other.org", "lib", "x.js" } },
        { "file:///etc/passwd", std::nullopt },
        { "data:text/plain,hi", std::nullopt },
        { "https:///x", std::nullopt },
        { "not a url", std::nullopt },
    };
    for (const Case& c : cases)
        EXPECT_EQ(localCopyComponents(c.url, kPage), c.names) << c.url;
}

TEST(LocalCopyMapping, EveryPathStaysInsideTheFolder)
{
    const fs::path folder = "/tmp/copy";
    const std::string longName(300, 'a');
    std::string longUtf8;
    for (int i = 0; i < 200; ++i)
        longUtf8 += "\xC3\xA9";
    struct Case {
        std::string url;
        std::optional<Names> names; // nothing: only the containment checks
    };
    const std::vector<Case> cases {
        { "https://example.com/%2e%2e/%2e%2e/etc/passwd", Names { "etc", "passwd" } },
        { "https://example.com/..%2F..%2Fetc", Names { "etc" } },
        { "https://example.com/./a//b", Names { "a", "b" } },
        { "https://example.com/a\\..\\..\\b", Names { "a", "b" } },
        { "https://example.com/%5c..%5c..%5cx", Names { "x" } },
        { "https://example.com/%2F%2F..%2F", Names { "index.html" } },
        { "https://example.com/a%00b", Names { "a%00b" } },
        { "https://example.com/a%0Ab", Names { "a%0Ab" } },
        { "https://example.com/" + longName + ".js", std::nullopt },
        { "https://example.com/" + longName + ".js?v=1", std::nullopt },
        { "https://example.com/" + longName, std::nullopt },
        { "https://example.com/" + longUtf8 + ".css", std::nullopt },
        { "https://example.com/" + longName + "." + longName, std::nullopt },
    };
    for (const Case& c : cases) {
        auto names = localCopyComponents(c.url, kPage);
        ASSERT_TRUE(names) << c.url;
        if (c.names) {
            EXPECT_EQ(*names, *c.names) << c.url;
        }
        for (const std::string& name : *names) {
            EXPECT_FALSE(name.empty() || name == "." || name == "..") << c.url;
            EXPECT_LE(name.size(), 255u) << c.url;
            EXPECT_EQ(name.find_first_of(std::string("/\\\0", 3)), std::string::npos) << c.url;
            EXPECT_TRUE(isValidUtf8(name)) << c.url;
        }
        auto file = localFileForSourceURL(c.url, folder, kPage);
        ASSERT_TRUE(file);
        EXPECT_TRUE(startsWith(file->lexically_normal().string(), "/tmp/copy/")) << c.url;
    }
    // Long names keep their extension and stay distinct.
    auto a = localCopyComponents("https://example.com/" + longName + ".js", kPage);
    auto b = localCopyComponents("https://example.com/" + longName + "b.js", kPage);
    EXPECT_TRUE(endsWith(a->back(), ".js"));
    EXPECT_NE(a->back(), b->back());

    EXPECT_FALSE(localCopyComponents("http://../x", kPage));
    EXPECT_FALSE(localCopyComponents("http://%2e%2e/x", kPage));
    EXPECT_TRUE(localCopyComponents("http://a/b/x", ""));
    EXPECT_FALSE(localFileForSourceURL("https://example.com/", std::nullopt, kPage));
    EXPECT_FALSE(localFileForSourceURL("file:///tmp/copy/../etc/passwd", folder, kPage));
    EXPECT_FALSE(localFileForSourceURL("file:///tmp/copy", folder, kPage));
    EXPECT_EQ(localFileForSourceURL("file:///tmp/copy/a/b.html", folder, kPage),
        fs::path("/tmp/copy/a/b.html"));
}

TEST(LocalCopyLinks, RelativeLinksFollowEachFilesLocation)
{
    struct Case {
        std::string from;
        std::string to;
        std::string link;
    };
    const std::vector<Case> cases {
        { kPage, "https://example.com/css/a.css", "css/a.css" },
        { "https://example.com/blog/post.html", "https://example.com/css/a.css", "../css/a.css" },
        { "https://example.com/blog/post.html", "https://example.com/blog/img/x.png", "img/x.png" },
        { "https://example.com/a/b/c.html", kPage, "../../index.html" },
        { "https://example.com/page.html", "https://example.com/page.html", "page.html" },
        { kPage, "https://cdn.net/lib/x.js", "_external/cdn.net/lib/x.js" },
        // A file of another host lives under _external and links from there.
        { "https://cdn.net/lib/x.css", "https://example.com/img/y.png", "../../../img/y.png" },
        { kPage, "https://example.com/a%20b%3Fc%23d.css", "a%20b%3Fc%23d.css" },
        { kPage, "https://example.com/caf%C3%A9.js", "caf%C3%A9.js" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(relativeLocalPathForSourceURL(c.to, c.from, kPage), c.link)
            << c.from << " " << c.to;
    EXPECT_FALSE(relativeLocalPathForSourceURL("data:x", kPage, kPage));
    EXPECT_EQ(relativeLocalLink({ "a" }, { "a", "index.html" }), "a/index.html");
}

TEST(LocalCopyRewriting, PageInSubFolderGetsEveryLinkLocal)
{
    const std::string page = "https://example.com/blog/post.html";
    const std::vector<SourceResource> resources {
        { page, "html" },
        { "https://example.com/", "html" },
        { "https://example.com/about", "html" },
        { "https://example.com/a", "html" },
        { "https://example.com/css/site.css?v=3", "css" },
        { "https://example.com/img/s.png", "image" },
        { "https://example.com/img/l.png", "image" },
        { "https://cdn.net/lib/x.js", "js" },
        { "https://example.com/q?a=1&b=2", "text" },
    };
    LocalCopyLinkRewriter rewriter(resources, page);
    struct Case {
        std::string text;
        std::string rewritten;
    };
    const std::vector<Case> cases {
        { "<a href=\"https://example.com/about\">", "<a href=\"../about\">" },
        { "<a href=\"https://example.com/\">", "<a href=\"../index.html\">" },
        { "<a href='/about'><a href=/a>", "<a href='../about'><a href=../a>" },
        { "<a href=\"/about-us\"><a href=\"/ab\">", "<a href=\"/about-us\"><a href=\"/ab\">" },
        { "<a href=\"/a#top\">", "<a href=\"../a#top\">" },
        { "<link href=\"/css/site.css?v=3\">", "<link href=\"../css/site-8533cc516a4675ff.css\">" },
        { "<link href=\"/css/site.css\">", "<link href=\"../css/site-8533cc516a4675ff.css\">" },
        { "<img srcset=\"/img/s.png 1x, https://example.com/img/l.png 2x\">",
            "<img srcset=\"../img/s.png 1x, ../img/l.png 2x\">" },
        { "<img srcset=\"/img/s.png,/img/l.png\">", "<img srcset=\"../img/s.png,../img/l.png\">" },
        { "<div style=\"background:url(/img/s.png)\">",
            "<div style=\"background:url(../img/s.png)\">" },
        { "<script src=\"//cdn.net/lib/x.js\">", "<script src=\"../_external/cdn.net/lib/x.js\">" },
        { "<a href=\"/q?a=1&amp;b=2\">", "<a href=\"../q-f4e1f3d9478b6d4f\">" },
        { "text /about and x/about", "text ../about and x/about" },
        { "<a href=\"https://example.com/about/x\">", "<a href=\"https://example.com/about/x\">" },
        { "<a href=\"https://other.org/about\">", "<a href=\"https://other.org/about\">" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(rewriter.rewrite(c.text, page, "html"), c.rewritten) << c.text;
}

TEST(LocalCopyRewriting, LongestAddressWinsAndNothingIsRewrittenTwice)
{
    // The page is a prefix of every other address.
    const std::vector<SourceResource> resources {
        { kPage, "html" },
        { "https://example.com/about", "html" },
        { "https://example.com/about/team", "html" },
        { "https://example.com/index.html", "html" },
    };
    LocalCopyLinkRewriter rewriter(resources, kPage);
    EXPECT_EQ(rewriter.rewrite("\"https://example.com/about/team\" \"https://example.com/about\" "
                               "\"https://example.com/\"",
                  kPage, "html"),
        "\"about/team\" \"about\" \"index.html\"");
    // "/index.html" becomes "index.html", which is never matched again as a path.
    EXPECT_EQ(rewriter.rewrite("'/index.html'", kPage, "js"), "'index.html'");
}

TEST(LocalCopyRewriting, ExternalStyleSheetResolvesPathsOnItsOwnHost)
{
    const std::vector<SourceResource> resources {
        { kPage, "html" },
        { "https://example.com/img/a.png", "image" },
        { "https://cdn.net/css/x.css", "css" },
        { "https://cdn.net/img/b.png", "image" },
    };
    LocalCopyLinkRewriter rewriter(resources, kPage);
    EXPECT_EQ(rewriter.rewrite("a{background:url(/img/a.png)} b{background:url('/img/b.png')}",
                  "https://cdn.net/css/x.css", "css"),
        "a{background:url(/img/a.png)} b{background:url('../img/b.png')}");
    EXPECT_EQ(
        rewriter.rewrite("url(https://example.com/img/a.png)", "https://cdn.net/css/x.css", "css"),
        "url(../../../img/a.png)");
}

TEST(LocalCopyFiles, TextThatIsNotUtf8IsWrittenUnchanged)
{
    const std::vector<SourceResource> resources {
        { kPage, "html" },
        { "https://example.com/about", "html" },
        { "https://example.com/notes.txt", "text" },
        { "https://example.com/bin.png", "image" },
    };
    const std::string broken = "\xFF\xFE<a href=\"https://example.com/about\">";
    std::map<std::string, std::string> bodies {
        { kPage, broken },
        { "https://example.com/about", "<a href=\"https://example.com/\">" },
        { "https://example.com/notes.txt", "see https://example.com/about" },
        { "https://example.com/bin.png", "\x89PNG https://example.com/about" },
    };
    test::TempDir dir;
    Result<NewFolder> folder = NewFolder::createInside(dir.path(), "copy");
    ASSERT_TRUE(folder);
    const fs::path copy = folder->path();
    auto files = localCopyFiles(resources, bodies, kPage, copy);
    ASSERT_EQ(files.size(), 4u);
    LocalCopyFailures failures = writeLocalCopyFiles(files, folder.value());
    EXPECT_EQ(failures.count(), 0u);
    EXPECT_EQ(readFile(copy / "index.html"), broken);
    EXPECT_EQ(readFile(copy / "about"), "<a href=\"index.html\">");
    EXPECT_EQ(readFile(copy / "notes.txt"), "see https://example.com/about");
    EXPECT_EQ(readFile(copy / "bin.png"), "\x89PNG https://example.com/about");
}

TEST(LocalCopyFiles, WriteFailuresNameTheFile)
{
    test::TempDir dir;
    Result<NewFolder> folder = NewFolder::createInside(dir.path(), "copy");
    ASSERT_TRUE(folder);
    const fs::path copy = folder->path();
    std::vector<LocalCopyFile> files {
        { "https://example.com/css", { "css" }, copy / "css", "a file where a folder must go" },
        { "https://example.com/css/site.css", { "css", "site.css" }, copy / "css" / "site.css",
            "a{}" },
        { "https://example.com/ok.js", { "ok.js" }, copy / "ok.js", "1" },
        { "https://example.com/x", { "..", "outside.js" }, dir / "outside.js", "1" },
    };
    LocalCopyFailures failures = writeLocalCopyFiles(files, folder.value());
    ASSERT_EQ(failures.count(), 2u);
    EXPECT_TRUE(startsWith(failures.lines()[0], "site.css — ")) << failures.lines()[0];
    EXPECT_TRUE(startsWith(failures.lines()[1], "outside.js — ")) << failures.lines()[1];
    EXPECT_EQ(readFile(copy / "ok.js"), "1");
    EXPECT_FALSE(fs::exists(dir / "outside.js"));
}

TEST(LocalCopyMapping, NamesBeginningWithADotBecomeInert)
{
    struct Case {
        std::string url;
        Names names;
    };
    const std::vector<Case> cases {
        { "https://example.com/.bashrc", Names { "%2Ebashrc" } },
        { "https://example.com/%2Ebashrc", Names { "%2Ebashrc" } },
        { "https://example.com/.ssh/authorized_keys", Names { "%2Essh", "authorized_keys" } },
        { "https://example.com/.config/autostart/x.desktop",
            Names { "%2Econfig", "autostart", "x.desktop" } },
        { "https://example.com/.git/hooks/pre-commit", Names { "%2Egit", "hooks", "pre-commit" } },
        { "https://example.com/a/.htaccess", Names { "a", "%2Ehtaccess" } },
        { "https://example.com/.profile?v=1", Names { "%2Eprofile-8533ce516a467965" } },
        { "https://example.com/...", Names { "%2E.." } },
        { "https://example.com/.x/", Names { "%2Ex", "index.html" } },
        { "https://other.org/.bashrc", Names { "_external", "other.org", "%2Ebashrc" } },
        { "https://example.com/a.b/c.d", Names { "a.b", "c.d" } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(localCopyComponents(c.url, kPage), c.names) << c.url;

    // Links to those files name the inert files, whatever spelling the page used.
    const std::vector<SourceResource> resources {
        { kPage, "html" },
        { "https://example.com/.bashrc", "js" },
        { "https://example.com/.ssh/authorized_keys", "css" },
    };
    LocalCopyLinkRewriter rewriter(resources, kPage);
    EXPECT_EQ(rewriter.rewrite("<script src=\"/.bashrc\"></script>"
                               "<link href='https://example.com/.ssh/authorized_keys'>",
                  kPage, "html"),
        "<script src=\"%252Ebashrc\"></script><link href='%252Essh/authorized_keys'>");

    EXPECT_EQ(localCopyFolderName("https://Example.com/a"), "example.com");
    EXPECT_EQ(localCopyFolderName("http://127.0.0.1:8080/"), "127.0.0.1");
    EXPECT_EQ(localCopyFolderName("http://[::1]/"), "--1");
    EXPECT_EQ(localCopyFolderName("about:blank"), "website");
    EXPECT_EQ(localCopyFolderName(""), "website");
}

TEST(LocalCopyFiles, HostilePathsStayInsideTheNewFolderAndReplaceNothing)
{
    // The chosen folder is the user's home: dot files, a page of their own, a link out.
    test::TempDir home;
    test::TempDir outside;
    fs::create_directories(home / ".ssh");
    std::ofstream(home / ".bashrc") << "user bashrc";
    std::ofstream(home / ".ssh" / "authorized_keys") << "user key";
    std::ofstream(home / "index.html") << "user page";
    fs::create_directory_symlink(outside.path(), home / "docs");
    fs::create_directory(home / "example.com");

    const std::vector<SourceResource> resources {
        { kPage, "html" },
        { "https://example.com/.bashrc", "js" },
        { "https://example.com/.ssh/authorized_keys", "text" },
        { "https://example.com/.config/autostart/x.desktop", "text" },
        { "https://example.com/.git/hooks/pre-commit", "text" },
        { "https://example.com/docs/evil.js", "js" },
        { "https://example.com/../../docs/evil2.js", "js" },
    };
    std::map<std::string, std::string> bodies;
    for (const SourceResource& resource : resources)
        bodies[resource.url] = "pwned";
    Result<NewFolder> folder
        = NewFolder::createInside(home.path(), localCopyFolderName(kPage));
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->path(), home / "example.com-2");
    auto files = localCopyFiles(resources, bodies, kPage, folder->path());
    EXPECT_EQ(writeLocalCopyFiles(files, folder.value()).count(), 0u);

    EXPECT_EQ(readFile(home / ".bashrc"), "user bashrc");
    EXPECT_EQ(readFile(home / ".ssh" / "authorized_keys"), "user key");
    EXPECT_EQ(readFile(home / "index.html"), "user page");
    EXPECT_TRUE(fs::is_empty(outside.path()));
    EXPECT_TRUE(fs::is_empty(home / "example.com"));
    EXPECT_FALSE(fs::exists(home / ".config"));
    EXPECT_FALSE(fs::exists(home / ".git"));
    const fs::path copy = folder->path();
    EXPECT_EQ(readFile(copy / "%2Ebashrc"), "pwned");
    EXPECT_EQ(readFile(copy / "%2Essh" / "authorized_keys"), "pwned");
    EXPECT_EQ(readFile(copy / "%2Egit" / "hooks" / "pre-commit"), "pwned");
    EXPECT_EQ(readFile(copy / "docs" / "evil.js"), "pwned");
    for (auto it = fs::recursive_directory_iterator(copy); it != fs::recursive_directory_iterator();
         ++it)
        EXPECT_NE(it->path().filename().string()[0], '.') << it->path();
}

TEST(LocalCopyLimits, TwoHundredResourcesBuildAndMoreAreRefused)
{
    EXPECT_EQ(localCopyBuildRefusal(true, 200), std::nullopt);
    EXPECT_EQ(localCopyBuildRefusal(true, 201),
        "This page uses more than 200 resources. Save a smaller page copy to keep the local "
        "project manageable.");
    EXPECT_EQ(localCopyBuildRefusal(true, 0), "Open a website and refresh the file list first.");
    EXPECT_EQ(localCopyBuildRefusal(false, 5), "Open a website and refresh the file list first.");
}

TEST(LocalCopyLimits, TransferStopsAsSoonAsItPassesEightMegabytes)
{
    LocalCopyDownloads downloads(
        std::vector<SourceResource> { { "https://example.com/big.bin", "media" } });
    ASSERT_TRUE(downloads.begin(0));
    EXPECT_TRUE(downloads.append(0, std::string(8388608, 'x')));
    EXPECT_FALSE(downloads.append(0, "y"));
    downloads.finish(0, std::nullopt, 200); // the cancelled transfer reports late: ignored
    EXPECT_TRUE(downloads.allCompleted());
    EXPECT_TRUE(downloads.bodies().empty());
    EXPECT_EQ(downloads.totalBytes(), 0u);
    EXPECT_EQ(downloads.failures().lines(), Names { "example.com — File exceeds 8 MB" });
}

TEST(LocalCopyLimits, NothingStartsOrContinuesPastFiftyMegabytes)
{
    std::vector<SourceResource> resources;
    for (int i = 0; i < 9; ++i)
        resources.push_back({ "https://example.com/" + std::to_string(i), "media" });
    LocalCopyDownloads downloads(resources);
    const std::string chunk(8388608, 'x');
    for (std::size_t i = 0; i < 6; ++i) {
        ASSERT_TRUE(downloads.begin(i));
        ASSERT_TRUE(downloads.append(i, chunk));
        downloads.finish(i, std::nullopt, 200);
    }
    // Two running transfers share what is left: the one that passes the total stops.
    ASSERT_TRUE(downloads.begin(6));
    ASSERT_TRUE(downloads.begin(7));
    EXPECT_TRUE(downloads.append(6, std::string(2097151, 'x')));
    EXPECT_TRUE(downloads.append(7, "y"));
    EXPECT_FALSE(downloads.append(6, "z"));
    downloads.finish(7, std::nullopt, 200);
    EXPECT_EQ(downloads.totalBytes(), 6u * 8388608 + 1);
    // Transfer 6 gave its bytes back; one more byte fits exactly, then nothing may start.
    ASSERT_TRUE(downloads.begin(8));
    EXPECT_TRUE(downloads.append(8, std::string(2097151, 'x')));
    downloads.finish(8, std::nullopt, 200);
    EXPECT_EQ(downloads.totalBytes(), 52428800u);
    EXPECT_EQ(downloads.bodies().size(), 8u);
    EXPECT_EQ(downloads.failures().lines(), Names { "example.com — Project exceeds 50 MB" });
    EXPECT_TRUE(downloads.allCompleted());
    EXPECT_EQ(downloads.progressStatus(), "Downloading local copy · 9/9");
}

TEST(LocalCopyLimits, StartRefusedOnceTheTotalIsReached)
{
    std::vector<SourceResource> resources;
    for (int i = 0; i < 8; ++i)
        resources.push_back({ "https://example.com/" + std::to_string(i), "media" });
    LocalCopyDownloads downloads(resources);
    for (std::size_t i = 0; i < 7; ++i) {
        ASSERT_TRUE(downloads.begin(i));
        ASSERT_TRUE(downloads.append(i, std::string(i < 6 ? 8388608 : 2097152, 'x')));
        downloads.finish(i, std::nullopt, 200);
    }
    EXPECT_FALSE(downloads.begin(7));
    EXPECT_TRUE(downloads.allCompleted());
    EXPECT_EQ(downloads.failures().lines(), Names { "example.com — Project exceeds 50 MB" });
}

TEST(LocalCopyLimits, TwelveFailureLinesKeptAndAllFailuresCounted)
{
    std::vector<SourceResource> resources { { "ftp://example.com/skipped", "text" } };
    for (int i = 0; i < 15; ++i)
        resources.push_back({ "https://h" + std::to_string(i) + ".org/x", "text" });
    LocalCopyDownloads downloads(resources);
    ASSERT_EQ(downloads.transfers().size(), 15u);
    for (std::size_t i = 0; i < 15; ++i) {
        ASSERT_TRUE(downloads.begin(i));
        if (i == 1)
            downloads.finish(i, std::string(), 0);
        else if (i == 2)
            downloads.finish(i, std::string("Could not connect"), 0);
        else
            downloads.finish(i, std::nullopt, 404);
        if (i == 2) {
            EXPECT_EQ(downloads.progressStatus(), "Downloading local copy · 3/15");
        }
    }
    const LocalCopyFailures& failures = downloads.failures();
    EXPECT_EQ(failures.count(), 15u);
    ASSERT_EQ(failures.lines().size(), 12u);
    EXPECT_EQ(failures.lines()[0], "h0.org — HTTP 404");
    EXPECT_EQ(failures.lines()[1], "h1.org — Download failed");
    EXPECT_EQ(failures.lines()[2], "h2.org — Could not connect");

    LocalCopyFailures writes;
    writes.add("a.css — Write failed");
    EXPECT_EQ(localCopyFinishedStatus("/tmp/copy", failures, writes, "/tmp/copy/index.html"),
        "Local copy created at /tmp/copy · 16 file(s) skipped or failed. Main file: "
        "/tmp/copy/index.html");
    EXPECT_EQ(localCopyFinishedStatus("/tmp/copy", {}, {}, "/tmp/copy/index.html"),
        "Local copy ready · /tmp/copy");
    auto log = localCopySkippedFilesLog(failures, writes);
    ASSERT_TRUE(log);
    EXPECT_TRUE(startsWith(*log, "Quivel local-copy skipped files: h0.org — HTTP 404; "));
    EXPECT_TRUE(endsWith(*log, "; a.css — Write failed"));
    EXPECT_FALSE(localCopySkippedFilesLog({}, {}));
}

TEST(LocalCopyOwnership, CopyServesOnlyItsOwnPage)
{
    const fs::path folder = "/tmp/copy";
    const std::optional<std::string> built = "https://example.com/blog/post.html";
    EXPECT_TRUE(localCopyServesPage(built, "https://example.com/blog/post.html#c2"));
    EXPECT_FALSE(localCopyServesPage(built, "https://example.com/"));
    EXPECT_FALSE(localCopyServesPage(std::nullopt, "https://example.com/"));

    struct Case {
        std::string shown;
        std::string listed;
        bool same;
    };
    const std::vector<Case> cases {
        { *built, *built, true },
        { "file:///tmp/copy/blog/post.html", *built, true },
        { "file:///tmp/copy/blog/../blog/post.html", *built, true },
        { "file:///tmp/copy/index.html", *built, false },
        { "file:///tmp/copy/blog/post.html", "https://example.com/other.html", false },
        { "https://example.com/", *built, false },
        { *built, "", false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(showsSourcePage(c.shown, c.listed, folder, built), c.same) << c.shown;

    EXPECT_TRUE(isLocalPreviewURL("file:///tmp/copy/a.html", folder));
    EXPECT_FALSE(isLocalPreviewURL("file:///tmp/copy2/a.html", folder));
    EXPECT_FALSE(isLocalPreviewURL("https://example.com/", folder));
    EXPECT_FALSE(isLocalPreviewURL("file:///tmp/copy/a.html", std::nullopt));
}

TEST(LocalCopyExport, ZipNameAndDestination)
{
    EXPECT_EQ(localCopyZipName("https://Example.com/x"), "example.com-local-copy.zip");
    EXPECT_EQ(localCopyZipName("about:blank"), "website-local-copy.zip");
    EXPECT_TRUE(isZipDestinationInsideCopy("/tmp/copy/out.zip", "/tmp/copy"));
    EXPECT_TRUE(isZipDestinationInsideCopy("/tmp/copy/../copy/a/out.zip", "/tmp/copy/"));
    EXPECT_FALSE(isZipDestinationInsideCopy("/tmp/out.zip", "/tmp/copy"));
    EXPECT_FALSE(isZipDestinationInsideCopy("/tmp/copy.zip", "/tmp/copy"));
}


TEST(LocalCopyFiles, ScriptLinksResolveFromThePageNotTheScript)
{
    // A script in a sub-folder sets an image address; the document resolves it, so the link
    // must be relative to the page's file. Style sheets resolve their own url() links.
    const std::string page = "https://example.com/site/index.html";
    const std::vector<SourceResource> resources {
        { page, "html" },
        { "https://example.com/site/js/app.js", "js" },
        { "https://example.com/site/css/deep/theme.css", "css" },
        { "https://example.com/site/img/late.png", "image" },
    };
    std::map<std::string, std::string> bodies {
        { page, "<script src=\"/site/js/app.js\"></script>" },
        { "https://example.com/site/js/app.js", "img.src='/site/img/late.png';" },
        { "https://example.com/site/css/deep/theme.css", "a{background:url(/site/img/late.png)}" },
        { "https://example.com/site/img/late.png", "PNG" },
    };
    test::TempDir dir;
    Result<NewFolder> folder = NewFolder::createInside(dir.path(), "copy");
    ASSERT_TRUE(folder);
    const fs::path copy = folder->path();
    auto files = localCopyFiles(resources, bodies, page, copy);
    ASSERT_EQ(writeLocalCopyFiles(files, folder.value()).count(), 0u);
    EXPECT_EQ(readFile(copy / "site" / "js" / "app.js"), "img.src='img/late.png';");
    EXPECT_EQ(readFile(copy / "site" / "css" / "deep" / "theme.css"),
        "a{background:url(../../img/late.png)}");
}

} // namespace qv
