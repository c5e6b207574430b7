// Filter-list lines to engine rules, and whole files in either format.
#include "contentblocking/filter_list_converter.h"

#include <gtest/gtest.h>

namespace qv {

namespace {

constexpr const char* kIgnored = "ignored";
constexpr const char* kSkipped = "skipped";

constexpr const char* kHost = R"(^[a-z][a-z0-9.+-]*://([^/?#]*\\.)?)";
constexpr const char* kSeparator = R"([^a-zA-Z0-9_.%-])";

std::string rule(const std::string& trigger, const std::string& action = R"({"type":"block"})")
{
    return R"({"action":)" + action + R"(,"trigger":)" + trigger + "}";
}

std::string host(const std::string& rest)
{
    return std::string(kHost) + rest;
}

} // namespace

TEST(FilterListConverter, EachLineIsConvertedExactlyOrSkipped)
{
    const std::string sep = kSeparator;
    const std::pair<std::string, std::string> table[] = {
        // Comments, headers and blank lines.
        { "! Title: Some list", kIgnored },
        { "[Adblock Plus 2.0]", kIgnored },
        { "   ", kIgnored },
        // Host anchors, with and without a path, and the separator.
        { "||ads.example.com^", rule(R"({"url-filter":")" + host(R"(ads\\.example\\.com)" + sep) + "\"}") },
        { "||example.com/banner/*.gif", rule(R"({"url-filter":")" + host(R"(example\\.com/banner/.*\\.gif)") + "\"}") },
        { "||cdn.example.com/x.js^$script", rule(R"({"resource-type":["script"],"url-filter":")" + host(R"(cdn\\.example\\.com/x\\.js)" + sep) + "\"}") },
        // Plain and anchored patterns; regex metacharacters escaped, "*" a wildcard.
        { "/banner/ads?id=", rule(R"({"url-filter":"/banner/ads\\?id="})") },
        { "*&ad_type=(x)+", rule(R"({"url-filter":"&ad_type=\\(x\\)\\+"})") },
        { "|http://ads.", rule(R"({"url-filter":"^http://ads\\."})") },
        { ".swf|", rule(R"({"url-filter":"\\.swf$"})") },
        { "/ad[1]{2}.js", rule(R"({"url-filter":"/ad\\[1\\]\\{2\\}\\.js"})") },
        // Exceptions lift earlier rules.
        { "@@||example.com/ads.js$script", rule(R"({"resource-type":["script"],"url-filter":")" + host(R"(example\\.com/ads\\.js)") + "\"}", R"({"type":"ignore-previous-rules"})") },
        // Party and domain conditions.
        { "||tracker.net^$third-party", rule(R"({"load-type":["third-party"],"url-filter":")" + host(R"(tracker\\.net)" + sep) + "\"}") },
        { "/own.js$~third-party", rule(R"({"load-type":["first-party"],"url-filter":"/own\\.js"})") },
        { "/ad.js$domain=a.com|B.org", rule(R"({"if-domain":["*a.com","*b.org"],"url-filter":"/ad\\.js"})") },
        { "/ad.js$domain=~a.com|~b.org", rule(R"({"unless-domain":["*a.com","*b.org"],"url-filter":"/ad\\.js"})") },
        { "/ad.js$domain=a.com|~b.a.com", kSkipped },
        { "/ad.js$domain=example.*", kSkipped },
        { "/ad.js$third-party,~third-party", kSkipped },
        // Resource types, one rule for several, and frames alone.
        { "/track$image,stylesheet,font,media,xmlhttprequest,websocket,ping,other", rule(R"({"resource-type":["image","style-sheet","font","media","fetch","websocket","ping","other"],"url-filter":"/track"})") },
        { "||ads.net^$subdocument", rule(R"({"load-context":["child-frame"],"resource-type":["document"],"url-filter":")" + host(R"(ads\\.net)" + sep) + "\"}") },
        { "||ads.net^$subdocument,image", kSkipped },
        { "/x.js$match-case", rule(R"({"url-filter":"/x\\.js","url-filter-is-case-sensitive":true})") },
        { "$script,domain=a.com", rule(R"({"if-domain":["*a.com"],"resource-type":["script"],"url-filter":".*"})") },
        // What the engine cannot express exactly.
        { "/banner\\d+/", kSkipped },
        { "||ads.net^$redirect=noopjs", kSkipped },
        { "||ads.net^$csp=script-src 'none'", kSkipped },
        { "||ads.net^$~image", kSkipped },
        { "||ads.net^$important", kSkipped },
        { "@@||example.com^$document", kSkipped },
        { "/caf\xC3\xA9/ad", kSkipped },
        { "/a b.js", kSkipped },
        { "||*.ads.net^", kSkipped },
        // Element hiding, everywhere and per site.
        { "##.ad-banner", rule(R"({"url-filter":".*"})", R"({"selector":".ad-banner","type":"css-display-none"})") },
        { "example.com,news.org##div[id^=\"ad\"]", rule(R"({"if-domain":["*example.com","*news.org"],"url-filter":".*"})", R"({"selector":"div[id^=\"ad\"]","type":"css-display-none"})") },
        { "~example.com##.sponsor", rule(R"({"unless-domain":["*example.com"],"url-filter":".*"})", R"({"selector":".sponsor","type":"css-display-none"})") },
        { "a.com,~b.com##.ad", kSkipped },
        { "example.com#@#.ad", kSkipped },
        { "example.com#?#div:-abp-has(.ad)", kSkipped },
        { "example.com##div:has-text(Sponsored)", kSkipped },
        { "example.com##+js(set-constant, ads, false)", kSkipped },
        { "example.com##^script:has-text(ad)", kSkipped },
        { "example.com#$#.ad { display: none }", kSkipped },
        { "##.ad { color: red }", kSkipped },
        { std::string(kMaxFilterLineLength + 1, 'a'), kSkipped },
    };
    for (const auto& [line, expected] : table) {
        FilterLineConversion result = convertFilterLine(line);
        std::string actual = result.kind == FilterLineConversion::Kind::Ignored ? kIgnored
            : result.kind == FilterLineConversion::Kind::Skipped              ? kSkipped
                                                                               : dumpJson(result.rule);
        EXPECT_EQ(actual, expected) << line;
    }
}

