// The address field's suggestions, driven with real key events.
#include "support/browser_fixture.h"

#include "bookmarks/bookmark_service.h"
#include "history/history_service.h"
#include "suggestions/address_suggestions.h"

#include <gdk/x11/gdkx.h>

#include <cstdlib>

namespace qv::test {

class AddressSuggestionsTest : public BrowserTest {
protected:
    AddressSuggestions& list() { return controller().window()->addressSuggestions(); }
    std::string field() { return controller().window()->requestField().get_text().raw(); }
    // Keys for xdotool, sent to the browser window.
    void keys(const std::string& arguments)
    {
        GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(controller().window()->gobj()));
        if (!GDK_IS_X11_SURFACE(surface))
            GTEST_SKIP() << "needs an X display";
        std::string window = std::to_string(gdk_x11_surface_get_xid(surface));
        std::string command = "xdotool windowraise " + window + " windowfocus --sync " + window + " "
            + arguments;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    int rowOf(SuggestionKind kind)
    {
        const auto& rows = list().rows();
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].suggestion.kind == kind)
                return static_cast<int>(i);
        }
        return -1;
    }
    bool waitForRows(const std::vector<SuggestionKind>& kinds)
    {
        return waitUntil([&] {
            for (SuggestionKind kind : kinds) {
                if (rowOf(kind) < 0)
                    return false;
            }
            return list().shown();
        });
    }
};

TEST_F(AddressSuggestionsTest, PointerTypingOffersHistoryBookmarkAndAnotherProfilesTabAndSwitchesToIt)
{
    ASSERT_TRUE(waitUntil([&] { return controller().suggestions().ready(); }));
    controller().history().saveHistoryEntry(m_server->url("/quokka-visited.html"), "Quokka Visited");
    ASSERT_TRUE(controller().bookmarks().addBookmark("Quokka Kept", m_server->url("/kept.html")).ok());
    WebKitWebView* first = selectedView();
    ProfileID work = controller().profiles().createProfile();
    controller().profiles().selectCurrentProfile(work);
    m_server->page("/quokka-tab.html", "Quokka Tab");
    TabID workTab = controller().tabs().createBrowserTabWithURL(m_server->url("/quokka-tab.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/quokka-tab.html")));
    controller().tabs().selectBrowserTabAtIndex(0);
    ASSERT_EQ(selectedView(), first);
    ASSERT_EQ(controller().profiles().currentProfile(), "default");

    controller().navigation().focusAddressBar();
    keys("type --delay 40 quokka");
    ASSERT_TRUE(waitUntil([&] { return field() == "quokka"; })) << field();
    ASSERT_TRUE(waitForRows({ SuggestionKind::SwitchToTab, SuggestionKind::Bookmark, SuggestionKind::History }))
        << list().rows().size() << " rows";
    EXPECT_EQ(list().rows().back().suggestion.kind, SuggestionKind::Search);
    const SuggestionRow& tabRow = list().rows()[static_cast<size_t>(rowOf(SuggestionKind::SwitchToTab))];
    EXPECT_EQ(tabRow.detail, "Switch to Tab \u00b7 " + controller().profiles().profileForID(work)->name);
    EXPECT_EQ(tabRow.suggestion.tabID, workTab);
    EXPECT_EQ(list().rows()[static_cast<size_t>(rowOf(SuggestionKind::Bookmark))].suggestion.title, "Quokka Kept");

    // Down to the tab's row, which previews its address, then Enter switches to it.
    std::string downs;
    for (int i = 0; i <= rowOf(SuggestionKind::SwitchToTab); ++i)
        downs += " Down";
    keys("key --delay 40" + downs);
    ASSERT_TRUE(waitUntil([&] { return list().chosenRow() == rowOf(SuggestionKind::SwitchToTab); }));
    EXPECT_EQ(field(), m_server->url("/quokka-tab.html"));
    keys("key Return");
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().tabList().selected()->id() == workTab; }));
    EXPECT_EQ(controller().profiles().currentProfile(), work);
    EXPECT_FALSE(list().shown());
}

