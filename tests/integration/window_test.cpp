// The browser window: drag reordering in the strip, theme, chrome, close rules, bad start-up data.
#include "support/browser_fixture.h"

#include "base/atomic_file.h"
#include "tabs/tab_context_button.h"
#include "tabs/tab_model.h"
#include "tabs/tab_strip_view.h"

#include <fstream>

namespace qv::test {

namespace {

struct ItemGeometry {
    std::string id;
    double left, right, midY;
};

// Window coordinates of each tab item in strip order.
std::vector<ItemGeometry> tabItems(BrowserController& controller)
{
    std::vector<ItemGeometry> items;
    Gtk::Box* bar = &controller.tabs().tabStrip()->bar();
    for (Gtk::Widget* item = bar->get_first_child(); item; item = item->get_next_sibling()) {
        TabContextButton* button = nullptr;
        for (Gtk::Widget* c = item->get_first_child(); c && !button; c = c->get_next_sibling())
            button = dynamic_cast<TabContextButton*>(c);
        if (!button)
            continue;
        double x0, y0, x1, y1;
        item->translate_coordinates(*controller.window(), 0, 0, x0, y0);
        item->translate_coordinates(*controller.window(), item->get_width(), item->get_height(), x1, y1);
        items.push_back({ button->get_name().raw(), x0, x1, (y0 + y1) / 2 });
    }
    return items;
}

std::vector<std::string> order(const BrowserController& controller)
{
    std::vector<std::string> ids;
    for (const auto& tab : controller.tabs().browserTabs())
        ids.push_back(tab.id());
    return ids;
}

} // namespace

// Three items side by side, each with a width: the strip has been laid out.
bool laidOut(const std::vector<ItemGeometry>& items)
{
    if (items.size() != 3u)
        return false;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].right <= items[i].left || (i > 0 && items[i].left < items[i - 1].right))
            return false;
    }
    return true;
}

class WindowTest : public BrowserTest {
protected:
    void threeTabs()
    {
        controller().tabs().createBrowserTabWithURL(std::nullopt);
        controller().tabs().createBrowserTabWithURL(std::nullopt);
        ASSERT_TRUE(waitUntil([&] { return laidOut(tabItems(controller())); }));
    }
};

TEST_F(WindowTest, DroppingBetweenMidpointsMovesTheTabThere)
{
    threeTabs();
    auto ids = order(controller());
    auto items = tabItems(controller());
    const auto& b = items[1];
    const auto& c = items[2];
    // Between B's and C's midpoints: A lands between B and C.
    double x = ((b.left + b.right) / 2 + (c.left + c.right) / 2) / 2;
    TabID target;
    bool after = true;
    ASSERT_TRUE(controller().tabs().tabInsertionAtWindowPoint(x, b.midY, &target, &after, nullptr));
    EXPECT_EQ(target, ids[2]);
    EXPECT_FALSE(after);
    controller().tabs().moveBrowserTabWithIDToWindowPoint(ids[0], x, b.midY);
    EXPECT_EQ(order(controller()), (std::vector<std::string> { ids[1], ids[0], ids[2] }));

    // Past the last midpoint: last.
    ASSERT_TRUE(waitUntil([&] {
        items = tabItems(controller());
        return laidOut(items);
    }));
    controller().tabs().moveBrowserTabWithIDToWindowPoint(ids[1], items[2].right - 2, items[2].midY);
    EXPECT_EQ(order(controller()), (std::vector<std::string> { ids[0], ids[2], ids[1] }));

    // Outside the strip: nothing moves.
    controller().tabs().moveBrowserTabWithIDToWindowPoint(ids[1], 400, 600);
    EXPECT_EQ(order(controller()), (std::vector<std::string> { ids[0], ids[2], ids[1] }));
}

