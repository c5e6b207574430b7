// The tab strip's widgets, its items and the drag marker and gap.
#include "tabs/tab_strip_view.h"

#include "app/shell.h"
#include "profiles/profile_service.h"
#include "tabs/tab_service.h"
#include "app/view_helpers.h"
#include "tabs/tab_context_button.h"
#include "tabs/tab_model.h"

namespace qv {

namespace {

constexpr const char* kTabItemClass = "qv-tab-item";
constexpr const char* kDropTargetClass = "qv-drop-target";
constexpr const char* kTabCloseClass = "qv-tab-close";
constexpr int kTabBarHeight = 46;
// The strip's padding before its first item, as the window's style sheet sets it.
constexpr double kBarPaddingStart = 14;
constexpr double kAssumedVisibleWidth = 1000;

// Runs step(t) for t from 0 to 1 over the duration on the widget's frame clock.
void animate(Gtk::Widget& widget, double seconds, std::function<void(double)> step)
{
    if (!widget.get_mapped() || seconds <= 0) {
        step(1);
        return;
    }
    gint64 start = 0;
    widget.add_tick_callback(
        [start, seconds, step = std::move(step)](const Glib::RefPtr<Gdk::FrameClock>& clock) mutable {
            gint64 now = clock->get_frame_time();
            if (!start)
                start = now;
            double t = std::min(1.0, (now - start) / (seconds * 1e6));
            step(t);
            return t < 1.0;
        });
}

void animateOpacity(Gtk::Widget& widget, double to, double seconds)
{
    double from = widget.get_opacity();
    animate(widget, seconds, [&widget, from, to](double t) { widget.set_opacity(from + (to - from) * t); });
}

// The widget's frame in another widget's coordinates.
std::optional<graphene_rect_t> boundsIn(Gtk::Widget& widget, Gtk::Widget& target)
{
    graphene_rect_t rect;
    if (!gtk_widget_compute_bounds(widget.gobj(), target.gobj(), &rect))
        return std::nullopt;
    return rect;
}

TabContextButton* titleButtonOf(Gtk::Widget* item)
{
    if (!item || !item->has_css_class(kTabItemClass))
        return nullptr;
    for (Gtk::Widget* child = item->get_first_child(); child; child = child->get_next_sibling()) {
        if (auto* button = dynamic_cast<TabContextButton*>(child))
            return button;
    }
    return nullptr;
}

} // namespace

TabStripView::TabStripView(Shell& shell, TabService& tabs, ProfileService& profiles)
    : m_shell(shell)
    , m_tabs(tabs)
    , m_profiles(profiles)
{
    m_bar = Gtk::make_managed<WithAccessibleRole<Gtk::Box>>("QvTabList",
        GTK_ACCESSIBLE_ROLE_TAB_LIST, Gtk::Orientation::HORIZONTAL, static_cast<int>(kStripItemSpacing));
    m_bar->add_css_class("qv-tabbar");
    m_bar->set_valign(Gtk::Align::FILL);
    m_bar->set_hexpand(true);
    m_bar->set_size_request(-1, kTabBarHeight);
    auto* overlay = Gtk::make_managed<Gtk::Overlay>();
    overlay->set_child(*m_bar);
    m_dropLayer = Gtk::make_managed<Gtk::Fixed>();
    m_dropLayer->set_can_target(false);
    overlay->add_overlay(*m_dropLayer);
    auto* indicator = Gtk::make_managed<Gtk::Box>();
    indicator->add_css_class("qv-drop-indicator");
    indicator->set_size_request(6, 30);
    indicator->set_opacity(0);
    indicator->set_visible(false);
    m_dropLayer->put(*indicator, 0, 0);
    m_dropIndicator = indicator;
    m_dropGap.set_size_request(14, -1);
    m_dropGap.add_css_class("qv-drop-gap");
    m_leadSpacer.set_name("strip-lead");
    m_trailSpacer.set_name("strip-trail");
    m_scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    m_scroll->set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::NEVER);
    m_scroll->set_has_frame(false);
    m_scroll->set_child(*overlay);
    m_scroll->set_size_request(-1, kTabBarHeight);
    m_scroll->set_margin_start(14);
    m_scroll->set_margin_end(14);
    m_scroll->add_css_class("qv-tabscroll");
    // Scrolling and resizing bring other items into the made range.
    auto adjustment = m_scroll->get_hadjustment();
    adjustment->signal_value_changed().connect(sigc::mem_fun(*this, &TabStripView::layOutSoon));
    adjustment->signal_changed().connect([this] {
        layOutSoon();
        if (m_scrollWanted && !m_scrollIdle.connected())
            scrollSelectedIntoViewSoon();
    });
    set_transition_type(Gtk::RevealerTransitionType::SLIDE_DOWN);
    set_transition_duration(180);
    set_child(*m_scroll);
    set_reveal_child(true);
    tabs.browserTabs().signalChanged().connect(sigc::mem_fun(*this, &TabStripView::rebuild));
}

