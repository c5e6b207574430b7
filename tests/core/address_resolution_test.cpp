// Address normalisation, submission decisions, candidates, probes and search addresses.
#include "navigation/address_resolution.h"

#include "base/text_util.h"
#include "base/url.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

namespace qv {

namespace {

struct NormalizeCase {
    const char* typed;
    const char* expected; // nullptr: not an address
};

std::ostream& operator<<(std::ostream& out, const NormalizeCase& c) { return out << c.typed; }

class NormalizedAddressTest : public testing::TestWithParam<NormalizeCase> { };

TEST_P(NormalizedAddressTest, GivesTheDocumentedAddress)
{
    auto result = normalizedAddress(GetParam().typed);
    if (GetParam().expected) {
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(*result, GetParam().expected);
    } else {
        EXPECT_FALSE(result.has_value()) << *result;
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, NormalizedAddressTest,
    testing::Values(
        // Case is kept; only the "www." test ignores it.
        NormalizeCase { "  Site.TEST  ", "https://www.Site.TEST" },
        NormalizeCase { "site.test", "https://www.site.test" },
        NormalizeCase { "site.test/a?b", "https://www.site.test/a?b" },
        NormalizeCase { "site.test#frag", "https://www.site.test#frag" },
        NormalizeCase { "sub.site.test", "https://sub.site.test" },
        NormalizeCase { "www.site.test", "https://www.site.test" },
        NormalizeCase { "www.site", "https://www.site" },
        NormalizeCase { "WWW.site", "https://WWW.site" },
        NormalizeCase { "a.b.c", "https://a.b.c" },
        NormalizeCase { "site.test:8080", "https://www.site.test:8080" },
        // IP addresses and local hosts get "https://" only.
        NormalizeCase { "192.168.0.1", "https://192.168.0.1" },
        NormalizeCase { "10.0.0.1:8080/x", "https://10.0.0.1:8080/x" },
        NormalizeCase { "localhost", "https://localhost" },
        NormalizeCase { "localhost:8080", "https://localhost:8080" },
        NormalizeCase { "localhost:5173/app", "https://localhost:5173/app" },
        NormalizeCase { "localhost?x=1", "https://localhost?x=1" },
        NormalizeCase { "[::1]", "https://[::1]" },
        NormalizeCase { "[::1]:8080", "https://[::1]:8080" },
        NormalizeCase { "[2001:db8::7]:443/x", "https://[2001:db8::7]:443/x" },
        // Typed schemes are kept as typed.
        NormalizeCase { "http://Site.Test/Path", "http://Site.Test/Path" },
        NormalizeCase { "HTTPS://site.test", "HTTPS://site.test" },
        NormalizeCase { "https://user@site.test/", "https://user@site.test/" },
        NormalizeCase { "\xC2\xA0site.test\xE3\x80\x80", "https://www.site.test" },
        // Not addresses.
        NormalizeCase { "news", nullptr }, NormalizeCase { "", nullptr },
        NormalizeCase { " \t\r\n", nullptr }, NormalizeCase { "user@site.test", nullptr },
        NormalizeCase { "news_site.test", nullptr }, NormalizeCase { "50%.test", nullptr },
        NormalizeCase { "stra\xC3\x9F"
                        "e.de",
            nullptr },
        NormalizeCase { "two words.test", nullptr }, NormalizeCase { "site.test/a b", nullptr },
        NormalizeCase { "site.test/<script>", nullptr },
        NormalizeCase { "site.test:abc", nullptr },
        NormalizeCase { "site.test:99999", nullptr }, NormalizeCase { "https://", nullptr },
        NormalizeCase { "http:///path", nullptr }, NormalizeCase { "ftp://site.test", nullptr },
        NormalizeCase { "ftp.site.test:x", nullptr },
        NormalizeCase { "javascript:alert(1)", nullptr },
        NormalizeCase { "data:text/html,<b>x</b>", nullptr },
        NormalizeCase { "\xFF.test", nullptr },
        // After "localhost" only a decimal port; after "[" only an IPv6 literal and a port.
        NormalizeCase { "localhost:x@evil.test/login", nullptr },
        NormalizeCase { "localhost:@evil.test", nullptr },
        NormalizeCase { "localhost:", nullptr }, NormalizeCase { "localhost:80x", nullptr },
        NormalizeCase { "localhostevil", nullptr },
        NormalizeCase { "[::1]@evil.test", nullptr }, NormalizeCase { "[::1]x", nullptr },
        NormalizeCase { "[::1]:", nullptr }, NormalizeCase { "[evil.test]", nullptr },
        NormalizeCase { "[1.2.3.4]", nullptr }, NormalizeCase { "[::1", nullptr }));

TEST(URLParsing, SplitsPartsAndGivesIPv6HostWithoutBrackets)
{
    auto parts = parseURL("https://u:p@[::1]:8080/a/b?c=d#e");
    ASSERT_TRUE(parts.has_value());
    EXPECT_EQ(parts->scheme, "https");
    EXPECT_EQ(parts->userInfo, "u:p");
    EXPECT_EQ(parts->host, "::1");
    EXPECT_TRUE(parts->hostIsIPv6);
    EXPECT_EQ(parts->port, "8080");
    EXPECT_EQ(parts->path, "/a/b");
    EXPECT_EQ(parts->query, "c=d");
    EXPECT_EQ(parts->fragment, "e");
    EXPECT_EQ(parts->absoluteString(), "https://u:p@[::1]:8080/a/b?c=d#e");
}

TEST(URLParsing, RejectsMalformedReferences)
{
    for (const char* text : { "https://a b", "https://a@b@c", "https://[::1", "https://x:port",
             "https://x/%zz", "https://x/%4", "https://x/\x01", "https://x/\xC3\xA9",
             "https://x/\"", "https://[v1.x]/", "1a:b", "https://x:65536" })
        EXPECT_FALSE(parseURL(text).has_value()) << text;
    EXPECT_TRUE(parseURL("https://x:65535").has_value());
    EXPECT_TRUE(parseURL("file:///tmp/a%20b").has_value());
}

TEST(URLParsing, IPv6Literals)
{
    for (const char* good :
        { "::", "::1", "1::", "2001:db8::7", "1:2:3:4:5:6:7:8", "::ffff:1.2.3.4", "fe80::1:2" })
        EXPECT_TRUE(isIPv6Literal(good)) << good;
    for (const char* bad : { "", ":", ":1", "1:", "1:::2", "1::2::3", "1:2:3:4:5:6:7:8:9",
             "12345::", "::1.2.3", "::1.2.3.256", "g::1", "1:2:3:4:5:6:7::8:9" })
        EXPECT_FALSE(isIPv6Literal(bad)) << bad;
}

TEST(PercentEncoding, SearchQueryEscapesOperatorsAndKeepsSlashAndQuestionMark)
{
    EXPECT_EQ(percentEncode("c++", URLComponent::SearchQuery), "c%2B%2B");
    EXPECT_EQ(percentEncode("1+1=2", URLComponent::SearchQuery), "1%2B1%3D2");
    EXPECT_EQ(percentEncode("a&b c", URLComponent::SearchQuery), "a%26b%20c");
    EXPECT_EQ(percentEncode("#tag", URLComponent::SearchQuery), "%23tag");
    EXPECT_EQ(percentEncode("a/b?c", URLComponent::SearchQuery), "a/b?c");
    EXPECT_EQ(percentEncode("100%", URLComponent::SearchQuery), "100%25");
    EXPECT_EQ(percentEncode("stra\xC3\x9F"
                            "e",
                  URLComponent::SearchQuery),
        "stra%C3%9Fe");
}

TEST(PercentEncoding, KeepingEscapesDoesNotEscapeTwice)
{
    EXPECT_EQ(percentEncode("My%20Page", URLComponent::Fragment, ExistingEscapes::Keep),
        "My%20Page");
    EXPECT_EQ(percentEncode("My%20Page", URLComponent::Fragment), "My%2520Page");
    EXPECT_EQ(percentEncode("100% a%4", URLComponent::Fragment, ExistingEscapes::Keep),
        "100%25%20a%254");
    EXPECT_EQ(percentDecode("a%20b%2f"), "a b/");
    EXPECT_FALSE(percentDecode("a%2").has_value());
    EXPECT_FALSE(percentDecode("a%zz").has_value());
}

TEST(UnicodeTrim, RemovesUnicodeBlanksOnly)
{
    EXPECT_EQ(trimUnicodeWhitespace("\xE2\x80\xA8 a b\xC2\x85\xC2\xA0"), "a b");
    EXPECT_EQ(trimUnicodeWhitespace("\xC2\xA0"), "");
    EXPECT_EQ(trimUnicodeWhitespace("\xC3\xA9"), "\xC3\xA9");
    EXPECT_EQ(trimUnicodeWhitespace("x\xA0"), "x\xA0"); // a lone continuation byte stays
}

// Candidate lists: exact contents and order.
struct CandidateCase {
    const char* input;
    std::vector<std::string> expected;
};

std::ostream& operator<<(std::ostream& out, const CandidateCase& c) { return out << c.input; }

class AddressCandidatesTest : public testing::TestWithParam<CandidateCase> { };

TEST_P(AddressCandidatesTest, ListsCandidatesInPreferenceOrder)
{
    EXPECT_EQ(addressCandidates(GetParam().input), GetParam().expected);
}

std::vector<std::string> bareWord(const std::string& word)
{
    std::vector<std::string> list { "https://" + word, "https://www." + word };
    for (const char* tld : { "com", "org", "net", "app", "me", "click" })
        list.push_back("https://www." + word + "." + tld);
    return list;
}

INSTANTIATE_TEST_SUITE_P(Rules, AddressCandidatesTest,
    testing::Values(CandidateCase { "news", bareWord("news") },
        CandidateCase { "news-site", bareWord("news-site") },
        CandidateCase { "News42", bareWord("News42") },
        CandidateCase { "news_site", { "https://news_site", "https://www.news_site" } },
        CandidateCase { "site.test", { "https://www.site.test", "https://site.test" } },
        CandidateCase {
            "sub.site.test", { "https://sub.site.test", "https://www.sub.site.test" } },
        CandidateCase { "https://site.test", { "https://site.test", "https://www.site.test" } },
        CandidateCase {
            "HTTP://Site.test/x", { "HTTP://Site.test/x", "HTTP://www.Site.test/x" } },
        CandidateCase { "https://www.site.test", { "https://www.site.test" } },
        CandidateCase { "https://WWW.site.test", { "https://WWW.site.test" } },
        CandidateCase { "https://user@site.test",
            { "https://user@site.test", "https://user@www.site.test" } },
        CandidateCase {
            "localhost:3000", { "https://localhost:3000", "https://www.localhost:3000" } },
        CandidateCase { "http://[::1]:8080/", { "http://[::1]:8080/" } },
        CandidateCase { "192.168.0.1", { "https://192.168.0.1", "https://www.192.168.0.1" } },
        // Nothing that names another host through user info.
        CandidateCase { "localhost:x@evil.test/login", {} },
        CandidateCase { "a@evil.test", {} }, CandidateCase { "site.test:x@evil.test", {} },
        CandidateCase { "javascript:alert(1)", {} }, CandidateCase { "https://", {} },
        CandidateCase { "", {} }));

TEST(AddressCandidates, EveryCandidateIsAnHTTPAddress)
{
    for (const char* input :
        { "news", "site.test", "localhost:3000", "[::1]:80", "a.b-c.d/x?y#z" })
        for (const std::string& candidate : addressCandidates(input)) {
            auto parts = parseURL(candidate);
            ASSERT_TRUE(parts.has_value()) << candidate;
            EXPECT_FALSE(parts->host.empty()) << candidate;
        }
}

// Probes and the status rule.
struct StatusCase {
    int status;
    bool answers;
};

class AnsweringStatusTest : public testing::TestWithParam<StatusCase> { };

TEST_P(AnsweringStatusTest, FollowsTheStatusRule)
{
    EXPECT_EQ(isAnsweringStatus(GetParam().status), GetParam().answers) << GetParam().status;
}

INSTANTIATE_TEST_SUITE_P(Rules, AnsweringStatusTest,
    testing::Values(StatusCase { -1, false }, StatusCase { 0, false },
        StatusCase { 100, false }, StatusCase { 199, false }, StatusCase { 200, true },
        StatusCase { 204, true }, StatusCase { 301, true }, StatusCase { 304, true },
        StatusCase { 401, true }, StatusCase { 403, true }, StatusCase { 404, false },
        StatusCase { 405, true }, StatusCase { 410, false }, StatusCase { 499, true },
        StatusCase { 500, false }, StatusCase { 503, false }));

TEST(Probing, WinnerIsSettledAsSoonAsEveryEarlierCandidateHasFailed)
{
    constexpr ProbeAnswer waiting {};
    auto done = [](std::optional<int> status) { return ProbeAnswer { true, status }; };
    struct Case {
        std::vector<ProbeAnswer> answers;
        ProbeSettlement settlement;
        size_t winner;
    };
    const Case cases[] = {
        { { done(std::nullopt), done(404), done(403), done(200) }, ProbeSettlement::Winner, 2 },
        { { done(500), done(410), done(std::nullopt), done(301) }, ProbeSettlement::Winner, 3 },
        { { done(404), done(410), done(500), done(std::nullopt) }, ProbeSettlement::NoWinner,
            0 },
        { {}, ProbeSettlement::NoWinner, 0 },
        // A later answer waits for the earlier candidates; an earlier one does not wait.
        { { waiting, done(200) }, ProbeSettlement::Pending, 0 },
        { { done(200), waiting, waiting }, ProbeSettlement::Winner, 0 },
        { { done(404), done(204), waiting }, ProbeSettlement::Winner, 1 },
        { { done(404), waiting, done(200) }, ProbeSettlement::Pending, 0 },
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SettledProbe settled = settledProbe(cases[i].answers);
        EXPECT_EQ(settled.settlement, cases[i].settlement) << "case " << i;
        if (settled.settlement == ProbeSettlement::Winner) {
            EXPECT_EQ(settled.winner, cases[i].winner) << "case " << i;
        }
    }
}

// Submissions.
RequestContext contextWith(
    std::map<std::string, PathKind> paths, SubmitOrigin origin = SubmitOrigin::User)
{
    RequestContext context;
    context.homeDirectory = "/home/u";
    context.origin = origin;
    context.pathKind = [paths](const std::string& path) {
        auto it = paths.find(path);
        return it == paths.end() ? PathKind::None : it->second;
    };
    return context;
}

TEST(SubmissionInput, DropsFinalHashTrimsAndReadsRawRequests)
{
    EXPECT_EQ(submissionInput("site.test#"), "site.test");
    EXPECT_EQ(submissionInput("  site.test#  "), "site.test#");
    EXPECT_EQ(submissionInput("#"), "");
    EXPECT_EQ(submissionInput(" \t\r\n"), "");
    EXPECT_EQ(submissionInput("\xFF"
                              "abc"),
        "");
    EXPECT_EQ(submissionInput("\xC2\xA0"), "");
    EXPECT_EQ(submissionInput("GET /docs HTTP/1.1\r\nHost: site.test\r\n\r\n"),
        "http://site.test/docs");
    EXPECT_EQ(submissionInput("GET /docs HTTP/1.1\nhost:site.test"), "http://site.test/docs");
    EXPECT_EQ(submissionInput("GET /docs HTTP/1.1\nX-Host: a"), "/docs");
    EXPECT_EQ(submissionInput("GET /docs HTTP/1.1\nHost : a"), "/docs");
    EXPECT_EQ(submissionInput("GET /docs HTTP/1.1\nAccept\nHost: a\nHost: b"), "http://a/docs");
    EXPECT_EQ(submissionInput("GET /docs HTTP/1.1\nHost:  \nHost: b"), "");
    EXPECT_EQ(submissionInput("GET https://site.test/x HTTP/1.1\nHost: other"),
        "https://site.test/x");
    EXPECT_EQ(submissionInput("GET\tsite.test HTTP/1.1"), "site.test");
    EXPECT_EQ(submissionInput("GET \t \nHost: a"), "");
    EXPECT_EQ(submissionInput("GET"), "GET");
    EXPECT_EQ(submissionInput("get /x"), "get /x");
}

TEST(Submission, BlankOrInvalidTextIsIgnored)
{
    auto context = contextWith({});
    for (const char* text : { "", "   ", "#", "  #", "\xFF\xFE", "GET \t \nHost: a" })
        EXPECT_EQ(decideRequest(text, context).kind, RequestKind::Ignore) << text;
}

TEST(Submission, BlanksAndNonASCIIAreSearchedWithoutProbing)
{
    auto context = contextWith({});
    for (const char* text : { "two words",
             "stra\xC3\x9F"
             "e",
             "get /x", "a\tb", "a\vb", "caf\xC3\xA9.test" }) {
        auto decision = decideRequest(text, context);
        EXPECT_EQ(decision.kind, RequestKind::Search) << text;
        EXPECT_TRUE(decision.candidates.empty());
    }
    EXPECT_EQ(decideRequest("two words", context).input, "two words");
}

TEST(Submission, TextThatYieldsNoCandidateIsSearched)
{
    auto context = contextWith({});
    for (const char* text : { "javascript:alert(1)", "data:text/html,<b>x</b>", "https://",
             "\x01\x02", "site.test\x01", "localhost:x@evil.test/login", "a@b.test", "<>" }) {
        auto decision = decideRequest(text, context);
        EXPECT_EQ(decision.kind, RequestKind::Search) << text;
        EXPECT_EQ(decision.input, text);
    }
}

TEST(Submission, WordsAndHostsAreProbed)
{
    auto context = contextWith({});
    auto word = decideRequest("news", context);
    EXPECT_EQ(word.kind, RequestKind::Probe);
    EXPECT_EQ(word.candidates, bareWord("news"));
    EXPECT_EQ(word.input, "news");
    auto typed = decideRequest("site.test#", context);
    EXPECT_EQ(typed.kind, RequestKind::Probe);
    EXPECT_EQ(typed.input, "site.test");
    EXPECT_EQ(typed.candidates,
        (std::vector<std::string> { "https://www.site.test", "https://site.test" }));
    auto request = decideRequest("GET /docs HTTP/1.1\nHost: site.test", context);
    EXPECT_EQ(request.candidates,
        (std::vector<std::string> { "http://site.test/docs", "http://www.site.test/docs" }));
}

TEST(Submission, ExistingTildePathOpensAsFile)
{
    auto context = contextWith({ { "/home/u/Sites/index.html", PathKind::File } });
    auto decision = decideRequest("~/Sites/index.html", context);
    ASSERT_EQ(decision.kind, RequestKind::OpenFile);
    EXPECT_EQ(decision.fileAddress, "file:///home/u/Sites/index.html");
    EXPECT_EQ(decision.readAccessAddress, "file:///home/u/Sites/");
}

TEST(Submission, TildeAloneOpensTheHomeFolder)
{
    auto context = contextWith({ { "/home/u", PathKind::Folder } });
    auto decision = decideRequest("~", context);
    ASSERT_EQ(decision.kind, RequestKind::OpenFile);
    EXPECT_EQ(decision.fileAddress, "file:///home/u/");
    EXPECT_EQ(decision.readAccessAddress, "file:///home/");
}

TEST(Submission, AbsolutePathWithBlankOpensWhenItExistsAndIsSearchedOtherwise)
{
    auto context = contextWith({ { "/tmp/My Page.html", PathKind::File } });
    auto found = decideRequest("/tmp/My Page.html", context);
    ASSERT_EQ(found.kind, RequestKind::OpenFile);
    EXPECT_EQ(found.fileAddress, "file:///tmp/My%20Page.html");
    EXPECT_EQ(found.readAccessAddress, "file:///tmp/");
    EXPECT_EQ(decideRequest("/tmp/Other Page.html", context).kind, RequestKind::Search);
}

TEST(Submission, WordNamingAFileInTheWorkingDirectoryIsNotLocal)
{
    // Whatever the file system says, a bare word or relative name is never a path.
    RequestContext context;
    context.homeDirectory = "/home/u";
    std::vector<std::string> asked;
    context.pathKind = [&](const std::string& path) {
        asked.push_back(path);
        return PathKind::File;
    };
    for (const char* text : { "README", "index.html", "docs/index.html", "~user/x", ".", ".." })
        EXPECT_NE(decideRequest(text, context).kind, RequestKind::OpenFile) << text;
    EXPECT_TRUE(asked.empty());
}

TEST(Submission, FileAddressAlreadyEscapedIsNotEscapedTwice)
{
    auto context = contextWith(
        { { "/tmp/My Page.html", PathKind::File }, { "/tmp/100%.html", PathKind::File } });
    auto escaped = decideRequest("file:///tmp/My%20Page.html", context);
    ASSERT_EQ(escaped.kind, RequestKind::OpenFile);
    EXPECT_EQ(escaped.fileAddress, "file:///tmp/My%20Page.html");
    auto raw = decideRequest("file:///tmp/My Page.html", context);
    ASSERT_EQ(raw.kind, RequestKind::OpenFile);
    EXPECT_EQ(raw.fileAddress, "file:///tmp/My%20Page.html");
    auto percent = decideRequest("file:///tmp/100%.html", context);
    ASSERT_EQ(percent.kind, RequestKind::OpenFile);
    EXPECT_EQ(percent.fileAddress, "file:///tmp/100%25.html");
    auto upper = decideRequest("FILE://localhost/tmp/My%20Page.html", context);
    ASSERT_EQ(upper.kind, RequestKind::OpenFile);
    EXPECT_EQ(upper.fileAddress, "file://localhost/tmp/My%20Page.html");
    EXPECT_EQ(upper.readAccessAddress, "file://localhost/tmp/");
}

TEST(Submission, HashInAFileAddressIsPartOfTheName)
{
    auto context = contextWith({ { "/tmp/a#b.html", PathKind::File } });
    auto decision = decideRequest("file:///tmp/a#b.html", context);
    ASSERT_EQ(decision.kind, RequestKind::OpenFile);
    EXPECT_EQ(decision.fileAddress, "file:///tmp/a%23b.html");
}

TEST(Submission, FileAddressOfMissingFileOrOtherHostIsNotOpened)
{
    auto context = contextWith({ { "/etc/passwd", PathKind::File } });
    EXPECT_NE(decideRequest("file:///missing.html", context).kind, RequestKind::OpenFile);
    EXPECT_NE(
        decideRequest("file://evil.test/etc/passwd", context).kind, RequestKind::OpenFile);
    EXPECT_NE(decideRequest("file:///etc/passwd%00x", context).kind, RequestKind::OpenFile);
    EXPECT_EQ(decideRequest("file:///etc/passwd", context).kind, RequestKind::OpenFile);
}

TEST(Submission, PathWithNulIsNotCutShort)
{
    std::vector<std::string> asked;
    RequestContext context;
    context.pathKind = [&](const std::string& path) {
        asked.push_back(path);
        return PathKind::File;
    };
    EXPECT_NE(
        decideRequest(std::string("/etc/passwd\0x", 13), context).kind, RequestKind::OpenFile);
    EXPECT_TRUE(asked.empty());
}

TEST(Submission, ExtensionSubmitNeverOpensALocalFile)
{
    auto context
        = contextWith({ { "/tmp/a.html", PathKind::File }, { "/home/u", PathKind::Folder } },
            SubmitOrigin::Extension);
    for (const char* text : { "/tmp/a.html", "file:///tmp/a.html", "~" })
        EXPECT_NE(decideRequest(text, context).kind, RequestKind::OpenFile) << text;
    EXPECT_EQ(decideRequest("news", context).kind, RequestKind::Probe);
}

TEST(Submission, WithoutPathCallbackNothingIsLocal)
{
    RequestContext context;
    EXPECT_NE(decideRequest("/tmp/a.html", context).kind, RequestKind::OpenFile);
}

TEST(Submission, HugeTextIsDecidedWithoutCrashing)
{
    auto context = contextWith({});
    std::string word(100 * 1024, 'a');
    auto decision = decideRequest(word, context);
    EXPECT_EQ(decision.kind, RequestKind::Probe);
    EXPECT_EQ(decision.candidates.size(), 8u);
    std::string words;
    while (words.size() < 100 * 1024)
        words += "lorem ipsum ";
    EXPECT_EQ(decideRequest(words, context).kind, RequestKind::Search);
    std::string dots(100 * 1024, '.');
    EXPECT_NO_FATAL_FAILURE(decideRequest(dots, context));
}

TEST(Submission, RandomBytesNeverBreakTheDecisionInvariants)
{
    std::mt19937 random(1234);
    const std::string alphabet = std::string("aZ09.-_:/?#@[]%~ \t\r\n\x01\x7F") + "\xC3\xA9\xFF"
        + "GET Host:file://localhost";
    auto context = contextWith({ { "/a", PathKind::File } });
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        size_t length = random() % 24;
        for (size_t i = 0; i < length; ++i)
            text += alphabet[random() % alphabet.size()];
        auto decision = decideRequest(text, context);
        if (decision.kind == RequestKind::Probe) {
            ASSERT_FALSE(decision.candidates.empty());
            std::set<std::string> unique(
                decision.candidates.begin(), decision.candidates.end());
            ASSERT_EQ(unique.size(), decision.candidates.size()) << text;
            for (const std::string& candidate : decision.candidates) {
                auto parts = parseURL(candidate);
                ASSERT_TRUE(parts.has_value()) << text;
                ASSERT_FALSE(parts->host.empty()) << text;
            }
        }
        if (decision.kind == RequestKind::OpenFile) {
            ASSERT_TRUE(startsWith(decision.fileAddress, "file://")) << text;
        }
        if (decision.kind != RequestKind::Ignore) {
            ASSERT_FALSE(decision.input.empty()) << text;
        }
    }
}

// Search and home addresses.
BrowserProfile profileWithEngine(const std::string& engine)
{
    BrowserProfile profile = builtInProfile();
    profile.searchEngine = engine;
    return profile;
}

TEST(SearchAddress, EncodesTheQueryForEachEngine)
{
    struct Case {
        const char* engine;
        const char* query;
        const char* expected;
    };
    const Case cases[] = {
        { "Google", "a&b c", "https://www.google.com/search?q=a%26b%20c" },
        { "Google", "c++", "https://www.google.com/search?q=c%2B%2B" },
        { "Google", "1+1=2", "https://www.google.com/search?q=1%2B1%3D2" },
        { "Google", "C# #tips", "https://www.google.com/search?q=C%23%20%23tips" },
        { "Google", "a/b?", "https://www.google.com/search?q=a/b?" },
        { "Bing", "x", "https://www.bing.com/search?q=x" },
        { "DuckDuckGo", "x", "https://duckduckgo.com/?q=x" },
        { "Yahoo", "x", "https://search.yahoo.com/search?p=x" },
        { "Brave", "x", "https://search.brave.com/search?q=x" },
        { "google", "x", "https://www.google.com/search?q=x" },
        { "", "x", "https://www.google.com/search?q=x" },
    };
    for (const Case& c : cases) {
        BrowserProfile profile = profileWithEngine(c.engine);
        EXPECT_EQ(searchURLForProfile(c.query, &profile), c.expected)
            << c.engine << " " << c.query;
    }
    EXPECT_EQ(searchURLForProfile("x y", nullptr), "https://www.google.com/search?q=x%20y");
    EXPECT_EQ(
        searchURLForProfile("\xFF", nullptr), "https://www.google.com/search?q=%EF%BF%BD");
}

TEST(SearchAddress, EverySearchAddressParses)
{
    for (const char* query : { "", "a b", "\"<>\\^`{|}", "%%", "\x01\x02", "\xE2\x80\xA8" })
        for (std::string_view engine : kSearchEngines) {
            BrowserProfile profile = profileWithEngine(std::string(engine));
            EXPECT_TRUE(parseURL(searchURLForProfile(query, &profile)).has_value()) << query;
        }
}

TEST(HomePage, IsTheEnginesSearchForAnEmptyQuery)
{
    EXPECT_EQ(homePageURLForProfile(nullptr), "https://www.google.com/search?q=");
    BrowserProfile duck = profileWithEngine("DuckDuckGo");
    EXPECT_EQ(homePageURLForProfile(&duck), "https://duckduckgo.com/?q=");

    std::vector<BrowserProfile> profiles { profileWithEngine("Bing") };
    BrowserProfile other = makeNewProfile();
    other.searchEngine = "Yahoo";
    profiles.push_back(other);
    EXPECT_EQ(homePageURLForProfile(profiles, ""), "https://www.bing.com/search?q=");
    EXPECT_EQ(homePageURLForProfile(profiles, "default"), "https://www.bing.com/search?q=");
    EXPECT_EQ(homePageURLForProfile(profiles, other.id), "https://search.yahoo.com/search?p=");
    EXPECT_EQ(homePageURLForProfile(profiles, "gone"), "https://www.google.com/search?q=");
}

} // namespace

} // namespace qv
