// The shield's button and popover.
#include "contentblocking/content_blocking_button.h"

#include "app/view_helpers.h"
#include "contentblocking/content_blocking_service.h"

namespace qv {

ContentBlockingButton::ContentBlockingButton(ContentBlockingService& blocking, std::function<void()> gone)
    : m_blocking(blocking)
    , m_gone(std::move(gone))
{
    set_name("content-blocking");
    set_icon_name("security-high-symbolic");
    add_css_class("flat");
    add_css_class("circular");
    set_valign(Gtk::Align::CENTER);
    set_margin_end(2);
    set_focus_on_click(false);
    set_tooltip_text("Content Blocking");
    setAccessibleLabel(*this, "Content Blocking");

    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
    box->set_margin(6);
    auto* heading = Gtk::make_managed<Gtk::Label>("Content Blocking");
    heading->set_xalign(0);
    setWidgetCss(*heading, "label { font-weight: bold; }");
    box->append(*heading);
    m_host = Gtk::make_managed<Gtk::Label>();
    m_host->set_xalign(0);
    m_host->set_ellipsize(Pango::EllipsizeMode::MIDDLE);
    m_host->set_max_width_chars(36);
    box->append(*m_host);
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    auto* label = Gtk::make_managed<Gtk::Label>("Allow on this site");
    label->set_xalign(0);
    label->set_hexpand(true);
    row->append(*label);
    m_allow = Gtk::make_managed<Gtk::Switch>();
    m_allow->set_valign(Gtk::Align::CENTER);
    setAccessibleLabel(*m_allow, "Allow on this site");
    m_allow->property_active().signal_changed().connect([this] { allowToggled(); });
    row->append(*m_allow);
    box->append(*row);
    m_count = secondaryLabel("");
    box->append(*m_count);
    auto* popover = Gtk::make_managed<Gtk::Popover>();
    popover->set_child(*box);
    set_popover(*popover);

    m_stateChanged = m_blocking.signalPageStateChanged().connect([this] { refresh(); });
    refresh();
}

ContentBlockingButton::~ContentBlockingButton()
{
    m_stateChanged.disconnect();
    if (auto gone = std::exchange(m_gone, nullptr))
        gone();
}

void ContentBlockingButton::refresh()
{
    BlockingPageState page = m_blocking.selectedPageState();
    set_visible(page.shown);
    m_refreshing = true;
    m_host->set_text(page.host);
    m_allow->set_active(page.allowed);
    m_refreshing = false;
    if (page.allowed)
        m_count->set_text("Nothing is blocked on this site");
    else if (page.blocked == 0)
        m_count->set_text("Nothing blocked on this page");
    else
        m_count->set_text(std::to_string(page.blocked) + (page.blocked == 1 ? " load" : " loads")
            + " blocked on this page");
    setTooltip(*this,
        page.shown && !page.allowed && page.blocked > 0
            ? "Content Blocking: " + std::to_string(page.blocked) + " blocked"
            : "Content Blocking");
}

void ContentBlockingButton::allowToggled()
{
    if (m_refreshing)
        return;
    BlockingPageState page = m_blocking.selectedPageState();
    if (!page.shown)
        return;
    m_blocking.setSiteAllowed(page.profile, page.host, m_allow->get_active());
}

} // namespace qv