TabStripView::~TabStripView() { cancelPendingWork(); }

void TabStripView::cancelPendingWork()
{
    m_scrollIdle.disconnect();
    m_layOutIdle.disconnect();
    m_dropFadeTimer.disconnect();
}

namespace {

    // The tab's index in the list at the moment of a click: items outlive
    // reorders, so they keep the tab's ID rather than a position.
    std::optional<long> tagOfTab(const TabService& tabService, const std::string& id)
    {
        const TabList& tabs = tabService.browserTabs();
        const Tab* tab = tabs.tabWithID(id);
        auto index = tab ? tabs.indexOf(*tab) : std::nullopt;
        return index ? std::optional<long>(static_cast<long>(*index)) : std::nullopt;
    }

} // namespace

TabStripView::Item TabStripView::makeItem(const std::string& id)
{
    TabService& tabService = m_tabs;
    Item item;
    item.box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 4);
    item.box->add_css_class(kTabItemClass);
    item.box->set_valign(Gtk::Align::CENTER);
    // Set, so that the title's expanding in a fixed-width item does not spread to the item.
    item.box->set_hexpand(false);

    // A private profile's tabs say so: nothing they do is kept.
    const Tab* tab = tabService.tabList().tabWithID(id);
    if (tab && m_profiles.isPrivateProfile(tab->profileID())) {
        item.box->add_css_class("qv-private");
        auto* mark = Gtk::make_managed<Gtk::Image>();
        mark->set_from_icon_name("view-conceal-symbolic");
        mark->set_pixel_size(14);
        mark->set_name("private-mark");
        mark->set_tooltip_text("Private: nothing of this tab is kept");
        setAccessibleLabel(*mark, "Private");
        item.box->append(*mark);
    }

    item.favicon = Gtk::make_managed<Gtk::Image>();
    item.favicon->set_pixel_size(16);
    item.favicon->set_size_request(16, 16);
    item.box->append(*item.favicon);

    auto* title = Gtk::make_managed<TabContextButton>();
    item.title = title;
    item.label = Gtk::make_managed<Gtk::Label>();
    item.label->set_ellipsize(Pango::EllipsizeMode::END);
    item.label->set_xalign(0);
    title->set_child(*item.label);
    title->set_has_frame(false);
    title->add_css_class("qv-tab-title");
    title->set_name(id);
    title->set_size_request(64, -1);
    // The tooltip is read from the label when it is about to show: setting it on every change
    // of a title would ask the display server where the pointer is each time.
    title->set_has_tooltip(true);
    title->signal_query_tooltip().connect(
        [label = item.label](int, int, bool, const Glib::RefPtr<Gtk::Tooltip>& tooltip) {
            tooltip->set_text(label->get_text());
            return !label->get_text().empty();
        },
        false);
    title->signal_clicked().connect([&tabService, id] {
        if (auto tag = tagOfTab(tabService, id))
            tabService.selectBrowserTab(Sender::button(*tag));
    });
    title->setTabDragUpdateHandler([&tabService](const std::string&, double x, double y) {
        tabService.updateTabDropIndicatorAtWindowPoint(x, y);
    });
    title->setTabDropHandler([&tabService](const std::string& id, double x, double y) {
        // The strip is rebuilt by the move; let the button finish its event first.
        Glib::signal_idle().connect_once(sigc::track_obj(
            [&tabService, id, x, y] { tabService.moveBrowserTabWithIDToWindowPoint(id, x, y); },
            tabService));
    });
    title->setTabContextMenuMaker(
        [this](TabContextButton& button) { return makeContextMenu(button); });
    item.box->append(*title);

    // Styled by the window's style sheet: a style of its own per button would cost every
    // item a style cascade.
    Gtk::Button* close = symbolButton("window-close-symbolic", "Close tab", 10);
    close->set_name("tab-close");
    close->add_css_class("circular");
    close->add_css_class(kTabCloseClass);
    close->set_size_request(22, 22);
    close->set_valign(Gtk::Align::CENTER);
    close->add_css_class("qv-keep-tint");
    close->signal_clicked().connect([&tabService, id] {
        if (auto tag = tagOfTab(tabService, id))
            tabService.closeBrowserTab(Sender::button(*tag));
    });
    item.box->append(*close);
    return item;
}

