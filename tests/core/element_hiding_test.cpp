// Generic element hiding kept out of the engine's list: which selectors are keyed, the split
// of an engine list, and what a page's classes and IDs are answered with.
#include "contentblocking/element_hiding.h"

#include "base/json_text.h"

#include <gtest/gtest.h>

namespace qv {

TEST(ElementHiding, OnlySelectorsWhoseElementMustCarryAClassOrIdAreKeyed)
{
    const std::pair<const char*, const char*> table[] = {
        { ".ad-banner", ".ad-banner" },
        { "#sponsor_1", "#sponsor_1" },
        { "div.ad.wide", ".ad" },
        { "a[href*=\"x.y z\"]#promo", "#promo" },
        { "div.ad:not(.a .b)", ".ad" },
        { "[class^=\"ad\"]", nullptr },
        { "div > .ad", nullptr },
        { ".a .b", nullptr },
        { ".a, .b", nullptr },
        { ".a ~ .b", nullptr },
        { "div", nullptr },
        { ".1bad", nullptr },
        { ".a{color:red}", nullptr },
        { ".a;x", nullptr },
        { ".a/*x*/", nullptr },
        { ".a\n.b", nullptr },
        { "div.a[x", nullptr },
        { "", nullptr },
    };
    for (const auto& [selector, key] : table) {
        auto found = elementHidingKey(selector);
        if (key)
            EXPECT_EQ(found.value_or("none"), key) << selector;
        else
            EXPECT_FALSE(found) << selector;
    }
}

TEST(ElementHiding, GenericKeyedHidingLeavesTheListAndIsAnsweredByClassAndId)
{
    const char* rules = R"([
        {"trigger":{"url-filter":".*"},"action":{"type":"css-display-none","selector":".early"}},
        {"trigger":{"url-filter":"ads"},"action":{"type":"ignore-previous-rules"}},
        {"trigger":{"url-filter":"x"},"action":{"type":"block"}},
        {"trigger":{"url-filter":".*"},"action":{"type":"css-display-none","selector":".ad"}},
        {"trigger":{"url-filter":".*"},"action":{"type":"css-display-none","selector":"div#top.ad"}},
        {"trigger":{"url-filter":".*","if-domain":["*a.com"]},"action":{"type":"css-display-none","selector":".site"}},
        {"trigger":{"url-filter":".*"},"action":{"type":"css-display-none","selector":"div > .deep"}}
    ])";
    auto split = splitGenericHiding(rules);
    ASSERT_TRUE(split);
    EXPECT_EQ(split->moved, 2u);
    EXPECT_EQ(split->hidingSelectors, ".ad\ndiv#top.ad\n");
    // What an exception could lift, per-site hiding and unkeyed selectors stay, in order.
    auto kept = parseJson(split->engineRules);
    ASSERT_TRUE(kept && kept->is_array());
    ASSERT_EQ(kept->size(), 5u);
    EXPECT_EQ((*kept)[0]["action"]["selector"], ".early");
    EXPECT_EQ((*kept)[3]["action"]["selector"], ".site");
    EXPECT_EQ((*kept)[4]["action"]["selector"], "div > .deep");
    EXPECT_FALSE(splitGenericHiding("{\"not\":\"a list\"}"));

    auto table = ElementHidingTable::fromText(split->hidingSelectors + "div > .x\n{}\n");
    EXPECT_EQ(table.size(), 2u);
    std::vector<std::string_view> selectors;
    table.appendSelectorsFor({ ".ad", "#top", ".other", std::string(300, 'a') }, selectors);
    EXPECT_EQ(elementHidingStyle(selectors), ".ad{display:none!important}\ndiv#top.ad{display:none!important}\n");
    selectors.clear();
    table.appendSelectorsFor({ "#ad", ".early", ".site" }, selectors);
    EXPECT_TRUE(selectors.empty());
}

} // namespace qv
