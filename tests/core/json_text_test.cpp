// The JSON boundary: deeply nested documents are refused before any of them is built.
#include "base/json_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv {

namespace {

    std::string nestedArrays(size_t depth, const std::string& inner = "")
    {
        return std::string(depth, '[') + inner + std::string(depth, ']');
    }

    std::string nestedObjects(size_t depth)
    {
        std::string text;
        for (size_t i = 0; i < depth; ++i)
            text += "{\"a\":";
        text += "1";
        return text + std::string(depth, '}');
    }

} // namespace

TEST(JsonText, DocumentsNestedDeeperThanTheLimitAreRefused)
{
    struct Case {
        const char* name;
        std::string text;
        bool accepted;
    };
    const std::vector<Case> cases {
        { "arrays at the limit", nestedArrays(kMaxJsonDepth), true },
        { "arrays one past the limit", nestedArrays(kMaxJsonDepth + 1), false },
        { "objects at the limit", nestedObjects(kMaxJsonDepth), true },
        { "objects one past the limit", nestedObjects(kMaxJsonDepth + 1), false },
        { "a hundred thousand levels", nestedArrays(100000), false },
        { "deep under a shallow history root",
            "{\"years\": {}, \"x\": " + nestedArrays(100000) + "}", false },
        { "mixed arrays and objects past the limit",
            "[" + nestedObjects(kMaxJsonDepth / 2) + "," + nestedArrays(kMaxJsonDepth) + "]",
            false },
        { "siblings never add up", "[" + nestedArrays(60) + "," + nestedArrays(60) + "]", true },
        { "brackets inside a string do not count",
            "[\"" + std::string(1000, '[') + std::string(1000, '{') + "\"]", true },
        { "an escaped quote does not end the string",
            "[\"\\\"" + std::string(1000, '[') + "\"]", true },
        { "an escaped backslash does end it",
            "[\"\\\\\"," + nestedArrays(kMaxJsonDepth) + "]", false },
        { "an unopened close never lowers the count",
            std::string(100, ']') + nestedArrays(kMaxJsonDepth + 1), false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(jsonDepthWithin(c.text), c.accepted);
        EXPECT_EQ(parseJson(c.text).has_value(), c.accepted);
        auto described = parseJsonDescribed(c.text);
        EXPECT_EQ(described.ok(), c.accepted);
        if (!described.ok() && !c.accepted) {
            EXPECT_EQ(described.error(), "nested more than 64 levels deep");
        }
    }
    // Other damage keeps the parser's own words.
    auto truncated = parseJsonDescribed("[1, 2");
    ASSERT_FALSE(truncated.ok());
    EXPECT_NE(truncated.error().find("parse error"), std::string::npos) << truncated.error();
}

} // namespace qv
