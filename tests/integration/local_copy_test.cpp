// The local website copy end to end: download with the page's cookies, rewrite, preview with the
// server gone, export as ZIP, and cancelling a build in flight.
#include "support/source_site_fixture.h"

#include "base/atomic_file.h"
#include "base/url.h"
#include "platform/archive.h"
#include "platform/file_panels.h"
#include "session/session_service.h"

#include <cstdlib>
#include <filesystem>
#include <map>

namespace qv::test {

namespace {

namespace fs = std::filesystem;

class LocalCopy : public SourceSiteTest {
protected:
    void SetUp() override
    {
        SourceSiteTest::SetUp();
        m_folder = testHome() / "copy";
        fs::create_directories(m_folder);
        setFilePanelResponder(
            [this](const FilePanelSpec& panel) -> std::optional<std::optional<fs::path>> {
                m_panels.push_back(panel);
                if (panel.kind == FilePanelSpec::Kind::Folder)
                    return std::optional<fs::path>(m_folder);
                return std::optional<fs::path>(m_saveAs);
            });
        setRevealResponder([this](const fs::path& file) { m_revealed.push_back(file); });
    }
    void TearDown() override
    {
        setFilePanelResponder(nullptr);
        setRevealResponder(nullptr);
        SourceSiteTest::TearDown();
    }

    PageSourceWindow& buildCopy()
    {
        serveSite();
        openSite();
        PageSourceWindow& window = openEditor();
        window.buildLocalSourceCopy();
        EXPECT_TRUE(waitUntil([&] { return window.status().rfind("Local copy ready", 0) == 0; },
            std::chrono::seconds(40)))
            << window.status();
        return window;
    }

    std::string read(const fs::path& file) { return readWholeFile(file).contents; }

    // The copy's own folder, made inside the chosen one.
    fs::path copyFolder(PageSourceWindow& window)
    {
        return window.sourceWorkspaceURL().value_or(m_folder / "no copy");
    }

    // Every item below root, links as links: kind, contents or target by relative path.
    static std::map<std::string, std::string> snapshot(
        const fs::path& root, const fs::path& skip = {})
    {
        std::map<std::string, std::string> items;
        for (auto it = fs::recursive_directory_iterator(root);
             it != fs::recursive_directory_iterator(); ++it) {
            const fs::path& path = it->path();
            if (!skip.empty() && path == skip) {
                it.disable_recursion_pending();
                continue;
            }
            std::string key = path.lexically_relative(root).string();
            if (it->is_symlink())
                items[key] = "link " + fs::read_symlink(path).string();
            else if (it->is_directory())
                items[key] = "folder";
            else
                items[key] = "file " + readWholeFile(path).contents;
        }
        return items;
    }

