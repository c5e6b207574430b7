// The history window: rows newest first, reopening visits, deleting a selection and clearing.
#include "support/browser_fixture.h"

#include "base/atomic_file.h"
#include "base/json_text.h"
#include "history/history_window.h"

#include <gdk/x11/gdkx.h>

#include <cstdlib>
#include <fstream>

namespace qv::test {

namespace {

    namespace fs = std::filesystem;

    // The records of the file, day by day, as "url|time".
    std::vector<std::string> recordsInFile(const fs::path& file)
    {
        std::vector<std::string> out;
        auto root = parseJson(readWholeFile(file).contents);
        if (!root || !root->is_object())
            return out;
        for (auto& [year, months] : (*root)["years"].items())
            for (auto& [month, days] : months.items())
                for (auto& [day, records] : days.items())
                    for (auto& record : records)
                        out.push_back(record.value("url", "") + "|" + record.value("time", ""));
        return out;
    }

} // namespace

class HistoryWindowTest : public BrowserTest {
protected:
    HistoryWindowTest() { m_launchInSetUp = false; }

    // A history of `count` visits of local pages, visit i at second i, then the launch.
    void launchWithVisits(int count)
    {
        Json day = Json::array();
        for (int i = 0; i < count; ++i) {
            std::string path = "/v" + std::to_string(i) + ".html";
            m_server->page(path, "Visit " + std::to_string(i));
            char time[32];
            std::snprintf(time, sizeof time, "2026-12-06T10:%02d:%02dZ", i / 60, i % 60);
            day.push_back({ { "url", m_server->url(path) },
                { "title", i == 1 ? "" : "Visit " + std::to_string(i) }, { "time", time } });
        }
        Json root = { { "years", { { "2026", { { "Dec", { { "6", day } } } } } } } };
        std::ofstream(testWorkingDirectory() / "history.json") << dumpJson(root, 1);
        launch();
        controller().showHistory();
        ASSERT_NE(controller().historyWindow(), nullptr);
    }
    HistoryWindow& window() { return *controller().historyWindow(); }
    // The file's records once the writer has written what it was handed.
    std::vector<std::string> records()
    {
        controller().shell().flushFiles();
        return recordsInFile(controller().history().historyFileURL());
    }
    // The row showing visit i (the newest is row 0).
    size_t rowOf(int visit, int count) { return static_cast<size_t>(count - 1 - visit); }
};

TEST_F(HistoryWindowTest, ControlASelectsEveryRowAndEscapeCloses)
{
    launchWithVisits(3);
    HistoryWindow& w = window();
    ASSERT_TRUE(waitUntil([&] { return w.get_visible() && w.get_surface(); }));
    w.table().grab_focus();
    // Real key presses, through the application's shortcuts as a user's would go.
    auto press = [&](const char* keys) {
        std::string window = std::to_string(gdk_x11_surface_get_xid(w.get_surface()->gobj()));
        std::string command = "xdotool windowraise " + window + " windowfocus --sync " + window
            + " key --clearmodifiers " + keys;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    };
    press("ctrl+a");
    EXPECT_TRUE(waitUntil([&] { return w.selectedRows().size() == 3; }))
        << w.selectedRows().size();
    press("Escape");
    EXPECT_TRUE(waitUntil([&] { return !w.get_visible(); }));
}

TEST_F(HistoryWindowTest, ListsNewestFirstAndFollowsNewVisits)
{
    launchWithVisits(3);
    ASSERT_EQ(window().rowCount(), 3u);
    EXPECT_EQ(controller().history().historyEntries().front().url, m_server->url("/v2.html"));
    m_server->page("/new.html", "New");
    controller().navigation().loadResolvedAddress(m_server->url("/new.html"));
    ASSERT_TRUE(waitUntil([&] { return window().rowCount() == 4u; }));
    EXPECT_EQ(controller().history().historyEntries().front().url, m_server->url("/new.html"));
}

TEST_F(HistoryWindowTest, OneVisitOpensInTheCurrentTab)
{
    launchWithVisits(3);
    WebKitWebView* view = selectedView();
    window().selectRows({ rowOf(0, 3) });
    controller().historyWindow()->openSelected();
    EXPECT_TRUE(waitForLoad(view, m_server->url("/v0.html")));
    EXPECT_EQ(controller().tabs().browserTabs().size(), 1u);
}

TEST_F(HistoryWindowTest, ThreeVisitsOpenAsThreeLoadingTabs)
{
    launchWithVisits(6);
    window().selectRows({ rowOf(5, 6), rowOf(4, 6), rowOf(3, 6) });
    controller().historyWindow()->openSelected();
    ASSERT_EQ(controller().tabs().browserTabs().size(), 4u);
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_FALSE(controller().tabs().browserTabs()[i].lazy());
        EXPECT_NE(controller().tabs().browserTabs()[i].webView(), nullptr);
    }
    // Ascending rows: the newest first, the oldest of the three last and selected.
    EXPECT_EQ(selectedView(), controller().tabs().browserTabs()[3].webView());
    EXPECT_TRUE(waitUntil([&] {
        return m_server->requestCount("/v5.html") && m_server->requestCount("/v4.html")
            && m_server->requestCount("/v3.html");
    }));
}

