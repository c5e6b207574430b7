// The tab strip's widgets: the items of the current profile's tabs inside a horizontal
// scroller, the "+" button, and the drop marker and gap of a drag.
#pragma once

#include "tabs/tab_model.h"

#include <gtkmm.h>

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

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

    // Brings the items in line with the tabs of the current profile. Only the items in and
    // near the visible stretch exist once the tabs overflow the strip; an item is kept while
    // its tab stays there, so a change to one tab of hundreds touches at most one item.
    // Runs after every change of the tab list.
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
    Gtk::ScrolledWindow& scroller() { return *m_scroll; }
    // The items that exist now, and the profile's tabs the strip stands for.
    size_t madeItemCount() const { return m_items.size(); }
    size_t tabCount() const { return m_order.size(); }

private:
    // A tab's widgets and what they show, so that only changes are set.
    struct Item {
        Gtk::Box* box = nullptr;
        Gtk::Image* favicon = nullptr;
        TabContextButton* title = nullptr;
        Gtk::Label* label = nullptr;
        bool shown = false;
        bool selected = false;
        bool fixedWidth = false;
        std::string titleShown;
        Glib::RefPtr<Gdk::Texture> faviconShown;
    };

    // Makes, keeps and drops items for the current range and puts them in order.
    void layOut();
    void layOutSoon();
    StripRange currentRange() const;
    void scrollSelectedIntoView();
    void scrollSelectedIntoViewSoon();
    Item makeItem(const std::string& tabID);
    void updateItem(Item& item, const Tab& tab, bool selected, bool fixedWidth);
    Glib::RefPtr<Gio::MenuModel> makeContextMenu(TabContextButton& button);
    void placeSpacer(Gtk::Box& spacer, double width, Gtk::Widget* after);

    Shell& m_shell;
    TabService& m_tabs;
    ProfileService& m_profiles;
    Gtk::Box* m_bar = nullptr;
    Gtk::ScrolledWindow* m_scroll = nullptr;
    Gtk::Fixed* m_dropLayer = nullptr;
    Gtk::Widget* m_dropIndicator = nullptr;
    Gtk::Box m_dropGap; // owned here: it is out of the strip between drags
    // Stand in for the items not made before and after the made ones.
    Gtk::Box m_leadSpacer;
    Gtk::Box m_trailSpacer;
    Gtk::Widget* m_dropTargetItem = nullptr;
    std::vector<std::string> m_order; // the current profile's tab IDs in strip order
    std::optional<size_t> m_selectedIndex; // in m_order
    std::string m_selectedID;
    std::unordered_map<std::string, Item> m_items; // the made ones, by tab ID
    StripRange m_range;
    Gtk::Button* m_plus = nullptr;
    std::optional<bool> m_plusDark;
    sigc::connection m_dropFadeTimer;
    sigc::connection m_scrollIdle;
    sigc::connection m_layOutIdle;
    bool m_scrollWanted = false;
};

} // namespace qv
