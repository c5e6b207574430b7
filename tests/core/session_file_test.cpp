// The session file: what is written comes back, and a hostile file gives only what is sound.
#include "session/session_file.h"
#include "base/text_util.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(SessionFile, WhatIsWrittenComesBackWithItsBinaryStateIconAndSelection)
{
    SessionTab first { "", "https://example.test/a?q=1", "A \"title\"", false, 1.25,
        std::string("\0\x01\xff state", 9), "" };
    SessionTab second { "work-profile", "file:///tmp/page.html", "B", true, 1.0, "",
        std::string("\x89PNG\r\n\x1a\n", 8) };
    std::string text = sessionJson({ sessionTabJson(first), sessionTabJson(second) }, 1);
    Result<Session> session = parseSession(text);
    ASSERT_TRUE(session.ok()) << session.error();
    ASSERT_EQ(session->tabs.size(), 2u);
    EXPECT_EQ(session->selected, 1u);
    EXPECT_EQ(session->skipped, 0u);
    const SessionTab& a = session->tabs[0];
    EXPECT_EQ(a.url, first.url);
    EXPECT_EQ(a.title, first.title);
    EXPECT_EQ(a.state, first.state);
    EXPECT_DOUBLE_EQ(a.zoom, 1.25);
    EXPECT_FALSE(a.lazy);
    const SessionTab& b = session->tabs[1];
    EXPECT_EQ(b.profileID, "work-profile");
    EXPECT_TRUE(b.lazy);
    EXPECT_EQ(b.icon, second.icon);
    EXPECT_TRUE(b.state.empty());

    Result<Session> none = parseSession(sessionJson({}, std::nullopt));
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none->tabs.empty());
    EXPECT_FALSE(none->selected);
}

TEST(SessionFile, DamagedFilesFailAndUnusableEntriesAreSkipped)
{
    for (const char* damaged : { "", "{", "[]", "{\"tabs\":[]}", "{\"version\":2,\"tabs\":[]}",
             "{\"version\":1,\"tabs\":{}}", "{\"version\":1}" })
        EXPECT_FALSE(parseSession(damaged).ok()) << damaged;

    // Entries: no object, no address, a script address, an address of our own scheme, a data
    // address; then one sound entry with a state that is not base64 and an absurd zoom, which
    // keeps its place as the selected tab.
    Result<Session> session = parseSession(R"J({"version":1,"selected":5,"tabs":[
        7, {"title":"no url"}, {"url":"javascript:alert(1)"}, {"url":"quivel-error://x"},
        {"url":"data:text/html,hi"},
        {"url":"http://127.0.0.1:8000/","state":"%%%%","zoom":1e308,"lazy":"yes"}]})J");
    ASSERT_TRUE(session.ok()) << session.error();
    ASSERT_EQ(session->tabs.size(), 1u);
    EXPECT_EQ(session->skipped, 5u);
    EXPECT_EQ(session->selected, 0u);
    EXPECT_TRUE(session->tabs[0].state.empty());
    EXPECT_DOUBLE_EQ(session->tabs[0].zoom, 1.0);
    EXPECT_FALSE(session->tabs[0].lazy);
}

TEST(SessionFile, Base64DecodingRefusesWhatIsNotPaddedBase64)
{
    for (std::string bytes : { std::string(), std::string("a"), std::string("ab"), std::string("abc"),
             std::string("\0\xff\x10\x7f", 4) })
        EXPECT_EQ(base64Decode(base64Encode(bytes)), bytes);
    for (const char* bad : { "abc", "ab=c", "a===", "====", "YW I=", "YWJj\n" })
        EXPECT_FALSE(base64Decode(bad)) << bad;
}

} // namespace
} // namespace qv
