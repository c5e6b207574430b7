// The tab strip's widgets: the items of the current profile's tabs inside a horizontal
// scroller, the "+" button, and the drop marker and gap of a drag.
#pragma once

#include <gtkmm.h>

#include <map>
#include <optional>
#include <string>

namespace qv {

class ProfileService;
class Shell;
class Tab;
class TabContextButton;
class TabService;

class TabStripView : public Gtk::Revealer {
public:
    TabStripView(Shell& shell, TabService& tabs, ProfileService& profiles);
    ~TabStripView() override;

    // Brings the items in line with the tabs of the current profile: a tab's
    // item is made once and kept while the tab is shown, so a change to one tab of hundreds
    // touches one item. Runs after every change of the tab list.
    void rebuild();
    // Where a drop at a window point would insert: the target tab, before or after, and the
    // marker's x in strip coordinates. False outside the strip.
    bool insertionAtWindowPoint(double x, double y, std::string* targetID, bool* after,
        double* markerX);
    void updateDropIndicatorAtWindowPoint(double x, double y);
    void clearDropIndicator();
    void finishDropIndicatorFade();
    // Cancels pending idle and timer work; the strip is going away.
    void cancelPendingWork();

    Gtk::Box& bar() { return *m_bar; }
    Gtk::Widget& dropIndicator() { return *m_dropIndicator; }
    Gtk::Widget& dropGap() { return m_dropGap; }

private:
    // A tab's widgets and what they show, so that only changes are set.
    struct Item {
        Gtk::Box* box = nullptr;
        Gtk::Image* favicon = nullptr;
        TabContextButton* title = nullptr;
        Gtk::Label* label = nullptr;
        Gtk::Button* close = nullptr;
        Glib::RefPtr<Gio::SimpleAction> lazyAction;
        bool shown = false;
        bool selected = false;
        bool lazy = false;
        bool dark = false;
        std::string titleShown;
        Glib::RefPtr<Gdk::Texture> faviconShown;
    };

    void scrollIntoView(Gtk::Widget* item);
    Item makeItem(const std::string& tabID);
    void updateItem(Item& item, const Tab& tab, bool selected, bool dark);

    Shell& m_shell;
    TabService& m_tabs;
    ProfileService& m_profiles;
    Gtk::Box* m_bar = nullptr;
    Gtk::ScrolledWindow* m_scroll = nullptr;
    Gtk::Fixed* m_dropLayer = nullptr;
    Gtk::Widget* m_dropIndicator = nullptr;
    Gtk::Box m_dropGap; // owned here: it is out of the strip between drags
    Gtk::Widget* m_dropTargetItem = nullptr;
    std::map<std::string, Item> m_items; // by tab ID
    Gtk::Button* m_plus = nullptr;
    std::optional<bool> m_plusDark;
    sigc::connection m_dropFadeTimer;
    sigc::connection m_scrollIdle;
};

} // namespace qv