Glib::RefPtr<Gio::MenuModel> TabStripView::makeContextMenu(TabContextButton& button)
{
    TabService& tabService = m_tabs;
    std::string id = button.get_name().raw();
    const Tab* tab = tabService.tabList().tabWithID(id);
    if (!tab)
        return nullptr;
    auto actions = Gio::SimpleActionGroup::create();
    auto lazy = Gio::SimpleAction::create_bool("lazy", tab->lazy());
    lazy->signal_activate().connect([&tabService, id](const Glib::VariantBase&) {
        Glib::signal_idle().connect_once(sigc::track_obj(
            [&tabService, id] {
                if (auto tag = tagOfTab(tabService, id))
                    tabService.toggleLazyTabs(Sender::menuItem(*tag));
            },
            tabService));
    });
    actions->add_action(lazy);
    button.insert_action_group("tab", actions);
    auto menu = Gio::Menu::create();
    auto section = Gio::Menu::create();
    section->append(tab->lazy() ? "Turn Lazy Tabs Off" : "Turn Lazy Tabs On", "tab.lazy");
    menu->append_section("Tab Options", section);
    return menu;
}

// Sets only what changed, so an unchanged tab costs a few comparisons.
void TabStripView::updateItem(Item& item, const Tab& tab, bool selected, bool fixedWidth)
{
    if (!item.shown || item.selected != selected) {
        if (selected)
            item.box->add_css_class("selected");
        else
            item.box->remove_css_class("selected");
        setAccessibleSelected(*item.title, selected);
        item.selected = selected;
    }
    if (!item.shown || item.fixedWidth != fixedWidth) {
        // A fixed-width item gives its title what the icon and the close button leave.
        item.box->set_size_request(fixedWidth ? static_cast<int>(kStripItemWidth) : -1, 36);
        item.label->set_max_width_chars(fixedWidth ? 0 : 32);
        item.title->set_hexpand(fixedWidth);
        item.fixedWidth = fixedWidth;
    }
    if (!item.shown || item.titleShown != tab.title()) {
        std::string shown = displayedTabTitle(tab.title());
        item.label->set_text(shown);
        // A screen reader names the tab by its page, not by the widget's class.
        setAccessibleLabel(*item.title, shown);
        item.titleShown = tab.title();
    }
    if (!item.shown || item.faviconShown != tab.favicon()) {
        if (tab.favicon()) {
            item.favicon->set(tab.favicon());
            item.favicon->remove_css_class("dim-label");
        } else {
            item.favicon->set_from_icon_name("web-browser-symbolic");
            item.favicon->add_css_class("dim-label");
            setAccessibleLabel(*item.favicon, "Website");
        }
        item.faviconShown = tab.favicon();
    }
    item.shown = true;
}