TEST_F(WindowTest, DragShowsMarkerAndGapAndClearingHidesThem)
{
    threeTabs();
    auto items = tabItems(controller());
    double x = items[1].left + 3;
    controller().tabs().updateTabDropIndicatorAtWindowPoint(x, items[1].midY);
    Gtk::Widget* marker = &controller().tabs().tabStrip()->dropIndicator();
    EXPECT_TRUE(marker->get_visible());
    int w = 0, h = 0;
    marker->get_size_request(w, h);
    EXPECT_EQ(w, 6);
    EXPECT_EQ(h, 30);
    int children = 0;
    for (Gtk::Widget* c = controller().tabs().tabStrip()->bar().get_first_child(); c; c = c->get_next_sibling())
        ++children;
    EXPECT_EQ(children, 3 + 1 + 1 + 1); // items, gap, "+", spacer

    controller().tabs().clearTabDropIndicator();
    EXPECT_TRUE(waitUntil([&] { return !marker->get_visible(); }, std::chrono::seconds(2)));
    children = 0;
    for (Gtk::Widget* c = controller().tabs().tabStrip()->bar().get_first_child(); c; c = c->get_next_sibling())
        ++children;
    EXPECT_EQ(children, 3 + 1 + 1);
}

TEST_F(WindowTest, AStripOfHundredsOfTabsMakesItemsOnlyNearWhatIsShown)
{
    constexpr size_t kMany = 300;
    std::vector<RestoredTab> restored;
    for (size_t i = 0; i < kMany; ++i)
        restored.push_back({ kDefaultProfileID, "about:blank", "Restored " + std::to_string(i), false,
            kDefaultZoomLevel, {}, {} });
    controller().tabs().restoreTabs(std::move(restored), 0);
    TabStripView& strip = *controller().tabs().tabStrip();
    auto ids = order(controller());
    std::vector<ItemGeometry> items;
    ASSERT_TRUE(waitUntil([&] {
        items = tabItems(controller());
        return !items.empty() && items.front().right > items.front().left;
    }));
    EXPECT_EQ(strip.tabCount(), kMany + 1);
    EXPECT_LT(strip.madeItemCount(), 20u);
    // Each made item is where it would be if all were made: in tab order, of one width.
    for (size_t k = 0; k < items.size(); ++k) {
        EXPECT_EQ(items[k].id, ids[k]);
        EXPECT_DOUBLE_EQ(items[k].right - items[k].left, items[0].right - items[0].left);
        if (k) {
            EXPECT_DOUBLE_EQ(items[k].left - items[k - 1].left, kStripItemWidth + kStripItemSpacing);
        }
    }

    // Selecting the last tab scrolls its item into view, made and drawn among few others.
    controller().tabs().selectBrowserTabAtIndex(kMany);
    double scrollerLeft = 0, y = 0;
    strip.scroller().translate_coordinates(*controller().window(), 0, 0, scrollerLeft, y);
    auto shown = [&](const std::string& id) {
        for (const auto& item : tabItems(controller())) {
            if (item.id == id)
                return item.right > item.left && item.left >= scrollerLeft
                    && item.right <= scrollerLeft + strip.scroller().get_width();
        }
        return false;
    };
    ASSERT_TRUE(waitUntil([&] { return shown(ids.back()); }));
    EXPECT_LT(strip.madeItemCount(), 20u);

    // A change to the shown tab reaches its item.
    controller().tabs().tabList()[kMany].setTitle("Changed at the end");
    ASSERT_TRUE(waitUntil([&] {
        for (Gtk::Widget* item = strip.bar().get_first_child(); item; item = item->get_next_sibling()) {
            for (Gtk::Widget* c = item->get_first_child(); c; c = c->get_next_sibling()) {
                auto* b = dynamic_cast<TabContextButton*>(c);
                auto* label = b ? dynamic_cast<Gtk::Label*>(b->get_child()) : nullptr;
                if (label && b->get_name().raw() == ids.back() && label->get_text() == "Changed at the end")
                    return true;
            }
        }
        return false;
    }));

    // A drop among the shown items lands before the one it is on.
    ASSERT_TRUE(waitUntil([&] {
        items = tabItems(controller());
        return items.size() >= 3u && shown(items[items.size() - 2].id);
    }));
    const ItemGeometry& target = items[items.size() - 2];
    controller().tabs().moveBrowserTabWithIDToWindowPoint(ids[0], target.left + 3, target.midY);
    auto moved = order(controller());
    auto at = std::find(moved.begin(), moved.end(), ids[0]);
    ASSERT_NE(at + 1, moved.end());
    EXPECT_EQ(*(at + 1), target.id);
}

