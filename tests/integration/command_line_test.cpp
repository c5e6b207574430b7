// The command line end to end: launch addresses, hand-over from a later launch, two processes.
#include "support/browser_fixture.h"

#include "base/atomic_file.h"
#include "base/json_text.h"

#include <csignal>
#include <fstream>
#include <sys/wait.h>

namespace qv::test {

namespace fs = std::filesystem;

namespace {

    std::vector<std::string> tabURLs(const BrowserController& controller)
    {
        std::vector<std::string> urls;
        for (const auto& tab : controller.tabs().browserTabs())
            urls.push_back(uriOf(tab.webView()));
        return urls;
    }

    std::string fileAddress(const fs::path& path) { return "file://" + path.string(); }

    // The addresses in a tab snapshot file, in order; empty while there is none to read.
    std::vector<std::string> snapshotURLs(const fs::path& file)
    {
        FileRead read = readWholeFile(file);
        std::vector<std::string> urls;
        if (read.status != ReadStatus::Ok)
            return urls;
        Json tabs = parseJson(read.contents).value_or(Json());
        if (!tabs.is_array())
            return urls;
        for (const auto& tab : tabs)
            urls.push_back(tab.value("url", ""));
        return urls;
    }

} // namespace

class CommandLineTest : public BrowserTest {
protected:
    CommandLineTest() { m_launchInSetUp = false; }

    // The launch as the real command line runs it, with these arguments after the name.
    void launchWith(std::vector<std::string> arguments)
    {
        static int serial = 0;
        m_application
            = Gtk::Application::create("org.quivel.CommandLineTest" + std::to_string(++serial),
                Gio::Application::Flags::NON_UNIQUE);
        m_application->register_application();
        m_controller = std::make_unique<BrowserController>(m_application);
        // A typed word names a page of the local server.
        m_controller->navigation().setAddressCandidateBuilder([this](const std::string& word) {
            return std::vector<std::string> { m_server->url("/" + word + ".html") };
        });
        m_controller->extensions().loadExtensions();
        m_controller->installMainMenu();
        arguments.insert(arguments.begin(), "quivel-browser");
        EXPECT_EQ(m_controller->handleCommandLine(arguments, testWorkingDirectory()), 0);
        ASSERT_TRUE(waitUntil(
            [&] { return m_controller->window() && m_controller->window()->get_mapped(); }));
    }
};

TEST_F(CommandLineTest, LaunchAddressesOpenInOrderInPlaceOfTheHomePage)
{
    m_server->page("/one.html", "One");
    m_server->page("/alpha.html", "Alpha");
    m_server->page("/beta.html", "Beta");
    std::ofstream(testWorkingDirectory() / "local page.html") << "<title>Local</title>local";

    // Two typed words resolve side by side: neither drops the other's answer.
    launchWith({ m_server->url("/one.html"), "local page.html", "alpha", "beta" });

    std::vector<std::string> expected
        = { m_server->url("/one.html"), fileAddress(testWorkingDirectory() / "local%20page.html"),
              m_server->url("/alpha.html"), m_server->url("/beta.html") };
    ASSERT_TRUE(waitUntil([&] { return tabURLs(controller()) == expected; }))
        << ::testing::PrintToString(tabURLs(controller()));
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs()[1].title() == "Local"; }));
    // The last address is the selected tab, and its address is in the field.
    EXPECT_EQ(selectedView(), controller().tabs().browserTabs()[3].webView());
    EXPECT_EQ(controller().window()->requestField().get_text().raw(), m_server->url("/beta.html"));
}

TEST_F(CommandLineTest, WithoutAddressesTheLaunchOpensOneHomeTab)
{
    launchWith({});
    ASSERT_EQ(controller().tabs().browserTabs().size(), 1u);
    EXPECT_EQ(controller().tabs().browserTabs()[0].url(), controller().profiles().homePageURLForProfile("default"));
}

