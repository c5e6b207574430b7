// The local website copy end to end: download with the page's cookies, rewrite, preview with the
// server gone, export as ZIP, and cancelling a build in flight.
#include "support/source_site_fixture.h"

#include "base/atomic_file.h"
#include "platform/archive.h"
#include "platform/file_panels.h"

#include <cstdlib>
#include <filesystem>

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

    fs::path m_folder;
    fs::path m_saveAs;
    std::vector<FilePanelSpec> m_panels;
    std::vector<fs::path> m_revealed;
};

TEST_F(LocalCopy, CopyOpensWithTheServerStoppedAndEveryResourceLocal)
{
    PageSourceWindow& window = buildCopy();
    ASSERT_TRUE(window.sourceWorkspaceURL());
    EXPECT_EQ(read(m_folder / "site/index.html").find(m_server->url("/")), std::string::npos);
    // The cookie-protected images came with the page's cookies: both set by a header and by
    // the page's script.
    EXPECT_EQ(read(m_folder / "site/private/secret.png"), tinyPNG());
    EXPECT_EQ(read(m_folder / "site/private/jsonly.png"), tinyPNG());
    EXPECT_EQ(read(m_folder / "site/css/deep/theme.css"),
        "#title { background-image: url(\"../../img/bg2.png\"); }\n");

    m_server.reset();
    window.previewLocalSourceCopy();
    ASSERT_EQ(window.status().rfind("Previewing local copy", 0), 0u) << window.status();
    ASSERT_TRUE(waitForLoad(selectedView(), "file://"));
    ASSERT_TRUE(waitUntil([&] {
        return evaluate(selectedView(),
                   "document.images.length === 4 && Array.from(document.images).every("
                   "i => i.complete && i.naturalWidth > 0)")
            == "true";
    })) << evaluate(selectedView(), "document.documentElement.outerHTML");
    EXPECT_EQ(evaluate(selectedView(),
                  "Array.from(document.images).every(i => i.currentSrc.startsWith('file:'))"
                  " && Array.from(document.styleSheets).every(s => s.href.startsWith('file:'))"
                  " && Array.from(document.scripts).every(s => s.src.startsWith('file:'))"
                  " && performance.getEntriesByType('resource').every("
                  "e => e.name.startsWith('file:'))"),
        "true");
    EXPECT_EQ(evaluate(selectedView(),
                  "getComputedStyle(document.body).backgroundImage.startsWith('url(\"file:')"
                  " && getComputedStyle(document.getElementById('title'))"
                  ".backgroundImage.startsWith('url(\"file:')"),
        "true");
    EXPECT_EQ(evaluate(selectedView(), "getComputedStyle(document.getElementById('title')).color"),
        "\"rgb(1, 2, 3)\"");
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

    m_saveAs = m_folder / "inside.zip";
    window.exportLocalSourceCopyAsZip(); // saves the edits first
    ASSERT_TRUE(waitUntil([&] { return window.status().rfind("Choose a ZIP", 0) == 0; }));
    EXPECT_FALSE(window.editorState().dirty);
    EXPECT_EQ(read(m_folder / "site/css/main.css"), "h1 { color: rgb(7, 8, 9); }\n");

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
    for (const char* file :
        { "copy/site/index.html", "copy/site/css/main.css", "copy/site/css/deep/theme.css",
            "copy/site/js/app.js", "copy/site/img/late.png", "copy/site/private/secret.png" })
        EXPECT_TRUE(fs::is_regular_file(unpacked / file)) << file;
    EXPECT_EQ(read(unpacked / "copy/site/css/main.css"), "h1 { color: rgb(7, 8, 9); }\n");

    m_server.reset();
    window.previewLocalSourceCopy();
    ASSERT_TRUE(waitForLoad(selectedView(), "file://"));
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

} // namespace

} // namespace qv::test
