// The find bar: its field, the match count and its buttons, all driving the controller.
#include "app/find_bar.h"

#include "app/browser_controller.h"
#include "app/view_helpers.h"

namespace qv {

FindBar::FindBar(BrowserController& controller)
{
    set_transition_type(Gtk::RevealerTransitionType::SLIDE_DOWN);
    set_transition_duration(120);
    set_reveal_child(false);
    add_css_class("qv-find-bar");

    m_box.add_css_class("qv-find-box");
    m_box.set_margin_start(12);
    m_box.set_margin_end(12);
    m_box.set_margin_top(6);
    m_box.set_margin_bottom(4);

    // The entry is no GtkEntry, so its placeholder is set as a property.
    g_object_set(m_entry.gobj(), "placeholder-text", "Find in page", nullptr);
    m_entry.set_size_request(260, -1);
    m_entry.set_search_delay(80);
    setAccessibleLabel(m_entry, "Find in page");
    BrowserController& browser = controller;
    m_entry.signal_search_changed().connect([this, &browser] { browser.searchInPage(text()); });
    // Return finds the next match, Shift-Return the previous one.
    m_entry.signal_activate().connect([&browser] { browser.findNext(); });
    m_entry.signal_next_match().connect([&browser] { browser.findNext(); });
    m_entry.signal_previous_match().connect([&browser] { browser.findPrevious(); });
    m_entry.signal_stop_search().connect([&browser] { browser.closeFindBar(); });
    auto keys = Gtk::EventControllerKey::create();
    keys->signal_key_pressed().connect(
        [&browser](guint keyval, guint, Gdk::ModifierType state) {
            if ((keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter)
                && (state & Gdk::ModifierType::SHIFT_MASK) == Gdk::ModifierType::SHIFT_MASK) {
                browser.findPrevious();
                return true;
            }
            return false;
        },
        false);
    m_entry.add_controller(keys);
    m_box.append(m_entry);

    m_status.add_css_class("dim-label");
    m_status.set_width_chars(11);
    m_status.set_xalign(0);
    m_box.append(m_status);

    Gtk::Button* previous = symbolButton("go-up-symbolic", "Previous match", 16);
    previous->signal_clicked().connect([&browser] { browser.findPrevious(); });
    Gtk::Button* next = symbolButton("go-down-symbolic", "Next match", 16);
    next->signal_clicked().connect([&browser] { browser.findNext(); });
    auto* spacer = Gtk::make_managed<Gtk::Box>();
    spacer->set_hexpand(true);
    Gtk::Button* close = symbolButton("window-close-symbolic", "Close find bar", 16);
    close->signal_clicked().connect([&browser] { browser.closeFindBar(); });
    for (Gtk::Button* button : { previous, next, close })
        button->add_css_class("flat");
    m_box.append(*previous);
    m_box.append(*next);
    m_box.append(*spacer);
    m_box.append(*close);
    set_child(m_box);
}

void FindBar::showAndFocus()
{
    set_reveal_child(true);
    m_entry.grab_focus();
    m_entry.select_region(0, -1);
}

void FindBar::hideBar()
{
    set_reveal_child(false);
    setMatchCount(std::nullopt);
}

void FindBar::setMatchCount(std::optional<unsigned> count)
{
    if (!count)
        m_status.set_text("");
    else if (*count == 0)
        m_status.set_text("No matches");
    else if (*count == 1)
        m_status.set_text("1 match");
    else
        m_status.set_text(std::to_string(*count) + " matches");
}

} // namespace qv