void TabStripView::rebuild()
{
    TabService& tabService = m_tabs;
    m_dropTargetItem = nullptr;
    if (m_dropGap.get_parent() == m_bar)
        m_bar->remove(m_dropGap);
    for (Gtk::Widget* child = m_bar->get_first_child(); child; child = child->get_next_sibling())
        child->remove_css_class(kDropTargetClass);

    ProfileID profile = m_profiles.currentProfile();
    const auto& tabs = tabService.browserTabs();
    m_order.clear();
    std::optional<size_t> selectedIndex;
    std::string selectedID;
    for (const Tab& tab : tabs) {
        if (tab.profileID() != profile)
            continue;
        if (&tab == tabs.selected()) {
            selectedIndex = m_order.size();
            selectedID = tab.id();
        }
        m_order.push_back(tab.id());
    }
    // The selected tab is brought into view when it is another one or has moved, not on
    // every change of a title.
    if (selectedIndex != m_selectedIndex || selectedID != m_selectedID) {
        m_selectedIndex = selectedIndex;
        m_selectedID = selectedID;
        m_scrollWanted = selectedIndex.has_value();
    }

    bool dark = m_shell.darkMode();
    if (!m_plus) {
        m_plus = symbolButton("list-add-symbolic", "New tab", 15);
        m_plus->set_tooltip_text("New tab (Ctrl+T)");
        m_plus->add_css_class("circular");
        m_plus->set_size_request(32, 32);
        m_plus->set_valign(Gtk::Align::CENTER);
        m_plus->add_css_class("qv-keep-tint");
        m_plus->signal_clicked().connect([&tabService] { tabService.createNewTab(); });
        auto* spacer = Gtk::make_managed<Gtk::Box>();
        spacer->set_hexpand(true);
        // After the items, which are only ever put before them.
        m_bar->append(*m_plus);
        m_bar->append(*spacer);
    }
    if (m_plusDark != dark) {
        styleThemedBezelButton(*m_plus, dark);
        m_plusDark = dark;
    }
    layOut();
    if (m_scrollWanted) {
        m_scrollIdle.disconnect();
        scrollSelectedIntoViewSoon();
    }
}

StripRange TabStripView::currentRange() const
{
    auto adjustment = m_scroll->get_hadjustment();
    double visible = adjustment->get_page_size();
    // Before the first allocation: about the width of a new window's strip.
    if (visible <= 0)
        visible = kAssumedVisibleWidth;
    return stripItemRange(m_order.size(), adjustment->get_value() - kBarPaddingStart, visible);
}

void TabStripView::layOutSoon()
{
    StripRange range = currentRange();
    if (m_layOutIdle.connected() || (range.fixedWidth == m_range.fixedWidth
            && range.first == m_range.first && range.end == m_range.end))
        return;
    // Not while GTK is allocating, where the adjustment changes; before the next frame draws.
    m_layOutIdle = Glib::signal_idle().connect(
        [this] {
            layOut();
            return false;
        },
        Glib::PRIORITY_HIGH_IDLE);
}

void TabStripView::placeSpacer(Gtk::Box& spacer, double width, Gtk::Widget* after)
{
    if (width <= 0) {
        if (spacer.get_parent() == m_bar)
            m_bar->remove(spacer);
        return;
    }
    spacer.set_size_request(static_cast<int>(width), -1);
    if (spacer.get_parent() != m_bar) {
        if (after)
            m_bar->insert_child_after(spacer, *after);
        else
            m_bar->prepend(spacer);
    } else if (spacer.get_prev_sibling() != after) {
        if (after)
            m_bar->reorder_child_after(spacer, *after);
        else
            m_bar->reorder_child_at_start(spacer);
    }
}

