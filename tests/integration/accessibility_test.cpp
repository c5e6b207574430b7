// What a screen reader reads of every window: the real browser with its accessibility on, read
// through the accessibility bus by support/atspi_walk.py.
#include "support/browser_fixture.h"

#include <glib.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace qv::test {

namespace {

// Debian's interpreter: python3-gi and the AT-SPI bindings are installed for it.
constexpr const char* kPython = "/usr/bin/python3";

struct WalkResult {
    int status = -1;
    std::string output;
    std::string errors;
};

} // namespace

class AccessibilityTest : public BrowserTest {
protected:
    AccessibilityTest() { m_launchInSetUp = false; }

    void TearDown() override
    {
        if (m_browser) {
            kill(m_browser, SIGKILL);
            waitpid(m_browser, nullptr, 0);
            g_spawn_close_pid(m_browser);
        }
        BrowserTest::TearDown();
    }

    // The browser as a user starts it, its accessibility on, in this test's home and proxy.
    void spawnBrowser(const std::string& url)
    {
        std::string error;
        m_browser = spawnBrowserProgram({ url }, { { "GTK_A11Y", "" }, { "NO_AT_BRIDGE", "" } }, error);
        ASSERT_TRUE(m_browser) << error;
    }

    WalkResult walk(std::vector<std::string> arguments = {})
    {
        arguments.insert(arguments.begin(), { kPython, QV_ATSPI_WALKER, std::to_string(m_browser) });
        std::vector<char*> raw;
        for (auto& arg : arguments)
            raw.push_back(arg.data());
        raw.push_back(nullptr);
        WalkResult result;
        gchar* out = nullptr;
        gchar* err = nullptr;
        gint wait = 0;
        if (g_spawn_sync(nullptr, raw.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out,
                &err, &wait, nullptr)) {
            result.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
            result.output = out ? out : "";
            result.errors = err ? err : "";
        }
        g_free(out);
        g_free(err);
        m_lastErrors = result.errors;
        return result;
    }

    bool waitForWindow(const std::string& title)
    {
        return waitUntil([&] { return walk({ "--has", title }).status == 0; }, std::chrono::seconds(60));
    }

    // Does what a screen reader user's "press" does, once the control is shown.
    bool press(const std::string& window, const std::string& control)
    {
        return waitUntil(
            [&] { return walk({ "--press", window, control }).status == 0; }, std::chrono::seconds(30));
    }

    // Real keys to the browser's window, found by its process and title.
    void keys(const std::string& window, const std::string& keys)
    {
        std::string command = "w=$(xdotool search --all --pid " + std::to_string(m_browser)
            + " --name '^" + window + "$' | head -1) && xdotool windowraise $w windowfocus --sync $w"
            + " key --clearmodifiers " + keys;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    GPid m_browser = 0;
    // What the walker said last on its error stream (a missing binding, a window not found).
    std::string m_lastErrors;
};

TEST_F(AccessibilityTest, EveryControlInEveryWindowHasANameAndRole)
{
    m_server->page("/walked.html", "Walked Page");
    spawnBrowser(m_server->url("/walked.html"));
    ASSERT_TRUE(waitUntil([&] { return m_server->requestCount("/walked.html") > 0; },
        std::chrono::seconds(60)));
    // The browser window takes its page's title.
    const std::string browser = "Walked Page";
    ASSERT_TRUE(waitForWindow(browser)) << m_lastErrors;

    struct Opening {
        std::string from, control, window;
    };
    const Opening openings[] = {
        { browser, "History", "Browsing History" },
        { browser, "JavaScript", "JavaScript Console" },
        { browser, "Downloads", "Downloads" },
        { browser, "Activity", "Activity" },
        { browser, "Extensions", "Quivel Extensions" },
        { "Quivel Extensions", "Page Styler", "Quivel Extensions" },
        { "Quivel Extensions", "Extension settings", "Quivel Extensions" },
        { "Quivel Extensions", "View Source Code", "Page Styler \u2014 Source Code" },
        { browser, "Settings", "Settings" },
        { "Settings", "Edit page source", "Edit Source" },
        { "Settings", "Manage Browser Profiles", "Browser Profiles" },
        { "Browser Profiles", "Clear Browsing Data\u2026", "Clear Browsing Data" },
    };
    std::vector<std::string> windows = { browser };
    for (const Opening& opening : openings) {
        ASSERT_TRUE(press(opening.from, opening.control)) << opening.control << "\n" << m_lastErrors;
        ASSERT_TRUE(waitForWindow(opening.window)) << opening.window << "\n" << m_lastErrors;
        windows.push_back(opening.window);
    }
    // The bookmarks window has its menu item and its shortcut only.
    keys(browser, "ctrl+shift+o");
    ASSERT_TRUE(waitForWindow("Bookmarks"));
    windows.push_back("Bookmarks");

    WalkResult result = walk();
    EXPECT_EQ(result.status, 0) << "Controls without a name:\n" << result.errors;
    std::istringstream lines(result.output);
    std::map<std::string, int> counts;
    bool address = false;
    bool tab = false;
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        if (fields.size() == 3 && fields[0] == "window")
            counts[fields[1]] = std::stoi(fields[2]);
        if (fields.size() < 5 || fields[0] != "control" || fields[1] != browser)
            continue;
        address = address || (fields[2] == "entry" && fields[3] == "Address");
        tab = tab
            || (fields[2] == "page tab" && fields[3] == "Walked Page"
                && fields[4].find("selected") != std::string::npos);
    }
    EXPECT_TRUE(address) << result.output;
    EXPECT_TRUE(tab) << result.output;
    for (const std::string& window : windows)
        EXPECT_GT(counts[window], 0) << window << "\n" << result.output;
}

} // namespace qv::test
