// The tab strip: items for the current profile's tabs, the "+" button, and drag reordering.
#include "app/browser_controller.h"

#include "app/view_helpers.h"
#include "tabs/tab_context_button.h"
#include "tabs/tab_model.h"

namespace qv {

namespace {

constexpr const char* kTabItemClass = "qv-tab-item";
constexpr const char* kDropTargetClass = "qv-drop-target";

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

void BrowserController::refreshTabBar()
{
    if (!m_tabBar)
        return;
    m_tabDropTargetItem = nullptr;
    m_scrollTabIdle.disconnect();
    while (Gtk::Widget* child = m_tabBar->get_first_child())
        m_tabBar->remove(*child);

    bool dark = darkMode();
    ProfileID profile = currentProfile();

    for (size_t i = 0; i < m_browserTabs.size(); ++i) {
        const BrowserTab& tab = m_browserTabs[i];
        if (tab.profileID != profile)
            continue;
        bool selected = tab.webView && tab.webView == m_webView;
        long tag = static_cast<long>(i);

        auto* item = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 4);
        item->add_css_class(kTabItemClass);
        if (selected)
            item->add_css_class("selected");
        item->set_size_request(-1, 36);
        item->set_valign(Gtk::Align::CENTER);

        auto* favicon = Gtk::make_managed<Gtk::Image>();
        favicon->set_pixel_size(16);
        favicon->set_size_request(16, 16);
        if (tab.favicon) {
            favicon->set(tab.favicon);
        } else {
            favicon->set_from_icon_name("web-browser-symbolic");
            favicon->add_css_class("dim-label");
            setAccessibleLabel(*favicon, "Website");
        }
        item->append(*favicon);

        auto* title = Gtk::make_managed<TabContextButton>();
        auto* label = Gtk::make_managed<Gtk::Label>(displayedTabTitle(tab.title));
        label->set_ellipsize(Pango::EllipsizeMode::END);
        label->set_xalign(0);
        label->set_max_width_chars(32);
        title->set_child(*label);
        title->set_has_frame(false);
        title->add_css_class("qv-tab-title");
        title->set_name(tab.id);
        title->set_size_request(64, -1);
        title->set_tooltip_text(displayedTabTitle(tab.title));
        title->signal_clicked().connect([this, tag] { selectBrowserTab(Sender::button(tag)); });
        title->setTabDragUpdateHandler([this](const std::string&, double x, double y) {
            updateTabDropIndicatorAtWindowPoint(x, y);
        });
        title->setTabDropHandler([this](const std::string& id, double x, double y) {
            // The strip is rebuilt by the move; let the button finish its event first.
            Glib::signal_idle().connect_once(sigc::track_obj(
                [this, id, x, y] { moveBrowserTabWithIDToWindowPoint(id, x, y); }, *this));
        });
        auto actions = Gio::SimpleActionGroup::create();
        auto lazy = Gio::SimpleAction::create_bool("lazy", tab.lazy);
        lazy->signal_activate().connect([this, tag](const Glib::VariantBase&) {
            Glib::signal_idle().connect_once(
                sigc::track_obj([this, tag] { toggleLazyTabs(Sender::menuItem(tag)); }, *this));
        });
        actions->add_action(lazy);
        title->insert_action_group("tab", actions);
        auto menu = Gio::Menu::create();
        auto section = Gio::Menu::create();
        section->append(tab.lazy ? "Turn Lazy Tabs Off" : "Turn Lazy Tabs On", "tab.lazy");
        menu->append_section("Tab Options", section);
        title->setTabContextMenu(menu);
        item->append(*title);

        Gtk::Button* close = symbolButton("window-close-symbolic", "Close tab", 10);
        close->set_name("tab-close");
        close->add_css_class("circular");
        close->set_size_request(22, 22);
        close->set_valign(Gtk::Align::CENTER);
        styleThemedBezelButton(*close, dark);
        close->add_css_class("qv-keep-tint");
        close->signal_clicked().connect([this, tag] { closeBrowserTab(Sender::button(tag)); });
        item->append(*close);

        m_tabBar->append(*item);
        if (selected) {
            m_scrollTabIdle.disconnect();
            m_scrollTabIdle = Glib::signal_idle().connect([this, item] {
                scrollTabIntoView(item);
                return false;
            });
        }
    }

    Gtk::Button* plus = symbolButton("list-add-symbolic", "New tab", 15);
    plus->set_tooltip_text("New tab (Ctrl+T)");
    plus->add_css_class("circular");
    plus->set_size_request(32, 32);
    plus->set_valign(Gtk::Align::CENTER);
    styleThemedBezelButton(*plus, dark);
    plus->add_css_class("qv-keep-tint");
    plus->signal_clicked().connect([this] { createNewTab(); });
    m_tabBar->append(*plus);

    auto* spacer = Gtk::make_managed<Gtk::Box>();
    spacer->set_hexpand(true);
    m_tabBar->append(*spacer);