void TabStripView::layOut()
{
    m_layOutIdle.disconnect();
    const TabList& tabs = m_tabs.browserTabs();
    StripRange range = currentRange();
    m_range = range;
    // The spacers stand for the items not made, so every item sits where it would if all were.
    double before = range.first ? stripItemOffset(range.first) - kStripItemSpacing : 0;
    placeSpacer(m_leadSpacer, before, nullptr);
    Gtk::Widget* previous = before > 0 ? &m_leadSpacer : nullptr;
    std::unordered_map<std::string, Item> kept;
    kept.reserve(range.end - range.first);
    for (size_t i = range.first; i < range.end; ++i) {
        const std::string& id = m_order[i];
        const Tab* tab = tabs.tabWithID(id);
        if (!tab || kept.count(id))
            continue;
        auto found = m_items.find(id);
        Item item = found != m_items.end() ? found->second : makeItem(id);
        if (found != m_items.end())
            m_items.erase(found);
        updateItem(item, *tab, m_selectedIndex == i, range.fixedWidth);
        if (item.box->get_parent() != m_bar) {
            if (previous)
                m_bar->insert_child_after(*item.box, *previous);
            else
                m_bar->prepend(*item.box);
        } else if (item.box->get_prev_sibling() != previous) {
            if (previous)
                m_bar->reorder_child_after(*item.box, *previous);
            else
                m_bar->reorder_child_at_start(*item.box);
        }
        previous = item.box;
        kept.emplace(id, item);
    }
    // Items of closed tabs, of other profiles' tabs and of tabs out of the range go.
    for (auto& [id, item] : m_items) {
        if (m_dropTargetItem == item.box)
            m_dropTargetItem = nullptr;
        m_bar->remove(*item.box);
    }
    m_items = std::move(kept);
    double after = range.fixedWidth && range.end < m_order.size()
        ? stripItemOffset(m_order.size() - range.end) - kStripItemSpacing
        : 0;
    placeSpacer(m_trailSpacer, after, previous);
}

void TabStripView::scrollSelectedIntoViewSoon()
{
    m_scrollIdle = Glib::signal_idle().connect([this] {
        scrollSelectedIntoView();
        return false;
    });
}

void TabStripView::scrollSelectedIntoView()
{
    if (!m_scrollWanted || !m_selectedIndex)
        return;
    auto adjustment = m_scroll->get_hadjustment();
    double page = adjustment->get_page_size();
    if (page <= 0)
        return; // again once the strip has its size
    double left = 0, right = 0;
    if (m_range.fixedWidth) {
        left = kBarPaddingStart + stripItemOffset(*m_selectedIndex);
        right = left + kStripItemWidth;
    } else {
        auto found = m_items.find(m_selectedID);
        if (found == m_items.end())
            return;
        auto bounds = boundsIn(*found->second.box, *m_bar);
        if (!bounds || bounds->size.width <= 0)
            return;
        left = bounds->origin.x;
        right = left + bounds->size.width;
    }
    double value = adjustment->get_value();
    double wanted = value;
    if (left - kBarPaddingStart < value)
        wanted = left - kBarPaddingStart;
    else if (right + kBarPaddingStart > value + page)
        wanted = right + kBarPaddingStart - page;
    wanted = std::max(0.0, wanted);
    // The strip has not grown to hold the item yet: again when it has.
    if (wanted > adjustment->get_upper() - page)
        return;
    m_scrollWanted = false;
    adjustment->set_value(wanted);
}

bool TabStripView::insertionAtWindowPoint(double x, double y, std::string* targetID, bool* after,
    double* markerX)
{
    auto* root = dynamic_cast<Gtk::Widget*>(get_root());
    if (!root)
        return false;
    double bx, by;
    if (!root->translate_coordinates(*m_bar, x, y, bx, by))
        return false;
    if (bx < 0 || by < 0 || bx > m_bar->get_width() || by > m_bar->get_height())
        return false;
    std::vector<TabItemFrame> frames;
    for (Gtk::Widget* child = m_bar->get_first_child(); child; child = child->get_next_sibling()) {
        TabContextButton* button = titleButtonOf(child);
        if (!button)
            continue;
        if (auto bounds = boundsIn(*child, *m_bar))
            frames.push_back({ button->get_name().raw(), bounds->origin.x, bounds->size.width });
    }
    auto insertion = tabInsertionAt(frames, bx);
    if (!insertion)
        return false;
    if (targetID)
        *targetID = insertion->targetID;
    if (after)
        *after = insertion->after;
    if (markerX)
        *markerX = insertion->markerX;
    return true;
}