TEST(FilterListConverter, FilesAreOrderedCountedAndCheckedInEitherFormat)
{
    auto list = convertContentBlockerFile("[Adblock Plus 2.0]\r\n##.ad\r\n@@/ok.js\n/ad.js\n/x/$csp=x\n");
    ASSERT_TRUE(list.ok());
    EXPECT_EQ(list->convertedCount, 3u);
    EXPECT_EQ(list->skippedCount, 1u);
    // Blocking, then exceptions, then element hiding.
    ASSERT_EQ(list->rules.size(), 3u);
    EXPECT_EQ(list->rules[0]["action"]["type"], "block");
    EXPECT_EQ(list->rules[1]["action"]["type"], "ignore-previous-rules");
    EXPECT_EQ(list->rules[2]["action"]["type"], "css-display-none");

    EXPECT_FALSE(convertContentBlockerFile("! only a comment\n@@/ok.js\n").ok());
    EXPECT_FALSE(convertContentBlockerFile(std::string(kMaxFilterListBytes + 1, '!')).ok());

    auto engine = convertContentBlockerFile(
        R"( [{"trigger":{"url-filter":"ads"},"action":{"type":"block"}}])");
    ASSERT_TRUE(engine.ok());
    EXPECT_EQ(engine->convertedCount, 1u);
    for (const char* bad : { "[]", "{}", "[1]", R"([{"trigger":{},"action":{"type":"block"}}])",
             R"([{"trigger":{"url-filter":"a"},"action":{"type":"run"}}])",
             R"([{"trigger":{"url-filter":"a"},"action":{"type":"css-display-none"}}])", "[{" })
        EXPECT_FALSE(convertContentBlockerFile(bad).ok()) << bad;
}

} // namespace qv