    saveTabsSnapshot();
    activityTableDidChange();
}

void BrowserController::scrollTabIntoView(Gtk::Widget* item)
{
    // The item may be gone if the strip was rebuilt again before this ran.
    bool present = false;
    for (Gtk::Widget* c = m_tabBar->get_first_child(); c; c = c->get_next_sibling())
        present = present || c == item;
    if (!present)
        return;
    auto bounds = boundsIn(*item, *m_tabBar);
    if (!bounds)
        return;
    auto adjustment = m_tabScrollView->get_hadjustment();
    double visible = adjustment->get_page_size();
    double right = bounds->origin.x + bounds->size.width;
    adjustment->set_value(right < visible ? 0 : right - visible);
}

bool BrowserController::tabInsertionAtWindowPoint(double x, double y, TabID* targetID, bool* after,
    double* markerX)
{
    if (!m_tabBar || !m_window)
        return false;
    double bx, by;
    if (!m_window->translate_coordinates(*m_tabBar, x, y, bx, by))
        return false;
    if (bx < 0 || by < 0 || bx > m_tabBar->get_width() || by > m_tabBar->get_height())
        return false;
    std::vector<TabItemFrame> frames;
    for (Gtk::Widget* child = m_tabBar->get_first_child(); child; child = child->get_next_sibling()) {
        TabContextButton* button = titleButtonOf(child);
        if (!button)
            continue;
        if (auto bounds = boundsIn(*child, *m_tabBar))
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

void BrowserController::moveBrowserTabWithID(const TabID& moving, const TabID& target, bool after)
{
    std::vector<TabKey> keys;
    keys.reserve(m_browserTabs.size());
    for (const auto& tab : m_browserTabs)
        keys.push_back({ tab.id, tab.profileID });
    auto order = reorderedTabIndices(keys, currentProfile(), moving, target, after);
    if (!order)
        return;
    std::vector<BrowserTab> reordered;
    reordered.reserve(m_browserTabs.size());
    for (size_t index : *order)
        reordered.push_back(std::move(m_browserTabs[index]));
    m_browserTabs = std::move(reordered);
    refreshTabBar();
}

void BrowserController::moveBrowserTabWithIDToWindowPoint(const TabID& moving, double x, double y)
{
    TabID target;
    bool after = false;
    bool found = tabInsertionAtWindowPoint(x, y, &target, &after, nullptr);
    clearTabDropIndicator();
    if (found && !target.empty())
        moveBrowserTabWithID(moving, target, after);
}

void BrowserController::updateTabDropIndicatorAtWindowPoint(double x, double y)
{
    TabID target;
    bool after = false;
    double markerX = 0;
    if (!tabInsertionAtWindowPoint(x, y, &target, &after, &markerX)) {
        clearTabDropIndicator();
        return;
    }
    m_tabDropFadeTimer.disconnect();

    double stripHeight = m_tabBar->get_height();
    double height = dropMarkerHeight(stripHeight);
    double frameX = markerX - 3, frameY = (stripHeight - height) / 2;
    Gtk::Widget& marker = *m_tabDropIndicator;
    marker.set_size_request(6, static_cast<int>(height));
    if (!marker.get_visible()) {
        m_tabDropLayer->move(marker, frameX, frameY);
        marker.set_opacity(0);
        marker.set_visible(true);
        animateOpacity(marker, 1, 0.14);
    } else {
        double fromX, fromY;
        m_tabDropLayer->get_child_position(marker, fromX, fromY);
        Gtk::Fixed* layer = m_tabDropLayer;
        animate(marker, 0.08, [layer, &marker, fromX, fromY, frameX, frameY](double t) {
            layer->move(marker, fromX + (frameX - fromX) * t, fromY + (frameY - fromY) * t);
        });
    }

    Gtk::Widget* targetItem = nullptr;
    std::optional<size_t> gapIndex;
    size_t targetIndex = 0, count = 0;
    for (Gtk::Widget* child = m_tabBar->get_first_child(); child; child = child->get_next_sibling(), ++count) {
        if (child == m_tabDropGapView)
            gapIndex = count;
        if (TabContextButton* button = titleButtonOf(child); button && button->get_name().raw() == target) {
            targetItem = child;
            targetIndex = count;
        }
    }
    if (targetItem != m_tabDropTargetItem) {
        if (m_tabDropTargetItem)
            m_tabDropTargetItem->remove_css_class(kDropTargetClass);
        m_tabDropTargetItem = targetItem;
    }
    if (targetItem) {
        targetItem->add_css_class(kDropTargetClass);
        size_t wanted = dropGapIndex(gapIndex, targetIndex, after, count);
        if (!gapIndex || *gapIndex != wanted) {
            if (gapIndex) {
                m_tabBar->remove(*m_tabDropGapView);
                --count;
            }
            wanted = std::min(wanted, count);
            if (wanted == 0) {
                m_tabBar->prepend(*m_tabDropGapView);
            } else {
                Gtk::Widget* before = m_tabBar->get_first_child();
                for (size_t k = 1; k < wanted && before; ++k)
                    before = before->get_next_sibling();
                m_tabBar->insert_child_after(*m_tabDropGapView, *before);
            }
            m_tabDropGapView->set_opacity(0);
            animateOpacity(*m_tabDropGapView, 1, 0.11);
        }
    }
    marker.set_visible(true);
}

void BrowserController::clearTabDropIndicator()
{
    m_tabDropFadeTimer.disconnect();
    m_tabDropFadeTimer = Glib::signal_timeout().connect(
        [this] {
            finishTabDropIndicatorFade();
            return false;
        },
        160);
    if (m_tabDropIndicator)
        animateOpacity(*m_tabDropIndicator, 0, 0.14);
    if (m_tabDropTargetItem)
        m_tabDropTargetItem->remove_css_class(kDropTargetClass);
    if (m_tabDropGapView && m_tabDropGapView->get_parent() == m_tabBar)
        m_tabBar->remove(*m_tabDropGapView);
    m_tabDropTargetItem = nullptr;
}

void BrowserController::finishTabDropIndicatorFade()
{
    if (m_tabDropIndicator)
        m_tabDropIndicator->set_visible(false);
    m_tabDropFadeTimer.disconnect();
}

} // namespace qv