TEST_F(AddressSuggestionsTest, PointerCompletionEscapeShiftDeleteAndEnterWithNoRowStillProbing)
{
    ASSERT_TRUE(waitUntil([&] { return controller().suggestions().ready(); }));
    const std::string visited = m_server->url("/wombat.html");
    controller().history().saveHistoryEntry(visited, "Wombat");

    // "127" completes to the visited host with the completed part selected; Backspace takes it.
    controller().navigation().focusAddressBar();
    keys("type --delay 40 127");
    ASSERT_TRUE(waitUntil([&] { return field() == "127.0.0.1/"; })) << field();
    int start = 0, end = 0;
    ASSERT_TRUE(controller().window()->requestField().get_selection_bounds(start, end));
    EXPECT_EQ(start, 3);
    EXPECT_EQ(end, 10);
    keys("key BackSpace");
    ASSERT_TRUE(waitUntil([&] { return field() == "127"; })) << field();

    // Down chooses the visit and shows its address; Shift+Delete removes it from the history.
    ASSERT_TRUE(waitForRows({ SuggestionKind::History }));
    keys("key Down");
    ASSERT_TRUE(waitUntil([&] { return field() == visited; })) << field();
    keys("key shift+Delete");
    ASSERT_TRUE(waitUntil([&] { return rowOf(SuggestionKind::History) < 0; }));
    for (const HistoryEntry& entry : controller().history().historyEntries())
        EXPECT_NE(entry.url, visited);
    // Escape closes the list and gives back what was typed.
    keys("key Escape");
    ASSERT_TRUE(waitUntil([&] { return !list().shown(); }));
    EXPECT_EQ(field(), "127");

    // Enter on typed text with no row chosen resolves it as it always has: by probing.
    m_server->page("/probed.html", "Probed");
    const std::string probed = m_server->url("/probed.html");
    controller().navigation().setAddressCandidateBuilder([probed](const std::string& typed) {
        return typed == "numbat" ? std::vector<std::string> { probed } : std::vector<std::string> {};
    });
    controller().navigation().focusAddressBar();
    keys("type --delay 40 numbat");
    ASSERT_TRUE(waitUntil([&] { return field() == "numbat" && list().shown(); })) << field();
    keys("key Return");
    EXPECT_TRUE(waitForLoad(selectedView(), probed));
    EXPECT_FALSE(list().shown());
}

TEST_F(AddressSuggestionsTest, DISABLED_PointerScreenshots)
{
    const char* prefix = std::getenv("QV_SUGGESTIONS_SHOT");
    ASSERT_TRUE(prefix);
    ASSERT_TRUE(waitUntil([&] { return controller().suggestions().ready(); }));
    for (int i = 0; i < 4; ++i)
        controller().history().saveHistoryEntry("https://www.rust-lang.org/", "Rust Programming Language");
    controller().history().saveHistoryEntry("https://doc.rust-lang.org/book/", "The Rust Programming Language - The Book");
    controller().history().saveHistoryEntry("https://crates.io/crates/serde", "serde - crates.io: Rust Package Registry");
    controller().history().saveHistoryEntry("https://en.wikipedia.org/wiki/Rust", "Rust - Wikipedia");
    ASSERT_TRUE(controller().bookmarks().addBookmark("Rust Blog", "https://blog.rust-lang.org/").ok());
    ProfileID work = controller().profiles().createProfile();
    controller().profiles().renameProfile(work, "Work");
    controller().profiles().selectCurrentProfile(work);
    m_server->page("/notes.html", "Rust upgrade notes", "<h1>Rust upgrade notes</h1>");
    controller().tabs().createBrowserTabWithURL(m_server->url("/notes.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/notes.html")));
    m_server->page("/start.html", "Start", "<h1>Start</h1>");
    controller().profiles().selectCurrentProfile("default");
    controller().navigation().loadResolvedAddress(m_server->url("/start.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/start.html")));
    for (bool dark : { false, true }) {
        controller().shell().setDarkMode(dark);
        controller().navigation().focusAddressBar();
        keys("type --delay 40 rust");
        ASSERT_TRUE(waitUntil([&] { return list().shown() && list().rows().size() >= 5; }));
        keys("key Down Down");
        ASSERT_TRUE(waitUntil([&] { return list().chosenRow() == 1; }));
        ASSERT_TRUE(flushIdleWork());
        std::string shot = std::string(prefix) + "address-suggestions-" + (dark ? "dark" : "light") + ".png";
        ASSERT_EQ(std::system(("import -window root " + shot).c_str()), 0);
        keys("key Escape Escape");
        ASSERT_TRUE(waitUntil([&] { return !list().shown(); }));
    }
}

} // namespace qv::test
