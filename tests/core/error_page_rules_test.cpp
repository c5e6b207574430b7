// The error page: escaping hostile text and filling in the template.
#include "navigation/error_page_rules.h"

#include <gtest/gtest.h>

namespace qv {

struct EscapeCase {
    const char* text;
    const char* expected;
};

class HtmlEscape : public ::testing::TestWithParam<EscapeCase> { };

TEST_P(HtmlEscape, LeavesNoMarkupCharacter)
{
    EXPECT_EQ(htmlEscaped(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, HtmlEscape,
    ::testing::Values(EscapeCase { "plain text", "plain text" },
        EscapeCase { "<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;" },
        EscapeCase { "a&b", "a&amp;b" }, EscapeCase { "&amp;", "&amp;amp;" },
        EscapeCase { "\" onload=\"x", "&quot; onload=&quot;x" }, EscapeCase { "it's", "it&#39;s" },
        EscapeCase { "", "" },
        EscapeCase { "caf\xc3\xa9 \xe2\x80\xa6", "caf\xc3\xa9 \xe2\x80\xa6" }));

TEST(ErrorPageTemplate, FillsEveryMarkerOnceAndEscapesWhatItInserts)
{
    ErrorPageText text;
    text.message = "Could not connect: <b>refused</b>";
    text.address = "http://x/?q={{message}}&a=\"1\"";
    text.dark = true;
    std::string page = errorPageHTML(
        "<html class=\"{{theme}}\"><p>{{message}}</p><a>{{address}}</a>{{other}}{{address}}{{",
        text);
    EXPECT_EQ(page,
        "<html class=\"dark\"><p>Could not connect: &lt;b&gt;refused&lt;/b&gt;</p>"
        "<a>http://x/?q={{message}}&amp;a=&quot;1&quot;</a>{{other}}"
        "http://x/?q={{message}}&amp;a=&quot;1&quot;{{");
    text.dark = false;
    EXPECT_EQ(errorPageHTML("{{theme}}", text), "light");
}

} // namespace qv
