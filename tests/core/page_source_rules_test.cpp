// The page source editor's resource list, page scripts and editor-state rules.
#include "devtools/page_source_rules.h"

#include <gtest/gtest.h>

namespace qv {

namespace {

// The JSON value bound after `prefix` in a script, up to `terminator`.
std::optional<Json> embeddedValue(
    const std::string& script, const std::string& prefix, const std::string& terminator)
{
    std::size_t start = script.find(prefix);
    if (start == std::string::npos)
        return std::nullopt;
    start += prefix.size();
    std::size_t end = script.find(terminator, start);
    if (end == std::string::npos)
        return std::nullopt;
    return parseJson(script.substr(start, end - start));
}

SourceEditorState loadedState(const std::string& url, const std::string& kind)
{
    SourceEditorState state;
    markSourceLoaded(state, { url, kind });
    return state;
}

} // namespace

TEST(PageSourceList, HostileValuesKeepOnlyWellFormedRecords)
{
    EXPECT_FALSE(sourceResourcesFromValue(Json::object()));
    EXPECT_FALSE(sourceResourcesFromValue("https://example.com/"));
    EXPECT_FALSE(sourceResourcesFromJSONText("not json"));
    EXPECT_EQ(sourceResourcesFromJSONText("[]"), std::vector<SourceResource> {});

    auto list = sourceResourcesFromJSONText(R"json([
        {"url":"https://example.com/","kind":"html"},
        {"url":"https://example.com/app.js","kind":"js"},
        {"url":"https://example.com/app.js","kind":"text"},
        {"url":42,"kind":"js"},
        {"url":"https://example.com/a.css"},
        {"url":"https://example.com/b.css","kind":["css"]},
        {"url":"https://example.com/c.css","kind":"stylesheet"},
        {"url":"data:text/css,a","kind":"css"},
        {"url":"file:///etc/passwd","kind":"text"},
        {"url":"javascript:alert(1)","kind":"js"},
        {"url":"https://example.com/#frag","kind":"html"},
        {"url":"https://exa mple.com/","kind":"html"},
        {"url":"https:///nohost","kind":"html"},
        "https://example.com/x.js", null, 7,
        {"url":"http://other.org/font.woff2","kind":"font","extra":true}
    ])json");
    ASSERT_TRUE(list);
    EXPECT_EQ(*list,
        (std::vector<SourceResource> { { "https://example.com/", "html" },
            { "https://example.com/app.js", "js" }, { "http://other.org/font.woff2", "font" } }));
}

TEST(PageSourceList, HugeListsAndAddressesAreBounded)
{
    Json many = Json::array();
    for (int i = 0; i < 6000; ++i)
        many.push_back(
            { { "url", "https://example.com/" + std::to_string(i) }, { "kind", "text" } });
    many.push_back(
        { { "url", "https://example.com/" + std::string(9000, 'a') }, { "kind", "text" } });
    auto list = sourceResourcesFromValue(many);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->size(), kMaxListedSourceResources);

    Json longOne = Json::array(
        { { { "url", "https://example.com/" + std::string(9000, 'a') }, { "kind", "text" } } });
    EXPECT_TRUE(sourceResourcesFromValue(longOne)->empty());
}

TEST(PageSourceList, RowShowsKindInCapitals)
{
    EXPECT_EQ(sourceResourceRowLabel({ "https://example.com/site.css", "css" }),
        "[CSS] https://example.com/site.css");
}

TEST(PageSourceScripts, FetchScriptCarriesTheAddressAsOneLiteral)
{
    const std::string url = "https://example.com/a\"b</script>\u2028c.js";
    PageScript script = sourceResourceFetchScript(url);
    EXPECT_EQ(script.kind, PageScriptKind::AsyncFunctionBody);
    EXPECT_EQ(script.source.find("</script>"), std::string::npos);
    EXPECT_EQ(embeddedValue(script.source, "const url = ", ";\n"), Json(url));
}

TEST(PageSourceApply, KindRules)
{
    struct Case {
        std::string kind;
        std::optional<std::string> statementPart; // nothing: refused
    };
    const std::vector<Case> cases {
        { "html", "document.write(SOURCE)" },
        { "css", "__quivelbrowser_source_override__" },
        { "js", "(0,eval)(SOURCE)" },
        { "text", std::nullopt },
        { "font", std::nullopt },
        { "image", std::nullopt },
    };
    for (const Case& c : cases) {
        auto script = applyPageSourceScript(loadedState("https://example.com/f", c.kind), "x");
        ASSERT_EQ(script.ok(), c.statementPart.has_value()) << c.kind;
        if (script.ok()) {
            EXPECT_NE(script->source.find(*c.statementPart), std::string::npos) << c.kind;
        } else {
            EXPECT_EQ(script.error(),
                "This text resource is editable and saveable, but cannot be applied as "
                "HTML/CSS/JS.");
        }
    }
}

TEST(PageSourceApply, AppliesTheLoadedTextAndRefusesWithoutOne)
{
    SourceEditorState empty;
    auto refused = applyPageSourceScript(empty, "body{}");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), "Select and load a file before applying edits.");

    const std::string text = "a\"b';</script><script>alert(1)</script>\u2029\\";
    auto script = applyPageSourceScript(loadedState("https://example.com/s.css", "css"), text);
    ASSERT_TRUE(script.ok());
    EXPECT_EQ(script->source.find("</script>"), std::string::npos);
    EXPECT_EQ(embeddedValue(script->source, "const SOURCE=", ";let style="), Json(text));
}

TEST(PageSourceEditor, LoadingOverDirtyEdits)
{
    SourceResource a { "https://example.com/a.css", "css" };
    SourceResource b { "https://example.com/b.js", "js" };
    SourceEditorState state;
    EXPECT_FALSE(markSourceEdited(state)); // the placeholder never becomes dirty
    EXPECT_FALSE(state.dirty);
    EXPECT_EQ(sourceLoadStep(state, a), SourceLoadStep::Load);

    markSourceLoaded(state, a);
    EXPECT_EQ(sourceLoadStep(state, b), SourceLoadStep::Load);
    EXPECT_EQ(markSourceEdited(state), "Unsaved local edits · a.css");
    EXPECT_EQ(sourceLoadStep(state, b), SourceLoadStep::AskToSaveOrDiscard);
    EXPECT_EQ(sourceLoadStep(state, a), SourceLoadStep::RefuseSameDirty);

    markSourceLoaded(state, b);
    EXPECT_FALSE(state.dirty);
    // Apply uses the loaded file's kind whatever row is selected afterwards.
    auto script = applyPageSourceScript(state, "1");
    ASSERT_TRUE(script.ok());
    EXPECT_NE(script->source.find("(0,eval)(SOURCE)"), std::string::npos);
}

} // namespace qv
