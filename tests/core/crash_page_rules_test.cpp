// The crash page's words, the crashed tab's title and the bar for a page that does not respond.
#include "extensions/extension_runtime_rules.h"
#include "navigation/crash_page_rules.h"
#include "navigation/error_page_rules.h"

#include <gtest/gtest.h>

namespace qv {

struct CrashTitleCase {
    PageEndReason reason;
    const char* pageName;
    const char* title;
    const char* heading;
    const char* messageStart;
};

class CrashPageFor : public ::testing::TestWithParam<CrashTitleCase> { };

TEST_P(CrashPageFor, SaysWhatEndedThePageAndNamesItInTheTitle)
{
    const CrashTitleCase& c = GetParam();
    EXPECT_EQ(crashedTabTitle(c.reason, c.pageName), c.title);
    CrashPageWords words = crashPageWords(c.reason);
    EXPECT_EQ(words.heading, c.heading);
    EXPECT_EQ(words.message.rfind(c.messageStart, 0), 0u) << words.message;
}

INSTANTIATE_TEST_SUITE_P(Reasons, CrashPageFor,
    ::testing::Values(
        CrashTitleCase { PageEndReason::Crashed, "Shop", "Crashed: Shop", "This page crashed",
            "Something went wrong while showing this page." },
        CrashTitleCase { PageEndReason::MemoryLimit, "Shop", "Stopped: Shop",
            "This page was stopped", "This page was stopped because it used too much memory." },
        CrashTitleCase { PageEndReason::StoppedUnresponsive, "example.org",
            "Stopped: example.org", "This page was stopped",
            "You stopped this page because it was not responding." },
        CrashTitleCase { PageEndReason::Crashed, "", "Crashed", "This page crashed", "" },
        CrashTitleCase { PageEndReason::Crashed, "Two\nlines\u202E", "Crashed: Two lines",
            "This page crashed", "" }));

TEST(CrashPageTemplate, FillsHeadingAndTitleEscaped)
{
    ErrorPageText text;
    text.message = "m";
    text.address = "http://x/";
    text.heading = "<h>";
    text.title = "T&T";
    EXPECT_EQ(errorPageHTML("<title>{{title}}</title><h1>{{heading}}</h1>{{message}}", text),
        "<title>T&amp;T</title><h1>&lt;h&gt;</h1>m");
}

TEST(UnresponsivePageBar, NamesThePageOrSaysThisPage)
{
    EXPECT_EQ(unresponsivePageMessage("Busy <page>"),
        "\u201CBusy <page>\u201D is not responding. You can wait for it or stop it.");
    EXPECT_EQ(unresponsivePageMessage(""),
        "This page is not responding. You can wait for it or stop it.");
}

TEST(ExtensionPageCrash, NamesTheExtension)
{
    EXPECT_EQ(extensionPageCrashedMessage("Notes"),
        "Notes stopped because its page crashed. Turn it on in the list to start it again.");
    EXPECT_EQ(extensionPageCrashedMessage(""),
        "This Extension stopped because its page crashed. Turn it on in the list to start it "
        "again.");
}

} // namespace qv
