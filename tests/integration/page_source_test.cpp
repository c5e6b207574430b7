// The page source editor against a live page: listing, loading, applying and refusing.
#include "support/source_site_fixture.h"

#include "platform/alerts.h"

namespace qv::test {

namespace {

using PageSource = SourceSiteTest;

const char* kOverrideCount
    = "document.querySelectorAll('#__quivelbrowser_source_override__').length";

TEST_F(PageSource, ListsThePageFilesWithTheirKinds)
{
    serveSite();
    openSite();
    PageSourceWindow& window = openEditor();
    const auto& list = window.sourceResources();
    auto kindOf = [&](const std::string& path) -> std::string {
        auto row = rowOf(window, path);
        return row ? list[*row].kind : "missing";
    };
    EXPECT_EQ(kindOf("/site/index.html"), "html");
    EXPECT_EQ(kindOf("/site/css/main.css"), "css");
    EXPECT_EQ(kindOf("/site/css/deep/theme.css"), "css");
    EXPECT_EQ(kindOf("/site/js/app.js"), "js");
    EXPECT_EQ(kindOf("/site/img/late.png"), "image"); // inserted by the script
    EXPECT_EQ(kindOf("/site/private/secret.png"), "image");
    EXPECT_EQ(list.front().url, m_server->url("/site/index.html"));
}

TEST_F(PageSource, AppliedStyleSheetEditChangesTheLivePage)
{
    serveSite();
    openSite();
    PageSourceWindow& window = openEditor();
    auto row = rowOf(window, "/site/css/main.css");
    ASSERT_TRUE(row);
    window.selectSourceRow(*row);
    window.loadSelectedSource();
    ASSERT_TRUE(waitUntil([&] { return window.status().rfind("Loaded ", 0) == 0; }))
        << window.status();
    EXPECT_NE(window.editor().text().find("rgb(1, 2, 3)"), std::string::npos);
    screenshotIfAsked(window, "QV_SCREENSHOT_EDITOR");

    window.editor().textView().get_buffer()->set_text("h1 { color: rgb(200, 10, 20); }");
    EXPECT_TRUE(window.editorState().dirty);
    EXPECT_EQ(window.status(), "Unsaved local edits \u00B7 main.css");
    // Applying uses the loaded file's kind even when another row is selected now.
    window.selectSourceRow(*rowOf(window, "/site/img/small.png"));
    window.applyPageSource();
    ASSERT_TRUE(waitUntil([&] { return window.status().rfind("Applied", 0) == 0; }))
        << window.status();
    EXPECT_EQ(evaluate(selectedView(), "getComputedStyle(document.getElementById('title')).color"),
        "\"rgb(200, 10, 20)\"");

    window.editor().textView().get_buffer()->set_text("h1 { color: rgb(0, 128, 0); }");
    window.applyPageSource();
    ASSERT_TRUE(waitUntil([&] {
        return evaluate(selectedView(), "getComputedStyle(document.getElementById('title')).color")
            == "\"rgb(0, 128, 0)\"";
    }));
    EXPECT_EQ(evaluate(selectedView(), kOverrideCount), "1");
}

TEST_F(PageSource, ClosingWithUnsavedEditsAsksFirst)
{
    serveSite();
    openSite();
    PageSourceWindow& window = openEditor();
    window.selectSourceRow(*rowOf(window, "/site/css/main.css"));
    window.loadSelectedSource();
    ASSERT_TRUE(waitUntil([&] { return window.status().rfind("Loaded ", 0) == 0; }))
        << window.status();
    window.editor().textView().get_buffer()->set_text("h1 { color: red; }");
    std::vector<AlertSpec> asked;
    int answer = 2; // "Cancel"
    setAlertResponder([&](const AlertSpec& alert) -> std::optional<int> {
        asked.push_back(alert);
        return answer;
    });
    window.close();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].messageText, "Save your local edits before closing?");
    EXPECT_EQ(asked[0].buttons,
        (std::vector<std::string> { "Save Changes", "Discard Changes", "Cancel" }));
    EXPECT_TRUE(window.get_visible());
    EXPECT_EQ(window.editor().text(), "h1 { color: red; }");

    answer = 1; // "Discard Changes"
    window.close();
    setAlertResponder(nullptr);
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_FALSE(window.get_visible());
    EXPECT_FALSE(window.editorState().dirty);
    EXPECT_FALSE(window.editorState().loaded);
    // Nothing left to ask about: it closes at once next time.
    window.showInFront();
    window.close();
    EXPECT_EQ(asked.size(), 2u);
}

TEST_F(PageSource, ApplyRefusesWhenNothingIsLoaded)
{
    serveSite();
    openSite();
    PageSourceWindow& window = openEditor();
    window.selectSourceRow(*rowOf(window, "/site/css/main.css"));
    window.editor().textView().get_buffer()->set_text("h1 { color: rgb(9, 9, 9); }");
    window.applyPageSource();
    EXPECT_EQ(window.status(), "Select and load a file before applying edits.");
    EXPECT_EQ(evaluate(selectedView(), kOverrideCount), "0");
    EXPECT_EQ(evaluate(selectedView(), "getComputedStyle(document.getElementById('title')).color"),
        "\"rgb(1, 2, 3)\"");
}

TEST_F(PageSource, HtmlLoadsTheLiveDocument)
{
    serveSite();
    openSite();
    PageSourceWindow& window = openEditor();
    window.selectSourceRow(0);
    window.loadSelectedSource();
    ASSERT_TRUE(waitUntil([&] { return window.status().rfind("Loaded live HTML", 0) == 0; }))
        << window.status();
    // The image the script inserted is part of what the editor shows.
    EXPECT_NE(window.editor().text().find("id=\"late\""), std::string::npos);
}

TEST_F(PageSource, ImageIsRefusedAsText)
{
    serveSite();
    openSite();
    PageSourceWindow& window = openEditor();
    window.selectSourceRow(*rowOf(window, "/site/img/small.png"));
    window.loadSelectedSource();
    ASSERT_TRUE(waitUntil([&] { return window.status().rfind("Could not read", 0) == 0; }))
        << window.status();
    EXPECT_NE(window.status().find("Not a readable text resource: image/png"), std::string::npos);
    EXPECT_FALSE(window.editorState().loaded);
}

} // namespace

} // namespace qv::test
