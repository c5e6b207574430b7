// Navigation fences, manager order and engine JSON of running extensions.
#include "extensions/extension_runtime_rules.h"

#include <gtest/gtest.h>

namespace qv {

namespace {

ExtensionRecord fileExtension(const std::string& root)
{
    ExtensionRecord record;
    record.manifest = { { "id", "tool" }, { "name", "Tool" }, { "type", "file" } };
    record.rootURL = root;
    record.entryURL = root + "/index.html";
    return record;
}

ExtensionRecord websiteExtension()
{
    ExtensionRecord record;
    record.manifest = { { "id", "site" }, { "name", "Site" }, { "type", "url" },
        { "url", "https://example.test/" } };
    record.rootURL = "/store/site";
    return record;
}

ExtensionRecord named(const std::string& id, const std::string& name)
{
    ExtensionRecord record;
    record.manifest = { { "id", id }, { "name", name }, { "type", "file" } };
    return record;
}

} // namespace

struct NavigationCase {
    const char* url;
    bool fileAllowed;
    bool websiteAllowed;
};

class ExtensionNavigationFence : public ::testing::TestWithParam<NavigationCase> { };

TEST_P(ExtensionNavigationFence, AllowsOnlyItsOwnFolderOrWebAddresses)
{
    const NavigationCase& c = GetParam();
    EXPECT_EQ(extensionMayNavigateTo(fileExtension("/store/tool"), c.url), c.fileAllowed) << c.url;
    EXPECT_EQ(extensionMayNavigateTo(websiteExtension(), c.url), c.websiteAllowed) << c.url;
}

INSTANTIATE_TEST_SUITE_P(Table, ExtensionNavigationFence,
    ::testing::Values(NavigationCase { "file:///store/tool/index.html", true, false },
        NavigationCase { "file:///store/tool", true, false },
        NavigationCase { "file:///store/tool/sub/page.html#x", true, false },
        NavigationCase { "file:///store/tool/../other/index.html", false, false },
        NavigationCase { "file:///store/tool%2F..%2Fother/index.html", false, false },
        NavigationCase { "file:///store/toolbox/index.html", false, false },
        NavigationCase { "file:///store/other/index.html", false, false },
        NavigationCase { "FILE:///store/tool/index.html", true, false },
        NavigationCase { "http://127.0.0.1:8080/", false, true },
        NavigationCase { "HTTPS://example.test/a", false, true },
        NavigationCase { "about:blank", false, false },
        NavigationCase { "data:text/html,hi", false, false },
        NavigationCase { "javascript:alert(1)", false, false },
        NavigationCase { "not a url", false, false }));

TEST(ExtensionManagerOrder, SortsByNameIgnoringCase)
{
    std::map<ExtensionID, ExtensionRecord> extensions = {
        { "b", named("b", "beta") },
        { "a", named("a", "Alpha") },
        { "c", named("c", "Charlie") },
    };
    EXPECT_EQ(extensionManagerOrder(extensions), (std::vector<ExtensionID> { "a", "b", "c" }));
}

TEST(ExtensionManagerOrder, EqualNamesKeepAStableIDOrder)
{
    std::map<ExtensionID, ExtensionRecord> extensions = {
        { "z-tool", named("z-tool", "Tool") },
        { "a-tool", named("a-tool", "tool") },
    };
    EXPECT_EQ(extensionManagerOrder(extensions), (std::vector<ExtensionID> { "a-tool", "z-tool" }));
}

TEST(EngineJson, ParsesOrdinaryJson)
{
    auto value = parseEngineJson(R"({"a":[1,"x\u00e9"]})");
    ASSERT_TRUE(value);
    EXPECT_EQ((*value)["a"][1], "x\xC3\xA9");
}

TEST(EngineJson, LoneSurrogatesBecomeReplacementCharacters)
{
    auto value = parseEngineJson(R"(["a\ud800b","\udc00","\ud83d\ude00","\\ud800"])");
    ASSERT_TRUE(value);
    EXPECT_EQ((*value)[0],
        "a\xEF\xBF\xBD"
        "b");
    EXPECT_EQ((*value)[1], "\xEF\xBF\xBD");
    EXPECT_EQ((*value)[2], "\xF0\x9F\x98\x80"); // a proper pair stays one character
    EXPECT_EQ((*value)[3], "\\ud800"); // an escaped backslash is not an escape
}

TEST(EngineJson, HighSurrogateFollowedByAnotherHighIsReplaced)
{
    auto value = parseEngineJson(R"("\ud800\ud800\udc00")");
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, "\xEF\xBF\xBD\xF0\x90\x80\x80");
}

TEST(EngineJson, RawSurrogateBytesBecomeReplacementCharacters)
{
    auto value = parseEngineJson("[\"a\xED\xA0\x80\"]");
    ASSERT_TRUE(value);
    // One replacement character for each byte that is not UTF-8.
    EXPECT_EQ((*value)[0], "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(EngineJson, TextThatIsNotJsonStaysRefused)
{
    EXPECT_FALSE(parseEngineJson("{"));
    EXPECT_FALSE(parseEngineJson("\"\\ud800"));
}

} // namespace qv