TEST_F(WindowTest, ReorderedStripIsWrittenToTheSnapshot)
{
    threeTabs();
    auto ids = order(controller());
    controller().tabs().moveBrowserTabWithID(ids[2], ids[0], false);
    flushFiles();
    FileRead read = readWholeFile(controller().tabs().tabsFileURL());
    auto snapshot = parseJson(read.contents);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ((*snapshot)[0]["id"], ids[2]);
    EXPECT_EQ((*snapshot)[1]["id"], ids[0]);
    EXPECT_EQ((*snapshot)[2]["id"], ids[1]);
}

TEST_F(WindowTest, ToolbarHoldsTheButtonsInOrderAroundTheAddressCapsule)
{
    std::vector<std::string> names;
    for (Gtk::Widget* c = controller().window()->browserToolbar().get_first_child(); c; c = c->get_next_sibling())
        names.push_back(c->get_name().raw());
    ASSERT_EQ(names.size(), 12u);
    EXPECT_EQ(names[0], "back");
    EXPECT_EQ(names[1], "forward");
    EXPECT_EQ(names[2], "reload");
    EXPECT_EQ(names[3], "home");
    EXPECT_EQ(names[5], "enter");
    EXPECT_EQ(names[11], "setting");
    EXPECT_EQ(controller().window()->requestField().get_placeholder_text(), "Search Google or enter an address");
    EXPECT_FALSE(controller().window()->backButton().get_sensitive());
}

TEST_F(WindowTest, ClosingTheBrowserWindowStopsEveryTab)
{
    controller().tabs().createBrowserTabWithURL(std::nullopt);
    // Pages without a before-unload handler agree on their own; then the window closes.
    controller().window()->close();
    ASSERT_TRUE(waitUntil([&] { return controller().shell().closingApplication(); }));
    EXPECT_TRUE(m_alerts.empty());
    for (const auto& tab : controller().tabs().browserTabs())
        EXPECT_EQ(gtk_widget_get_parent(GTK_WIDGET(tab.webView())), nullptr);
    // Taken down, no widget of the window keeps a child it parented itself.
    size_t before = widgetsFinalizedWithChildren();
    shutDown();
    EXPECT_EQ(widgetsFinalizedWithChildren(), before);
}

TEST_F(WindowTest, ElementFullscreenInTheSelectedTabHidesChromeOnly)
{
    WebKitWebView* background = selectedView();
    controller().tabs().createBrowserTabWithURL(std::nullopt);
    controller().setBrowserElementFullscreen(true, background);
    EXPECT_FALSE(controller().window()->elementFullscreen());
    controller().setBrowserElementFullscreen(true, selectedView());
    EXPECT_TRUE(controller().window()->elementFullscreen());
    // Opening a tab leaves element full screen first.
    controller().tabs().createBrowserTabWithURL(std::nullopt);
    EXPECT_FALSE(controller().window()->elementFullscreen());
}

class DarkWindowTest : public BrowserTest {
protected:
    DarkWindowTest() { m_launchInSetUp = false; }
};

TEST_F(DarkWindowTest, StoredDarkThemeIsAppliedAtLaunch)
{
    std::filesystem::create_directories(testHome() / ".config/QuivelBrowser");
    ASSERT_TRUE(writeFileAtomically(testHome() / ".config/QuivelBrowser/defaults.json",
        R"({"QuivelDarkMode": true})").ok());
    launch();
    EXPECT_TRUE(controller().shell().darkMode());
    EXPECT_TRUE(Gtk::Settings::get_default()->property_gtk_application_prefer_dark_theme().get_value());
}

