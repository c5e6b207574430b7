// Command-line options and what each address argument opens.
#include "app/command_line_rules.h"

#include <gtest/gtest.h>

#include <set>

namespace qv {

TEST(CommandLineRules, OptionsAndAddressesKeepTheirOrder)
{
    auto request
        = parseCommandLine({ "a.test", "--new-tab", "http://b.test/", "--", "--help", "-x" });
    ASSERT_TRUE(request.ok());
    EXPECT_TRUE(request->newTab);
    EXPECT_FALSE(request->help);
    EXPECT_FALSE(request->newInstance);
    EXPECT_EQ(request->addresses,
        (std::vector<std::string> { "a.test", "http://b.test/", "--help", "-x" }));
}

TEST(CommandLineRules, OptionTable)
{
    struct Row {
        std::string argument;
        bool help, version, newInstance, newTab;
    };
    const Row rows[] = {
        { "--help", true, false, false, false },
        { "-h", true, false, false, false },
        { "--version", false, true, false, false },
        { "--new-instance", false, false, true, false },
        { "--new-tab", false, false, false, true },
    };
    for (const Row& row : rows) {
        auto request = parseCommandLine({ row.argument });
        ASSERT_TRUE(request.ok()) << row.argument;
        EXPECT_EQ(request->help, row.help) << row.argument;
        EXPECT_EQ(request->version, row.version) << row.argument;
        EXPECT_EQ(request->newInstance, row.newInstance) << row.argument;
        EXPECT_EQ(request->newTab, row.newTab) << row.argument;
        EXPECT_TRUE(request->addresses.empty()) << row.argument;
    }
}

TEST(CommandLineRules, UnknownOptionFails)
{
    for (std::string option : { "--nope", "-v", "-", "--help=1" }) {
        auto request = parseCommandLine({ "a.test", option });
        ASSERT_FALSE(request.ok()) << option;
        EXPECT_EQ(request.error(), "unknown option: " + option);
    }
}

TEST(CommandLineRules, AddressArgumentTable)
{
    const std::set<std::string> existing = { "/work/page.html", "/work/docs", "/work/news" };
    auto exists = [&](const std::string& path) { return existing.count(path) > 0; };
    using Kind = LaunchAddress::Kind;
    struct Row {
        std::string argument;
        std::optional<LaunchAddress> expected;
    };
    const Row rows[] = {
        { "https://a.test/x?q=1#f", LaunchAddress { Kind::Load, "https://a.test/x?q=1#f" } },
        { "HTTP://A.test", LaunchAddress { Kind::Load, "HTTP://A.test" } },
        { "file:///tmp/a%20b.html", LaunchAddress { Kind::Load, "file:///tmp/a%20b.html" } },
        { "/tmp/a b.html", LaunchAddress { Kind::Load, "file:///tmp/a%20b.html" } },
        { "/tmp/./x/../c.html", LaunchAddress { Kind::Load, "file:///tmp/c.html" } },
        { "/tmp/100%.html", LaunchAddress { Kind::Load, "file:///tmp/100%25.html" } },
        { "page.html", LaunchAddress { Kind::Load, "file:///work/page.html" } },
        { "docs/", LaunchAddress { Kind::Load, "file:///work/docs" } },
        { "./missing.html", LaunchAddress { Kind::Load, "file:///work/missing.html" } },
        { "../up.html", LaunchAddress { Kind::Load, "file:///up.html" } },
        // A word that names a file in the working directory is that file.
        { "news", LaunchAddress { Kind::Load, "file:///work/news" } },
        { "example.test", LaunchAddress { Kind::Typed, "example.test" } },
        { "weather today", LaunchAddress { Kind::Typed, "weather today" } },
        { "~/notes.html", LaunchAddress { Kind::Typed, "~/notes.html" } },
        { "ftp://a.test", LaunchAddress { Kind::Typed, "ftp://a.test" } },
        { "  ", std::nullopt },
        { "", std::nullopt },
    };
    for (const Row& row : rows)
        EXPECT_EQ(launchAddressFor(row.argument, "/work", exists), row.expected) << row.argument;
}

TEST(CommandLineRules, WithoutAbsoluteWorkingDirectoryRelativeTextIsTyped)
{
    auto everything = [](const std::string&) { return true; };
    auto address = launchAddressFor("page.html", "", everything);
    ASSERT_TRUE(address);
    EXPECT_EQ(address->kind, LaunchAddress::Kind::Typed);
    address = launchAddressFor("page.html", "/", everything);
    ASSERT_TRUE(address);
    EXPECT_EQ(address->text, "file:///page.html");
}

} // namespace qv
