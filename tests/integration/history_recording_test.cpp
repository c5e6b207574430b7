// Recording visits in "history.json": the file's layout, writing off the UI thread, pages that
// navigate in a loop, and damaged files that are never overwritten and reported once.
#include "support/browser_fixture.h"

#include "base/atomic_file.h"
#include "base/json_text.h"
#include "session/session_service.h"

#include <fstream>

namespace qv::test {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string bytesOf(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int alertsStartingWith(const std::vector<RecordedAlert>& alerts, const std::string& prefix)
{
    int n = 0;
    for (const auto& alert : alerts)
        n += alert.informativeText.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

// The addresses of the file's visits that start with prefix, in the order they were filed.
std::vector<std::string> fileVisits(const fs::path& file, const std::string& prefix)
{
    std::vector<std::string> urls;
    auto root = parseJson(readWholeFile(file).contents);
    if (!root || !root->is_object() || !root->contains("years"))
        return urls;
    for (const auto& [year, months] : (*root)["years"].items())
        for (const auto& [month, days] : months.items())
            for (const auto& [day, records] : days.items())
                for (const Json& record : records)
                    if (std::string url = record.value("url", ""); url.rfind(prefix, 0) == 0)
                        urls.push_back(url);
    return urls;
}

} // namespace

class HistoryRecordingTest : public BrowserTest {
protected:
    void visit(const std::string& path)
    {
        m_server->page(path, "Title " + path);
        controller().navigation().loadResolvedAddress(m_server->url(path));
        ASSERT_TRUE(waitForLoad(selectedView(), m_server->url(path)));
        // The visit is recorded once the page's title has arrived; a read-only history never
        // lists it, so the wait then simply runs out.
        waitUntil(
            [&] {
                return !controller().history().historyEntries().empty()
                    && controller().history().historyEntries().front().url == m_server->url(path);
            },
            1s);
    }
};

TEST_F(HistoryRecordingTest, VisitIsFiledUnderItsUtcDayWithNowPointingAtIt)
{
    visit("/a.html");
    controller().shell().flushFiles();
    FileRead read = readWholeFile(controller().history().historyFileURL());
    ASSERT_EQ(read.status, ReadStatus::Ok);
    Json root = parseJson(read.contents).value_or(Json());
    ASSERT_TRUE(root.is_object());
    const Json& now = root["now"];
    ASSERT_TRUE(now.is_object());
    std::string year = std::to_string(now["year"].get<long>());
    const Json& day
        = root["years"][year][now["month"].get<std::string>()][now["day"].get<std::string>()];
    ASSERT_TRUE(day.is_array());
    EXPECT_EQ(now["array"], day.size());
    const Json& record = day.back();
    EXPECT_EQ(record["url"], m_server->url("/a.html"));
    EXPECT_EQ(record["title"], "Title /a.html");
    std::string time = record["time"];
    ASSERT_EQ(time.size(), 20u);
    EXPECT_EQ(time.substr(0, 4), year);
    EXPECT_EQ(time.back(), 'Z');
    EXPECT_FALSE(controller().history().historyReadOnly());
}

struct DamagedHistory {
    const char* name;
    std::string contents;
};

class DamagedHistoryTest : public HistoryRecordingTest,
                           public ::testing::WithParamInterface<DamagedHistory> {
protected:
    DamagedHistoryTest() { m_launchInSetUp = false; }
};

TEST_P(DamagedHistoryTest, IsNeverOverwrittenAndReportedOnce)
{
    // A "history.json" in the working directory is the history file.
    fs::path file = testWorkingDirectory() / "history.json";
    std::ofstream(file, std::ios::binary) << GetParam().contents;
    std::string before = bytesOf(file);
    launch();
    ASSERT_EQ(controller().history().historyFileURL(), file);
    EXPECT_TRUE(controller().history().historyReadOnly());
    EXPECT_TRUE(controller().history().historyEntries().empty());
    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_EQ(m_alerts[0].messageText, "Quivel Browser");
    std::string expected = "Cannot read history file " + file.string() + ": ";
    EXPECT_EQ(m_alerts[0].informativeText.rfind(expected, 0), 0u) << m_alerts[0].informativeText;
    visit("/a.html");
    visit("/b.html");
    EXPECT_EQ(bytesOf(file), before);
    EXPECT_EQ(m_alerts.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedHistoryTest,
    ::testing::Values(DamagedHistory { "Truncated", "{\"years\": {\"2026\": {\"Jan\": {\"1\": [" },
        DamagedHistory { "NotJson", "this is not json\n" },
        DamagedHistory { "RootIsArray", "[{\"url\": \"https://a.test\"}]" },
        DamagedHistory { "YearsIsArray", "{\"years\": []}" },
        DamagedHistory { "InvalidUtf8", std::string("{\"years\": {\"\xff\xfe\": {}}}") },
        DamagedHistory { "Empty", "" },
        DamagedHistory { "NestedDeep",
            "{\"years\": {}, \"x\": " + std::string(100000, '[') + std::string(100000, ']')
                + "}" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HistoryRecordingTest, WrongShapeInRootArrayNamesInvalidFormat)
{
    shutDown();
    fs::path file = testWorkingDirectory() / "history.json";
    std::ofstream(file) << "[]";
    launch();
    // The file is read once the window is on screen.
    ASSERT_TRUE(waitUntil([&] { return !m_alerts.empty(); }));
    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_TRUE(m_alerts[0].browserWindowShown);
    EXPECT_EQ(m_alerts[0].informativeText,
        "Cannot read history file " + file.string() + ": invalid history format");
}

TEST_F(HistoryRecordingTest, VisitsReachTheFileFromTheWriterAndAllAreThereOnceFlushed)
{
    fs::path file = controller().history().historyFileURL();
    visit("/a.html");
    // Written without anyone waiting for it.
    ASSERT_TRUE(waitUntil([&] { return fileVisits(file, m_server->url("/")).size() == 1; }));
    visit("/b.html");
    visit("/c.html");
    controller().shell().flushFiles();
    EXPECT_EQ(fileVisits(file, m_server->url("/")),
        (std::vector<std::string> {
            m_server->url("/a.html"), m_server->url("/b.html"), m_server->url("/c.html") }));
    EXPECT_TRUE(m_alerts.empty());
}

TEST_F(HistoryRecordingTest, PageNavigatingToItselfInALoopKeepsTheHistorySmall)
{
    // Eight loads of its own short address, then eight of ever new addresses over the cap,
    // each once the page before has finished loading.
    m_server->page("/loop.html", "Loop", R"(<script>
        addEventListener('load', () => setTimeout(() => {
            const n = Number(sessionStorage.getItem('n') || 0) + 1;
            sessionStorage.setItem('n', n);
            if (n <= 8)
                location.replace('/loop.html');
            else if (n <= 16)
                location.replace('/loop.html?n=' + n + '&pad=' + 'x'.repeat(20000));
            else
                document.title = 'done';
        }, 10));
        </script>)");
    controller().navigation().loadResolvedAddress(m_server->url("/loop.html"));
    ASSERT_TRUE(waitUntil([&] {
        const char* title = webkit_web_view_get_title(selectedView());
        return title && std::string(title) == "done";
    }));
    EXPECT_GE(m_server->requestCount("/loop.html"), 17);
    controller().shell().flushFiles();
    fs::path file = controller().history().historyFileURL();
    EXPECT_EQ(fileVisits(file, m_server->url("/")),
        (std::vector<std::string> { m_server->url("/loop.html") }));
    EXPECT_LT(fs::file_size(file), 4096u);
    for (const HistoryEntry& entry : controller().history().historyEntries())
        EXPECT_LE(entry.url.size(), kMaxHistoryURLBytes);
}

TEST_F(HistoryRecordingTest, FileDamagedWhileRunningIsLeftAloneAfterOneMessage)
{
    visit("/a.html");
    fs::path file = controller().history().historyFileURL();
    controller().shell().flushFiles();
    std::ofstream(file, std::ios::binary | std::ios::trunc) << "{\"years\": {";
    std::string damaged = bytesOf(file);
    visit("/b.html");
    // The writer finds the damage; its report comes back to the main loop.
    ASSERT_TRUE(waitUntil([&] { return !m_alerts.empty(); }));
    visit("/c.html");
    controller().shell().flushFiles();
    flushIdleWork();
    EXPECT_EQ(bytesOf(file), damaged);
    EXPECT_TRUE(controller().history().historyReadOnly());
    EXPECT_EQ(alertsStartingWith(m_alerts, "Cannot update history file: "), 1);
    EXPECT_EQ(m_alerts.size(), 1u);
}

TEST_F(HistoryRecordingTest, HistoryThatCannotBeReadIsReadOnlyButMissingOneIsEmpty)
{
    EXPECT_FALSE(controller().history().historyReadOnly());
    EXPECT_TRUE(m_alerts.empty());
    shutDown();
    // A folder where the file should be: it exists but cannot be read as a file.
    fs::path file = testWorkingDirectory() / "history.json";
    fs::create_directories(file);
    launch();
    EXPECT_TRUE(controller().history().historyReadOnly());
    EXPECT_EQ(alertsStartingWith(m_alerts, "Cannot read history file "), 1);
    visit("/a.html");
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_EQ(m_alerts.size(), 1u);
}

TEST_F(HistoryRecordingTest, FailingWriteIsReportedEachTime)
{
    shutDown();
    // With "CMakeLists.txt" in the working directory the history lives there, file or not.
    fs::path folder = testWorkingDirectory() / "project";
    fs::create_directories(folder);
    std::ofstream(folder / "CMakeLists.txt") << "project(x)\n";
    fs::current_path(folder);
    launch();
    fs::current_path(testWorkingDirectory());
    ASSERT_EQ(controller().history().historyFileURL(), folder / "history.json");
    // The session's launch work writes beside the history too; it is done before the folder goes.
    ASSERT_TRUE(waitUntil([&] {
        return controller().session().lastSessionKnown() && fs::exists(folder / "session.json");
    }));
    flushFiles();
    // The folder goes away, so the file can be read as missing but not written.
    fs::remove_all(folder);
    visit("/a.html");
    ASSERT_TRUE(waitUntil([&] { return m_alerts.size() == 1; }));
    visit("/b.html");
    ASSERT_TRUE(waitUntil([&] { return m_alerts.size() == 2; }));
    EXPECT_EQ(alertsStartingWith(m_alerts, "Could not save history: "), 2);
    EXPECT_EQ(m_alerts.size(), 2u);
    EXPECT_FALSE(controller().history().historyReadOnly());
    EXPECT_FALSE(fs::exists(folder));
}

} // namespace qv::test
