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

struct TitleCase {
    const char* name;
    std::string title;
    std::string shown;
};

class DisplaySafeTitles : public testing::TestWithParam<TitleCase> { };

TEST_P(DisplaySafeTitles, TitlesCannotReorderOrHideTheirText)
{
    EXPECT_EQ(displaySafeTitle(GetParam().title), GetParam().shown) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Titles, DisplaySafeTitles,
    testing::Values(TitleCase { "plain", "Bank \xE2\x80\x93 Home", "Bank \xE2\x80\x93 Home" },
        TitleCase {
            "right-to-left override", "bank.example \xE2\x80\xAEgnp.exe", "bank.example gnp.exe" },
        TitleCase { "every embedding and override",
            "a\xE2\x80\xAA"
            "b\xE2\x80\xAB"
            "c\xE2\x80\xAC"
            "d\xE2\x80\xAD"
            "e",
            "abcde" },
        TitleCase { "isolates", "\xE2\x81\xA6x\xE2\x81\xA7y\xE2\x81\xA8z\xE2\x81\xA9", "xyz" },
        TitleCase { "marks", "\xE2\x80\x8Ex\xE2\x80\x8Fy\xD8\x9Cz", "xyz" },
        TitleCase { "deprecated format and BOM", "\xE2\x81\xAAx\xE2\x81\xAF\xEF\xBB\xBFy", "xy" },
        TitleCase { "C0 controls", std::string("a\tb\nc\x1B[31md\0e", 13), "a b c [31md e" },
        TitleCase { "DEL and C1 controls",
            "a\x7F"
            "b\xC2\x85"
            "c\xC2\x9B"
            "d",
            "a b c d" },
        TitleCase { "line and paragraph separators",
            "a\xE2\x80\xA8"
            "b\xE2\x80\xA9"
            "c",
            "a b c" },
        TitleCase { "spaces collapse and trim", " \xE2\x80\xAE a \n\n b \xE2\x80\xAC ", "a b" },
        TitleCase { "only controls", "\xE2\x80\xAE\xE2\x81\xA6\n", "" },
        TitleCase { "invalid UTF-8",
            "a\xFF"
            "b",
            "a\xEF\xBF\xBD"
            "b" },
        TitleCase { "right-to-left letters stay", "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D",
            "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D" },
        TitleCase { "joiners stay", "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB",
            "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB" },
        TitleCase { "a huge title is cut", std::string(5000, 'x'),
            std::string(kMaxDisplayedTitleCharacters, 'x') + "\xE2\x80\xA6" },
        TitleCase { "exactly the limit", std::string(kMaxDisplayedTitleCharacters, 'x'),
            std::string(kMaxDisplayedTitleCharacters, 'x') }));

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
