// Trimming, UTF-8 validity and the JSON boundary.
#include "base/json_text.h"
#include "base/text_util.h"
#include "base/uuid.h"

#include <gtest/gtest.h>

namespace qv {

TEST(TextUtil, TrimRemovesOnlyBlanksAtBothEnds)
{
    EXPECT_EQ(trim("  \t a b \r\n"), "a b");
    EXPECT_EQ(trim(" \n\t\r "), "");
    EXPECT_EQ(trim("\va\v"), "\va\v");
}

TEST(TextUtil, Utf8ValidityRejectsOverlongsSurrogatesAndTruncation)
{
    EXPECT_TRUE(isValidUtf8("K\xC3\xB6ln \xF0\x9F\x98\x80"));
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));         // overlong "/"
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));         // truncated
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80")); // past U+10FFFF
    EXPECT_EQ(utf8FromString("\xFF"), "");
    EXPECT_EQ(sanitizeUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
}

TEST(JsonText, DumpNeverThrowsOnInvalidUtf8)
{
    Json value = { { "title", std::string("bad \xFF\xFE text") } };
    std::string text;
    ASSERT_NO_THROW(text = dumpJson(value));
    auto back = parseJson(text);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ((*back)["title"], "bad \xEF\xBF\xBD\xEF\xBF\xBD text");
}

TEST(JsonText, ScriptTextCannotCloseAScriptOrBreakALine)
{
    Json value = std::string("\"</script><b>\xE2\x80\xA8\xE2\x80\xA9");
    std::string text = jsonForScript(value);
    EXPECT_EQ(text.find("</"), std::string::npos);
    EXPECT_EQ(text.find("\xE2\x80\xA8"), std::string::npos);
    EXPECT_EQ(text.find("\xE2\x80\xA9"), std::string::npos);
    EXPECT_EQ(parseJson(text)->get<std::string>(), value.get<std::string>());
}

TEST(JsonText, ParseRejectsNonJsonWithoutThrowing)
{
    EXPECT_FALSE(parseJson("{\"a\":").has_value());
    EXPECT_FALSE(parseJson("").has_value());
    EXPECT_TRUE(parseJson("[]").has_value());
}

TEST(Uuid, MadeIdentifiersAreCanonicalUpperCaseAndDistinct)
{
    std::string a = makeUUIDString(), b = makeUUIDString();
    EXPECT_TRUE(isUUIDString(a));
    EXPECT_NE(a, b);
    EXPECT_EQ(a[14], '4');
    EXPECT_FALSE(isUUIDString("6ba7b810-9dad-11d1-80b4-00c04fd430c8"));
}

} // namespace qv