TEST_F(HistoryWindowTest, FiveVisitsOpenAsLazyTabsAndTheFirstLoads)
{
    launchWithVisits(6);
    window().selectRows({ 0, 1, 2, 3, 4 }); // visits 5 down to 1
    controller().historyWindow()->openSelected();
    const auto& tabs = controller().tabs().browserTabs();
    ASSERT_EQ(tabs.size(), 6u);
    for (size_t i = 1; i < 6; ++i)
        EXPECT_TRUE(tabs[i].lazy()) << i;
    EXPECT_EQ(selectedView(), tabs[1].webView());
    for (size_t i = 2; i < 6; ++i)
        EXPECT_EQ(tabs[i].webView(), nullptr) << i;
    EXPECT_EQ(tabs[2].title(), "Visit 4");
    // Visit 1 has no title: its address stands in.
    EXPECT_EQ(tabs[5].title(), m_server->url("/v1.html"));
    EXPECT_TRUE(waitForLoad(selectedView(), m_server->url("/v5.html")));
    EXPECT_EQ(m_server->requestCount("/v2.html"), 0);
}

TEST_F(HistoryWindowTest, DeletingASelectionRemovesJustThoseVisitsFromTheFile)
{
    launchWithVisits(4);
    window().selectRows({ rowOf(3, 4), rowOf(1, 4) });
    m_alertAnswer = 1; // "Cancel"
    controller().historyWindow()->deleteSelected();
    EXPECT_EQ(records().size(), 4u);

    m_alertAnswer = 0; // "Delete Selected"
    controller().historyWindow()->deleteSelected();
    auto left = records();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].substr(0, left[0].find('|')), m_server->url("/v0.html"));
    EXPECT_EQ(left[1].substr(0, left[1].find('|')), m_server->url("/v2.html"));
    EXPECT_EQ(window().rowCount(), 2u);
    EXPECT_EQ(controller().history().historyEntries().front().url, m_server->url("/v2.html"));
}

TEST_F(HistoryWindowTest, AVisitRecordedWhileTheDeleteAlertIsOpenIsNotDeleted)
{
    launchWithVisits(3);
    window().selectRows({ rowOf(2, 3) });
    setAlertResponder([this](const AlertSpec& alert) -> std::optional<int> {
        m_alerts.push_back({ alert.messageText, alert.informativeText, alert.buttons });
        // A page finishes loading behind the alert: its visit becomes row 0.
        controller().history().saveHistoryEntry(m_server->url("/late.html"), std::string("Late"));
        return 0;
    });
    controller().historyWindow()->deleteSelected();
    std::vector<std::string> urls;
    for (const auto& entry : controller().history().historyEntries())
        urls.push_back(entry.url);
    EXPECT_EQ(urls,
        (std::vector<std::string> {
            m_server->url("/late.html"), m_server->url("/v1.html"), m_server->url("/v0.html") }));
    EXPECT_EQ(window().rowCount(), 3u);
}

TEST_F(HistoryWindowTest, ClearingEmptiesTheFileAfterConfirmation)
{
    launchWithVisits(3);
    m_alertAnswer = 0; // "Cancel" is first
    controller().historyWindow()->clearAll();
    EXPECT_EQ(window().rowCount(), 3u);
    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_EQ(m_alerts[0].informativeText, controller().history().historyFileURL().string());

    m_alertAnswer = 1;
    controller().historyWindow()->clearAll();
    EXPECT_EQ(window().rowCount(), 0u);
    EXPECT_TRUE(controller().history().historyEntries().empty());
    EXPECT_TRUE(records().empty());
    auto root = parseJson(readWholeFile(controller().history().historyFileURL()).contents);
    ASSERT_TRUE(root && root->is_object());
    EXPECT_TRUE((*root)["years"].is_object());
}

TEST_F(HistoryWindowTest, AnUnreadableHistoryRefusesClearingAndIsLeftAlone)
{
    const std::string damaged = "[1, 2, 3]";
    std::ofstream(testWorkingDirectory() / "history.json") << damaged;
    launch();
    ASSERT_TRUE(controller().history().historyReadOnly());
    controller().showHistory();
    EXPECT_EQ(controller().historyWindow()->rowCount(), 0u);
    m_alerts.clear();
    m_alertAnswer = 1;
    controller().historyWindow()->clearAll();
    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_EQ(m_alerts[0].buttons.size(), 1u); // the error report, not the question
    // Nothing selected: deleting does nothing at all.
    controller().historyWindow()->deleteSelected();
    EXPECT_EQ(m_alerts.size(), 1u);
    EXPECT_EQ(readWholeFile(controller().history().historyFileURL()).contents, damaged);
}

} // namespace qv::test