TEST_F(DarkWindowTest, UnreadableDefaultsStartLightAndAreKeptAside)
{
    auto dir = testHome() / ".config/QuivelBrowser";
    std::filesystem::create_directories(dir);
    ASSERT_TRUE(writeFileAtomically(dir / "defaults.json", "{not json").ok());
    launch();
    EXPECT_FALSE(controller().shell().darkMode());
    EXPECT_EQ(controller().tabs().browserTabs().size(), 1u);
    EXPECT_EQ(readWholeFile(dir / "defaults.json.bad").contents, "{not json");
    // Selecting a tab writes the current profile; the bad copy stays.
    controller().tabs().createBrowserTabWithURL(std::nullopt);
    controller().tabs().selectBrowserTabAtIndex(0);
    flushFiles();
    EXPECT_EQ(readWholeFile(dir / "defaults.json.bad").contents, "{not json");
    EXPECT_TRUE(parseJson(readWholeFile(dir / "defaults.json").contents).has_value());
}

TEST_F(DarkWindowTest, DefaultsTooDeepToCopyStartLightAndAreKeptAside)
{
    auto dir = testHome() / ".config/QuivelBrowser";
    std::filesystem::create_directories(dir);
    const std::string deep = "{\"QuivelDarkMode\": true, \"QuivelExtensionPermissions\": {\"a\": "
        + std::string(100000, '[') + std::string(100000, ']') + "}}";
    ASSERT_TRUE(writeFileAtomically(dir / "defaults.json", deep).ok());
    launch();
    EXPECT_FALSE(controller().shell().darkMode());
    EXPECT_EQ(readWholeFile(dir / "defaults.json.bad").contents, deep);
    // The next write starts a new file and leaves the copy alone.
    controller().tabs().createBrowserTabWithURL(std::nullopt);
    controller().tabs().selectBrowserTabAtIndex(0);
    flushFiles();
    EXPECT_EQ(readWholeFile(dir / "defaults.json.bad").contents, deep);
    EXPECT_TRUE(parseJson(readWholeFile(dir / "defaults.json").contents).has_value());
}

TEST_F(DarkWindowTest, UnwritableDataDirectoryStillOpensTheWindow)
{
    // A file where the data folder should be: nothing can be created below it.
    ASSERT_TRUE(writeFileAtomically(testHome() / ".local/share/QuivelBrowser", "not a folder").ok());
    launch();
    EXPECT_NE(controller().window(), nullptr);
    EXPECT_EQ(controller().tabs().browserTabs().size(), 1u);
    controller().tabs().createBrowserTabWithURL(std::nullopt);
    EXPECT_EQ(controller().tabs().browserTabs().size(), 2u);
}

TEST_F(DarkWindowTest, CMakeListsInWorkingDirectoryKeepsDataFilesThere)
{
    ASSERT_TRUE(writeFileAtomically(testWorkingDirectory() / "CMakeLists.txt", "").ok());
    ASSERT_TRUE(writeFileAtomically(testWorkingDirectory() / "tab.json", "[{\"id\":\"OLD\"}]").ok());
    launch();
    EXPECT_EQ(controller().history().historyFileURL(), testWorkingDirectory() / "history.json");
    EXPECT_EQ(controller().tabs().tabsFileURL(), testWorkingDirectory() / "tab.json");
    // An old snapshot is never read: one fresh tab.
    EXPECT_EQ(controller().tabs().browserTabs().size(), 1u);
    flushFiles();
    auto snapshot = parseJson(readWholeFile(testWorkingDirectory() / "tab.json").contents);
    ASSERT_TRUE(snapshot && snapshot->size() == 1);
    EXPECT_NE((*snapshot)[0]["id"], "OLD");
}

} // namespace qv::test