TEST_F(CommandLineTest, LaterLaunchAddsATabPerAddressToTheRunningBrowser)
{
    m_server->page("/first.html", "First");
    m_server->page("/second.html", "Second");
    m_server->page("/third.html", "Third");
    launchWith({ m_server->url("/first.html") });
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/first.html")));

    // A later launch hands over its arguments and working directory.
    fs::path elsewhere = testWorkingDirectory() / "elsewhere";
    fs::create_directories(elsewhere);
    std::ofstream(elsewhere / "there.html") << "<title>There</title>";
    EXPECT_EQ(controller().handleCommandLine({ "quivel-browser", m_server->url("/second.html"),
                                                 "there.html", m_server->url("/third.html") },
                  elsewhere),
        0);
    std::vector<std::string> expected
        = { m_server->url("/first.html"), m_server->url("/second.html"),
              fileAddress(elsewhere / "there.html"), m_server->url("/third.html") };
    ASSERT_TRUE(waitUntil([&] { return tabURLs(controller()) == expected; }))
        << ::testing::PrintToString(tabURLs(controller()));
    EXPECT_EQ(selectedView(), controller().tabs().browserTabs()[3].webView());
    EXPECT_TRUE(controller().window()->get_visible());

    // Without addresses only --new-tab opens a tab.
    controller().handleCommandLine({ "quivel-browser" }, elsewhere);
    EXPECT_EQ(controller().tabs().browserTabs().size(), 4u);
    controller().handleCommandLine({ "quivel-browser", "--new-tab" }, elsewhere);
    ASSERT_EQ(controller().tabs().browserTabs().size(), 5u);
    EXPECT_EQ(controller().tabs().browserTabs()[4].url(), controller().profiles().homePageURLForProfile("default"));
    // A command line with a mistake changes nothing.
    EXPECT_NE(
        controller().handleCommandLine({ "quivel-browser", "--bogus", "x.test" }, elsewhere), 0);
    EXPECT_EQ(controller().tabs().browserTabs().size(), 5u);
}

// Two real browser processes on a private session bus: the second hands its address to the
// first and ends, and the first has one more tab.
TEST_F(CommandLineTest, SecondProcessHandsItsAddressToTheRunningBrowser)
{
    if (!Glib::find_program_in_path("dbus-run-session").size())
        GTEST_SKIP() << "dbus-run-session is not installed";
    m_server->page("/first.html", "First");
    m_server->page("/second.html", "Second");
    fs::path tabs = testHome() / ".local/share/QuivelBrowser/tab.json";
    fs::path out = testHome() / "run";
    fs::create_directories(out);

    // Accessibility would start its own bus and daemons from the private session; they can
    // outlive it, holding the test's output open.
    const char* script = R"SH(browser=$1; tabs=$2; out=$3
export GTK_A11Y=none
"$browser" "$4" & echo $! > "$out/first.pid"
i=0
while [ ! -s "$tabs" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
"$browser" "$5" & echo $! > "$out/second.pid"
wait $!; echo $? > "$out/second.rc"
wait)SH";
    std::vector<std::string> argv = { "dbus-run-session", "--", "sh", "-c", script, "sh",
        QV_BROWSER_EXECUTABLE, tabs.string(), out.string(), m_server->url("/first.html"),
        m_server->url("/second.html") };
    std::vector<char*> raw;
    for (auto& arg : argv)
        raw.push_back(arg.data());
    raw.push_back(nullptr);
    GPid session = 0;
    GError* error = nullptr;
    ASSERT_TRUE(g_spawn_async(testWorkingDirectory().c_str(), raw.data(), nullptr,
        static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD
            | G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
        nullptr, nullptr,
        &session, &error))
        << (error ? error->message : "");

    auto readText = [](const fs::path& file) {
        FileRead read = readWholeFile(file);
        return read.status == ReadStatus::Ok ? read.contents : std::string();
    };
    std::vector<std::string> expected
        = { m_server->url("/first.html"), m_server->url("/second.html") };
    bool handedOver
        = waitUntil([&] { return snapshotURLs(tabs) == expected; }, std::chrono::seconds(60));
    bool secondEnded = waitUntil([&] { return readText(out / "second.rc") == "0\n"; },
        handedOver ? std::chrono::seconds(20) : std::chrono::seconds(1));

    // The browsers are ours to end (the second one is still there only when it failed to
    // hand over); the session and its bus end with them.
    for (const char* name : { "first.pid", "second.pid" }) {
        pid_t pid = static_cast<pid_t>(std::atoi(readText(out / name).c_str()));
        if (pid > 0)
            kill(pid, SIGTERM);
    }
    int status = 0;
    bool sessionEnded = waitUntil([&] { return waitpid(session, &status, WNOHANG) == session; });
    if (!sessionEnded)
        kill(session, SIGKILL), waitpid(session, &status, 0);
    g_spawn_close_pid(session);

    EXPECT_TRUE(handedOver) << ::testing::PrintToString(snapshotURLs(tabs));
    EXPECT_TRUE(secondEnded) << "second launch: " << readText(out / "second.rc");
    EXPECT_TRUE(sessionEnded);
}

} // namespace qv::test