void TabStripView::updateDropIndicatorAtWindowPoint(double x, double y)
{
    std::string target;
    bool after = false;
    double markerX = 0;
    if (!insertionAtWindowPoint(x, y, &target, &after, &markerX)) {
        clearDropIndicator();
        return;
    }
    m_dropFadeTimer.disconnect();

    double stripHeight = m_bar->get_height();
    double height = dropMarkerHeight(stripHeight);
    double frameX = markerX - 3, frameY = (stripHeight - height) / 2;
    Gtk::Widget& marker = *m_dropIndicator;
    marker.set_size_request(6, static_cast<int>(height));
    if (!marker.get_visible()) {
        m_dropLayer->move(marker, frameX, frameY);
        marker.set_opacity(0);
        marker.set_visible(true);
        animateOpacity(marker, 1, 0.14);
    } else {
        double fromX, fromY;
        m_dropLayer->get_child_position(marker, fromX, fromY);
        Gtk::Fixed* layer = m_dropLayer;
        animate(marker, 0.08, [layer, &marker, fromX, fromY, frameX, frameY](double t) {
            layer->move(marker, fromX + (frameX - fromX) * t, fromY + (frameY - fromY) * t);
        });
    }

    Gtk::Widget* targetItem = nullptr;
    std::optional<size_t> gapIndex;
    size_t targetIndex = 0, count = 0;
    for (Gtk::Widget* child = m_bar->get_first_child(); child; child = child->get_next_sibling(), ++count) {
        if (child == &m_dropGap)
            gapIndex = count;
        if (TabContextButton* button = titleButtonOf(child); button && button->get_name().raw() == target) {
            targetItem = child;
            targetIndex = count;
        }
    }
    if (targetItem != m_dropTargetItem) {
        if (m_dropTargetItem)
            m_dropTargetItem->remove_css_class(kDropTargetClass);
        m_dropTargetItem = targetItem;
    }
    if (targetItem) {
        targetItem->add_css_class(kDropTargetClass);
        size_t wanted = dropGapIndex(gapIndex, targetIndex, after, count);
        if (!gapIndex || *gapIndex != wanted) {
            if (gapIndex) {
                m_bar->remove(m_dropGap);
                --count;
            }
            wanted = std::min(wanted, count);
            if (wanted == 0) {
                m_bar->prepend(m_dropGap);
            } else {
                Gtk::Widget* before = m_bar->get_first_child();
                for (size_t k = 1; k < wanted && before; ++k)
                    before = before->get_next_sibling();
                m_bar->insert_child_after(m_dropGap, *before);
            }
            m_dropGap.set_opacity(0);
            animateOpacity(m_dropGap, 1, 0.11);
        }
    }
    marker.set_visible(true);
}

void TabStripView::clearDropIndicator()
{
    m_dropFadeTimer.disconnect();
    m_dropFadeTimer = Glib::signal_timeout().connect(
        [this] {
            finishDropIndicatorFade();
            return false;
        },
        160);
    animateOpacity(*m_dropIndicator, 0, 0.14);
    if (m_dropTargetItem)
        m_dropTargetItem->remove_css_class(kDropTargetClass);
    if (m_dropGap.get_parent() == m_bar)
        m_bar->remove(m_dropGap);
    m_dropTargetItem = nullptr;
}

void TabStripView::finishDropIndicatorFade()
{
    m_dropIndicator->set_visible(false);
    m_dropFadeTimer.disconnect();
}

} // namespace qv