    fs::path m_folder;
    fs::path m_saveAs;
    std::vector<FilePanelSpec> m_panels;
    std::vector<fs::path> m_revealed;
};

TEST_F(LocalCopy, CopyOpensWithTheServerStoppedAndEveryResourceLocal)
{
    PageSourceWindow& window = buildCopy();
    ASSERT_TRUE(window.sourceWorkspaceURL());
    const fs::path copy = copyFolder(window);
    EXPECT_EQ(copy, m_folder / "127.0.0.1");
    EXPECT_EQ(read(copy / "site/index.html").find(m_server->url("/")), std::string::npos);
    // The cookie-protected images came with the page's cookies: both set by a header and by
    // the page's script.
    EXPECT_EQ(read(copy / "site/private/secret.png"), tinyPNG());
    EXPECT_EQ(read(copy / "site/private/jsonly.png"), tinyPNG());
    EXPECT_EQ(read(copy / "site/css/deep/theme.css"),
        "#title { background-image: url(\"../../img/bg2.png\"); }\n");

    m_server.reset();
    window.previewLocalSourceCopy();
    ASSERT_EQ(window.status().rfind("Previewing local copy", 0), 0u) << window.status();
    ASSERT_TRUE(waitForLoad(selectedView(), "quivel-copy://"));
    // The session keeps the copy's file address, which opens it again after a restart; its
    // copy address would be refused then.
    EXPECT_TRUE(waitUntil([&] {
        FileRead saved = readWholeFile(controller().session().sessionFile());
        return saved.contents.find("\"file://" + (copy / "site/index.html").string() + "\"")
            != std::string::npos
            && saved.contents.find("quivel-copy:") == std::string::npos;
    })) << readWholeFile(controller().session().sessionFile()).contents;
    ASSERT_TRUE(waitUntil([&] {
        return evaluate(selectedView(),
                   "document.images.length === 4 && Array.from(document.images).every("
                   "i => i.complete && i.naturalWidth > 0)")
            == "true";
    })) << evaluate(selectedView(), "document.documentElement.outerHTML");
    EXPECT_EQ(evaluate(selectedView(),
                  "Array.from(document.images).every(i => i.currentSrc.startsWith(location.origin))"
                  " && Array.from(document.styleSheets).every("
                  "s => s.href.startsWith(location.origin))"
                  " && Array.from(document.scripts).every(s => s.src.startsWith(location.origin))"
                  " && performance.getEntriesByType('resource').every("
                  "e => e.name.startsWith(location.origin))"),
        "true");
    EXPECT_EQ(evaluate(selectedView(),
                  "getComputedStyle(document.body).backgroundImage.startsWith("
                  "'url(\"' + location.origin)"
                  " && getComputedStyle(document.getElementById('title'))"
                  ".backgroundImage.startsWith('url(\"' + location.origin)"),
        "true");
    EXPECT_EQ(evaluate(selectedView(), "getComputedStyle(document.getElementById('title')).color"),
        "\"rgb(1, 2, 3)\"");
}

TEST_F(LocalCopy, WhatFilesNameIsCopiedAndOpensWithNothingFetched)
{
    // Style-sheet images, an @import, a srcset candidate the page did not choose and a chain
    // of modules, some of which the page never loaded before the copy.
    TestServer& s = *m_server;
    s.route("/mod/index.html",
        { 200, "text/html; charset=utf-8",
            "<!doctype html><html><head><title>Modules</title>"
            "<link rel=\"stylesheet\" href=\"css/site.css?v=1\"></head><body>"
            "<h1 id=\"title\">Hi</h1><div id=\"later\"></div>"
            "<img id=\"pic\" src=\"img/one.png\" srcset=\"img/one.png 1x, img/two.png 4x\">"
            "<script type=\"module\" src=\"js/main.js\"></script></body></html>",
            {} });
    s.route("/mod/css/site.css",
        { 200, "text/css",
            "@import \"parts/extra.css\";\n"
            "#later.on { background-image: url(../img/hidden.png); }\n",
            {} });
    s.route("/mod/css/parts/extra.css",
        { 200, "text/css", "h1 { color: rgb(4, 5, 6); background-image: url('/mod/img/bg.png'); }",
            {} });
    s.route("/mod/js/main.js",
        { 200, "application/javascript",
            "import { tag } from './lib/util.js';\ndocument.body.dataset.tag = tag;\n"
            "window.loadLazy = () => import('./lib/lazy.js').then(m => {"
            " document.body.dataset.lazy = m.lazy; });\n",
            {} });
    s.route("/mod/js/lib/util.js",
        { 200, "application/javascript", "export { deep as tag } from '/mod/shared/deep.js';", {} });
    s.route("/mod/shared/deep.js",
        { 200, "application/javascript", "export const deep = 'deep';", {} });
    s.route("/mod/js/lib/lazy.js",
        { 200, "application/javascript", "export const lazy = 'lazy';", {} });
    for (const char* name : { "one", "two", "bg", "hidden" })
        s.route(std::string("/mod/img/") + name + ".png", { 200, "image/png", tinyPNG(), {} });
    submitAddress(s.url("/mod/index.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), s.url("/mod/index.html")));
    ASSERT_TRUE(waitUntil(
        [&] { return evaluate(selectedView(), "document.body.dataset.tag") == "\"deep\""; }));
    ASSERT_EQ(s.requestCount("/mod/js/lib/lazy.js"), 0);
    ASSERT_EQ(s.requestCount("/mod/img/hidden.png"), 0);
    PageSourceWindow& window = openEditor();
    window.buildLocalSourceCopy();
    ASSERT_TRUE(waitUntil([&] { return window.status().rfind("Local copy ready", 0) == 0; },
        std::chrono::seconds(40)))
        << window.status();
    // Every module the chain names is in the copy, each specifier relative to its importer.
    const fs::path copy = copyFolder(window);
    EXPECT_EQ(read(copy / "mod/js/lib/util.js"), "export { deep as tag } from '../../shared/deep.js';");
    EXPECT_EQ(read(copy / "mod/shared/deep.js"), "export const deep = 'deep';");
    EXPECT_NE(read(copy / "mod/js/main.js").find("import('./lib/lazy.js')"), std::string::npos);
    EXPECT_EQ(read(copy / "mod/js/lib/lazy.js"), "export const lazy = 'lazy';");
    EXPECT_EQ(read(copy / "mod/img/hidden.png"), tinyPNG());

    // Links in the copy that lead out of it: a file and a folder elsewhere.
    writeFileAtomically(testHome() / "outside.txt", "private");
    fs::create_symlink(testHome() / "outside.txt", copy / "mod" / "leak.txt");
    fs::create_directory_symlink(testHome(), copy / "mod" / "home");

    const std::size_t served = s.requestLog().size();
    window.previewLocalSourceCopy();
    ASSERT_TRUE(waitForLoad(selectedView(), "quivel-copy://"));
    // The module chain ran from the copy, the import named later too.
    ASSERT_TRUE(waitUntil(
        [&] { return evaluate(selectedView(), "document.body.dataset.tag") == "\"deep\""; }))
        << evaluate(selectedView(), "document.documentElement.outerHTML");
    evaluate(selectedView(), "loadLazy()");
    EXPECT_TRUE(waitUntil(
        [&] { return evaluate(selectedView(), "document.body.dataset.lazy") == "\"lazy\""; }));
    // The style sheet with its query and the sheet it imports come from the copy.
    ASSERT_TRUE(waitUntil([&] {
        return evaluate(selectedView(), "getComputedStyle(document.getElementById('title')).color")
            == "\"rgb(4, 5, 6)\"";
    })) << evaluate(selectedView(), "document.documentElement.outerHTML");
    evaluate(selectedView(), "document.getElementById('later').classList.add('on')");
    // Each image the copy's style sheets and srcset name loads from a file of the copy.
    evaluate(selectedView(),
        "window.loaded = [];"
        "const pic = document.getElementById('pic');"
        "const urls = [getComputedStyle(document.getElementById('title')).backgroundImage,"
        " getComputedStyle(document.getElementById('later')).backgroundImage]"
        " .map(v => v.slice(5, -2));"
        "urls.push(new URL(pic.getAttribute('srcset').split(',')[1].trim().split(' ')[0],"
        " location.href).href);"
        "urls.forEach((url, k) => { const i = new Image();"
        " i.onload = () => loaded[k] = url.startsWith(location.origin) && i.naturalWidth > 0;"
        " i.onerror = () => loaded[k] = url; i.src = url; });");
    EXPECT_TRUE(waitUntil([&] {
        return evaluate(selectedView(), "Object.keys(loaded).length === 3") == "true";
    }));
    EXPECT_EQ(evaluate(selectedView(), "JSON.stringify(loaded)"), "\"[true,true,true]\"");

    // Only plain files inside the copy are served: no link out, no folder, nothing above it.
    // Nor does anything reach the site the copy came from.
    evaluate(selectedView(),
        "window.fetched = {}; window.tried = ['img/one.png', 'leak.txt', 'home/outside.txt',"
        " 'js/', '%2e%2e/%2e%2e/outside.txt', 'js/%2e%2e%2f..%2f..%2foutside.txt',"
        " '../.quivel-local-copy', '"
            + s.url("/mod/img/one.png") + "'];"
        "tried.forEach(u => fetch(u).then(r => fetched[u] = r.ok ? 'ok' : r.status,"
        " () => fetched[u] = 'refused'));");
    EXPECT_TRUE(waitUntil([&] {
        return evaluate(selectedView(), "Object.keys(fetched).length === tried.length") == "true";
    }));
    EXPECT_EQ(evaluate(selectedView(), "tried.map(u => fetched[u]).join(' ')"),
        "\"ok refused refused refused refused refused refused refused\"");
    EXPECT_EQ(s.requestLog().size(), served);

    // The copy's page typed as a file opens through the copy scheme too; history keeps the
    // file's address, which opens it again in a later run.
    submitAddress((copy / "mod" / "index.html").string());
    ASSERT_TRUE(waitForLoad(selectedView(), "quivel-copy://"));
    EXPECT_TRUE(waitUntil(
        [&] { return evaluate(selectedView(), "document.body.dataset.tag") == "\"deep\""; }));
    EXPECT_TRUE(waitUntil([&] {
        const auto& entries = controller().history().historyEntries();
        return !entries.empty() && entries.front().url == fileURLFromPath(copy / "mod/index.html");
    }));
    // A mark copied into another folder marks nothing there: its page stays a file page.
    const fs::path elsewhere = testHome() / "elsewhere";
    fs::create_directories(elsewhere);
    ASSERT_TRUE(fs::is_regular_file(copy / ".quivel-local-copy"));
    fs::copy_file(copy / ".quivel-local-copy", elsewhere / ".quivel-local-copy");
    writeFileAtomically(elsewhere / "index.html", "<title>Elsewhere</title>");
    submitAddress((elsewhere / "index.html").string());
    EXPECT_TRUE(waitForLoad(selectedView(), "file://"));
}

TEST_F(LocalCopy, LocalEditsArePreviewedAndExportedAsZip)
{
    PageSourceWindow& window = buildCopy();
    window.selectSourceRow(*rowOf(window, "/site/css/main.css"));
    window.loadSelectedSource();
    ASSERT_EQ(window.status().rfind("Loaded local copy", 0), 0u) << window.status();
    window.editor().textView().get_buffer()->set_text("h1 { color: rgb(7, 8, 9); }\n");
    window.previewLocalSourceCopy();
    EXPECT_EQ(
        window.status(), "Save or discard the editor changes before previewing the local copy.");

    const fs::path copy = copyFolder(window);
    m_saveAs = copy / "inside.zip";
    window.exportLocalSourceCopyAsZip(); // saves the edits first
    ASSERT_TRUE(waitUntil([&] { return window.status().rfind("Choose a ZIP", 0) == 0; }));
    EXPECT_FALSE(window.editorState().dirty);
    EXPECT_EQ(read(copy / "site/css/main.css"), "h1 { color: rgb(7, 8, 9); }\n");

    m_saveAs = testHome() / "site.zip";
    writeFileAtomically(m_saveAs, "an older file");
    window.exportLocalSourceCopyAsZip();
    ASSERT_TRUE(waitUntil([&] { return window.status().rfind("Exported", 0) == 0; }))
        << window.status();
    EXPECT_EQ(m_panels.back().suggestedName, "127.0.0.1-local-copy.zip");
    ASSERT_EQ(m_revealed.size(), 1u);
    fs::path unpacked = testHome() / "unpacked";
    fs::create_directories(unpacked);
    ASSERT_TRUE(extractZipArchive(m_saveAs, unpacked));
    for (const char* file : { "127.0.0.1/site/index.html", "127.0.0.1/site/css/main.css",
             "127.0.0.1/site/css/deep/theme.css", "127.0.0.1/site/js/app.js",
             "127.0.0.1/site/img/late.png", "127.0.0.1/site/private/secret.png" })
        EXPECT_TRUE(fs::is_regular_file(unpacked / file)) << file;
    EXPECT_EQ(read(unpacked / "127.0.0.1/site/css/main.css"), "h1 { color: rgb(7, 8, 9); }\n");

    m_server.reset();
    window.previewLocalSourceCopy();
    ASSERT_TRUE(waitForLoad(selectedView(), "quivel-copy://"));
    EXPECT_TRUE(waitUntil([&] {
        return evaluate(selectedView(), "getComputedStyle(document.getElementById('title')).color")
            == "\"rgb(7, 8, 9)\"";
    }));
}

TEST_F(LocalCopy, CancelStopsEveryTransferAndWritesNothing)
{
    // Images added after the load whose answers never come.
    serveSite("<script>addEventListener('load', () => { for (let i = 0; i < 3; ++i) {"
              " const img = new Image(); img.src = '/site/slow/' + i + '.png';"
              " document.body.appendChild(img); } });</script>");
    for (int i = 0; i < 3; ++i)
        m_server->hang("/site/slow/" + std::to_string(i) + ".png");
    submitAddress(m_server->url("/site/index.html"));
    // The hanging images keep the page loading; their requests arriving is the signal.
    ASSERT_TRUE(waitUntil([&] { return m_server->requestCount("/site/slow/2.png") == 1; }));
    PageSourceWindow& window = openEditor();
    window.buildLocalSourceCopy();
    ASSERT_TRUE(waitUntil([&] {
        return m_server->requestCount("/site/slow/0.png") == 2
            && m_server->requestCount("/site/slow/2.png") == 2
            && window.localCopyTransfersInFlight() == 3;
    })) << window.status();
    EXPECT_TRUE(window.buildingLocalCopy());
    EXPECT_EQ(window.status().rfind("Downloading local copy", 0), 0u) << window.status();
    screenshotIfAsked(window, "QV_SCREENSHOT_IN_PROGRESS");
    window.cancelLocalSourceCopy();
    EXPECT_FALSE(window.buildingLocalCopy());
    EXPECT_EQ(window.localCopyTransfersInFlight(), 0u);
    EXPECT_EQ(window.status(), "Local copy cancelled. No files were written.");
    EXPECT_FALSE(window.sourceWorkspaceURL());
    EXPECT_TRUE(fs::is_empty(m_folder));
}

TEST_F(LocalCopy, HostilePageChangesNothingOutsideItsNewFolder)
{
    // The chosen folder is the user's home: dot files, a page of their own, a folder link out,
    // and a folder already named like the copy.
    const fs::path outside = testHome() / "outside";
    fs::create_directories(outside);
    writeFileAtomically(outside / "keep.txt", "outside file");
    fs::create_directories(m_folder / ".ssh");
    fs::create_directories(m_folder / ".git" / "hooks");
    fs::create_directories(m_folder / "127.0.0.1");
    writeFileAtomically(m_folder / ".bashrc", "user bashrc");
    writeFileAtomically(m_folder / ".ssh" / "authorized_keys", "user key");
    writeFileAtomically(m_folder / ".git" / "hooks" / "pre-commit", "user hook");
    writeFileAtomically(m_folder / "index.html", "user page");
    fs::create_directory_symlink(outside, m_folder / "docs");
    const auto before = snapshot(m_folder);
    const auto outsideBefore = snapshot(outside);

    TestServer& s = *m_server;
    s.route("/",
        { 200, "text/html; charset=utf-8",
            "<!doctype html><html><head><title>Hostile</title>"
            "<script src=\"/.bashrc\"></script>"
            "<link rel=\"stylesheet\" href=\"/.ssh/authorized_keys\">"
            "<link rel=\"stylesheet\" href=\"/docs/keep.txt\">"
            "<link rel=\"stylesheet\" href=\"/docs/new.css\">"
            "</head><body><img src=\"/.config/autostart/x.desktop\">"
            "<script src=\"/.git/hooks/pre-commit\"></script></body></html>",
            {} });
    s.route("/.bashrc", { 200, "application/javascript", "/* pwned bashrc */", {} });
    s.route("/.ssh/authorized_keys", { 200, "text/css", "/* attacker key */", {} });
    s.route("/docs/keep.txt", { 200, "text/css", "/* pwned through the link */", {} });
    s.route("/docs/new.css", { 200, "text/css", "/* new through the link */", {} });
    s.route("/.config/autostart/x.desktop", { 200, "text/plain", "[Desktop Entry]", {} });
    s.route("/.git/hooks/pre-commit", { 200, "application/javascript", "/* hook */", {} });
    submitAddress(s.url("/"));
    ASSERT_TRUE(waitForLoad(selectedView(), s.url("/")));
    PageSourceWindow& window = openEditor();
    ASSERT_EQ(window.sourceResources().size(), 7u) << window.status();
    window.buildLocalSourceCopy();
    ASSERT_TRUE(waitUntil([&] { return window.status().rfind("Local copy ready", 0) == 0; },
        std::chrono::seconds(40)))
        << window.status();

    const fs::path copy = copyFolder(window);
    EXPECT_EQ(copy, m_folder / "127.0.0.1-2");
    EXPECT_EQ(window.status(), "Local copy ready \u00B7 " + copy.string());
    EXPECT_EQ(snapshot(m_folder, copy), before);
    EXPECT_EQ(snapshot(outside), outsideBefore);

    // The copy holds every file under an inert name, and its page links to them.
    EXPECT_EQ(read(copy / "%2Ebashrc"), "/* pwned bashrc */");
    EXPECT_EQ(read(copy / "%2Essh" / "authorized_keys"), "/* attacker key */");
    EXPECT_EQ(read(copy / "%2Econfig" / "autostart" / "x.desktop"), "[Desktop Entry]");
    EXPECT_EQ(read(copy / "%2Egit" / "hooks" / "pre-commit"), "/* hook */");
    EXPECT_EQ(read(copy / "docs" / "keep.txt"), "/* pwned through the link */");
    EXPECT_FALSE(fs::is_symlink(copy / "docs"));
    std::string page = read(copy / "index.html");
    EXPECT_NE(page.find("src=\"%252Ebashrc\""), std::string::npos) << page;
    EXPECT_NE(page.find("href=\"%252Essh/authorized_keys\""), std::string::npos) << page;

    // The export packs the copy alone.
    m_saveAs = testHome() / "hostile.zip";
    window.exportLocalSourceCopyAsZip();
    ASSERT_TRUE(waitUntil([&] { return window.status().rfind("Exported", 0) == 0; }))
        << window.status();
    fs::path unpacked = testHome() / "unpacked";
    fs::create_directories(unpacked);
    ASSERT_TRUE(extractZipArchive(m_saveAs, unpacked));
    EXPECT_EQ(snapshot(unpacked / "127.0.0.1-2"), snapshot(copy));
    EXPECT_EQ(std::distance(fs::directory_iterator(unpacked), fs::directory_iterator()), 1);
}

TEST_F(LocalCopy, PageScriptsCannotChooseTheListedFiles)
{
    // The page replaces everything the listing could call from the page's own world.
    TestServer& s = *m_server;
    s.route("/spoof/index.html",
        { 200, "text/html; charset=utf-8",
            "<!doctype html><html><head><title>Spoof</title>"
            "<script src=\"/spoof/real.js\"></script><script>"
            "const fake = [{ name: location.origin + '/.bashrc', initiatorType: 'script' }];"
            "Performance.prototype.getEntriesByType = () => fake;"
            "performance.getEntriesByType = () => fake;"
            "Document.prototype.querySelectorAll = function() {"
            "  const e = document.createElement('script'); e.src = '/.profile'; return [e]; };"
            "Array.from = () => [{ url: location.origin + '/.injected', kind: 'js' }];"
            "</script></head><body>Spoof</body></html>",
            {} });
    s.route("/spoof/real.js", { 200, "application/javascript", "window.real = 1;", {} });
    submitAddress(s.url("/spoof/index.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), s.url("/spoof/index.html")));
    PageSourceWindow& window = openEditor();
    std::vector<std::string> listed;
    for (const SourceResource& resource : window.sourceResources())
        listed.push_back(resource.url);
    EXPECT_EQ(listed,
        (std::vector<std::string> { s.url("/spoof/index.html"), s.url("/spoof/real.js") }));
}

TEST_F(LocalCopy, AnotherSitesSameSiteCookiesStayHome)
{
    // localhost is another site than 127.0.0.1: its Strict and Lax cookies, and a None one
    // that is not Secure, never go with a request that a 127.0.0.1 page makes.
    TestServer& s = *m_server;
    const std::string other = "http://localhost:" + std::to_string(s.port());
    s.route("/set",
        { 200, "text/html; charset=utf-8", "<title>Set</title>set",
            { { "Set-Cookie", "strict=1; SameSite=Strict; Path=/" },
                { "Set-Cookie", "lax=1; SameSite=Lax; Path=/" },
                { "Set-Cookie", "none=1; SameSite=None; Path=/" } } });
    for (const char* name : { "strict", "lax", "none" }) {
        std::string path = std::string("/") + name + ".png";
        s.route(path, { 200, "image/png", tinyPNG(), {} });
        s.requireCookie(path, std::string(name) + "=1");
    }
    s.route("/open.png", { 200, "image/png", tinyPNG(), {} });
    s.route("/page.html",
        { 200, "text/html; charset=utf-8",
            "<title>Page</title><img src=\"" + other + "/strict.png\"><img src=\"" + other
                + "/lax.png\"><img src=\"" + other + "/none.png\"><img src=\"" + other
                + "/open.png\">",
            {} });
    submitAddress(other + "/set");
    ASSERT_TRUE(waitForLoad(selectedView(), other + "/set"));
    ASSERT_TRUE(waitUntil(
        [&] { return evaluate(selectedView(), "document.cookie.length > 0") == "true"; }));
    submitAddress(s.url("/page.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), s.url("/page.html")));
    PageSourceWindow& window = openEditor();
    window.buildLocalSourceCopy();
    ASSERT_TRUE(waitUntil([&] { return window.status().rfind("Local copy created at", 0) == 0; },
        std::chrono::seconds(40)))
        << window.status();
    // Each refused image answered 403 without its cookie; the open one came.
    EXPECT_NE(window.status().find(" \u00B7 3 file(s) skipped or failed."), std::string::npos)
        << window.status();
    const fs::path copy = copyFolder(window);
    EXPECT_EQ(read(copy / "_external" / "localhost" / "open.png"), tinyPNG());
    EXPECT_FALSE(fs::exists(copy / "_external" / "localhost" / "strict.png"));
}

} // namespace

} // namespace qv::test
