// The tab strip's widgets, its items and the drag marker and gap.
#include "tabs/tab_strip_view.h"

#include "app/browser_controller.h"
#include "app/view_helpers.h"
#include "tabs/tab_context_button.h"
#include "tabs/tab_model.h"

namespace qv {

namespace {

constexpr const char* kTabItemClass = "qv-tab-item";
constexpr const char* kDropTargetClass = "qv-drop-target";
constexpr int kTabBarHeight = 46;

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

TabStripView::TabStripView(BrowserController& controller)
    : m_controller(controller)
{
    m_bar = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
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
    m_scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    m_scroll->set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::NEVER);
    m_scroll->set_has_frame(false);
    m_scroll->set_child(*overlay);
    m_scroll->set_size_request(-1, kTabBarHeight);
    m_scroll->set_margin_start(14);
    m_scroll->set_margin_end(14);
    m_scroll->add_css_class("qv-tabscroll");
    set_transition_type(Gtk::RevealerTransitionType::SLIDE_DOWN);
    set_transition_duration(180);
    set_child(*m_scroll);
    set_reveal_child(true);
}

TabStripView::~TabStripView() { cancelPendingWork(); }

void TabStripView::cancelPendingWork()
{
    m_scrollIdle.disconnect();
    m_dropFadeTimer.disconnect();
}

Gtk::Widget* TabStripView::makeItem(size_t index, bool selected, bool dark)
{
    BrowserController& browser = m_controller;
    const BrowserTab& tab = browser.browserTabs()[index];
    long tag = static_cast<long>(index);

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
    title->signal_clicked().connect([&browser, tag] { browser.selectBrowserTab(Sender::button(tag)); });
    title->setTabDragUpdateHandler([&browser](const std::string&, double x, double y) {
        browser.updateTabDropIndicatorAtWindowPoint(x, y);
    });
    title->setTabDropHandler([&browser](const std::string& id, double x, double y) {
        // The strip is rebuilt by the move; let the button finish its event first.
        Glib::signal_idle().connect_once(sigc::track_obj(
            [&browser, id, x, y] { browser.moveBrowserTabWithIDToWindowPoint(id, x, y); },
            browser));
    });
    auto actions = Gio::SimpleActionGroup::create();
    auto lazy = Gio::SimpleAction::create_bool("lazy", tab.lazy);
    lazy->signal_activate().connect([&browser, tag](const Glib::VariantBase&) {
        Glib::signal_idle().connect_once(sigc::track_obj(
            [&browser, tag] { browser.toggleLazyTabs(Sender::menuItem(tag)); }, browser));
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
    close->signal_clicked().connect([&browser, tag] { browser.closeBrowserTab(Sender::button(tag)); });
    item->append(*close);
    return item;
}

void TabStripView::rebuild()
{
    BrowserController& browser = m_controller;
    m_dropTargetItem = nullptr;
    m_scrollIdle.disconnect();
    while (Gtk::Widget* child = m_bar->get_first_child())
        m_bar->remove(*child);

    bool dark = browser.darkMode();
    ProfileID profile = browser.currentProfile();
    const auto& tabs = browser.browserTabs();
    for (size_t i = 0; i < tabs.size(); ++i) {
        if (tabs[i].profileID != profile)
            continue;
        bool selected = tabs[i].webView && tabs[i].webView == browser.selectedWebView();
        Gtk::Widget* item = makeItem(i, selected, dark);
        m_bar->append(*item);
        if (selected) {
            m_scrollIdle.disconnect();
            m_scrollIdle = Glib::signal_idle().connect([this, item] {
                scrollIntoView(item);
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
    plus->signal_clicked().connect([&browser] { browser.createNewTab(); });
    m_bar->append(*plus);

    auto* spacer = Gtk::make_managed<Gtk::Box>();
    spacer->set_hexpand(true);
    m_bar->append(*spacer);
}

void TabStripView::scrollIntoView(Gtk::Widget* item)
{
    // The item may be gone if the strip was rebuilt again before this ran.
    bool present = false;
    for (Gtk::Widget* c = m_bar->get_first_child(); c; c = c->get_next_sibling())
        present = present || c == item;
    if (!present)
        return;
    auto bounds = boundsIn(*item, *m_bar);
    if (!bounds)
        return;
    auto adjustment = m_scroll->get_hadjustment();
    double visible = adjustment->get_page_size();
    double right = bounds->origin.x + bounds->size.width;
    adjustment->set_value(right < visible ? 0 : right - visible);
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
