// The Settings window: one window reused, and its theme toggle re-theming every window.
#include "support/browser_fixture.h"

#include "app/settings_window.h"
#include "app/view_helpers.h"
#include "base/atomic_file.h"
#include "base/json_text.h"
#include "history/history_window.h"
#include "tabs/activity_window.h"
#include "tabs/tab_memory_guard.h"

namespace qv::test {

namespace {

    bool prefersDark()
    {
        return Gtk::Settings::get_default()
            ->property_gtk_application_prefer_dark_theme()
            .get_value();
    }

    // The defaults key as written to disk, not as cached in memory.
    std::optional<bool> storedDarkMode()
    {
        auto file = testHome() / ".config/QuivelBrowser/defaults.json";
        FileRead read = readWholeFile(file);
        if (read.status != ReadStatus::Ok)
            return std::nullopt;
        auto root = parseJson(read.contents);
        if (!root || !root->is_object() || !root->contains("QuivelDarkMode"))
            return std::nullopt;
        return (*root)["QuivelDarkMode"].get<bool>();
    }

    // The colour an icon button's own style sheet gives its symbol, or "" without one.
    std::string symbolColour(Gtk::Button& button)
    {
        auto* css = static_cast<GtkCssProvider*>(
            g_object_get_data(G_OBJECT(button.gobj()), "qv-widget-css"));
        if (!css)
            return "";
        char* text = gtk_css_provider_to_string(css);
        std::string out = text ? text : "";
        g_free(text);
        return out;
    }

} // namespace

class SettingsWindowTest : public BrowserTest { };

TEST_F(SettingsWindowTest, OpeningTwiceShowsTheSameWindowHoldingTheThemeToggle)
{
    controller().showSettings();
    SettingsWindow* first = controller().settingsWindow();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(waitUntil([&] { return first->get_mapped(); }));
    first->close();
    EXPECT_FALSE(first->get_visible());
    controller().showSettings();
    EXPECT_EQ(controller().settingsWindow(), first);
    EXPECT_TRUE(first->get_visible());
    EXPECT_EQ(controller().window()->darkModeButton().get_root(), first);
    int w = 0, h = 0;
    first->get_size_request(w, h);
    EXPECT_GE(w, 540);
    EXPECT_GE(h, 430);
}

TEST_F(SettingsWindowTest, TheTabUnloadingSwitchIsOffUntilTurnedOnAndIsKept)
{
    controller().showSettings();
    Gtk::Switch& unload = controller().settingsWindow()->unloadTabsSwitch();
    EXPECT_FALSE(unload.get_active());
    EXPECT_FALSE(controller().tabs().memoryGuard().enabled());
    unload.set_active(true);
    EXPECT_TRUE(controller().tabs().memoryGuard().enabled());
    flushFiles();
    UserDefaults stored(testHome() / ".config/QuivelBrowser/defaults.json");
    EXPECT_TRUE(stored.boolForKey(kUnloadTabsUnderMemoryPressureKey));
}

TEST_F(SettingsWindowTest, ThemeToggleReThemesEveryOpenWindow)
{
    controller().showHistory();
    controller().showActivity();
    controller().showSettings();
    std::vector<Gtk::Window*> windows = { controller().settingsWindow(),
        controller().historyWindow(), controller().activityWindow() };
    ASSERT_TRUE(waitUntil([&] {
        for (auto* window : windows)
            if (!window->get_mapped())
                return false;
        return true;
    }));
    EXPECT_EQ(controller().shell().auxiliaryWindows(), windows);
    ASSERT_FALSE(controller().shell().darkMode());

    Gtk::ToggleButton& toggle = controller().window()->darkModeButton();
    toggle.set_active(true); // what a click does
    EXPECT_TRUE(prefersDark());
    flushFiles();
    EXPECT_EQ(storedDarkMode(), std::optional<bool>(true));
    for (auto* window : windows)
        EXPECT_TRUE(window->has_css_class("qv-dark")) << window->get_title();
    Gtk::Button& source = controller().settingsWindow()->editSourceButton();
    if (dynamic_cast<Gtk::Image*>(source.get_child())) {
        EXPECT_NE(symbolColour(source).find(cssColor(kDarkIconTint)), std::string::npos);
        EXPECT_NE(
            symbolColour(controller().historyWindow()->openButton()).find(cssColor(kDarkIconTint)),
            std::string::npos);
    }
    EXPECT_EQ(toggle.get_tooltip_text(), "Switch to light mode");

    toggle.set_active(false);
    EXPECT_FALSE(prefersDark());
    flushFiles();
    EXPECT_EQ(storedDarkMode(), std::optional<bool>(false));
    for (auto* window : windows)
        EXPECT_FALSE(window->has_css_class("qv-dark")) << window->get_title();
    if (dynamic_cast<Gtk::Image*>(source.get_child())) {
        EXPECT_NE(symbolColour(source).find(cssColor(kLightIconTint)), std::string::npos);
    }
}

} // namespace qv::test
