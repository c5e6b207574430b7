// The address field's suggestion list and inline completion.
#include "suggestions/address_suggestions.h"

#include "app/view_helpers.h"
#include "navigation/navigation_service.h"

#include <glib.h>

namespace qv {

namespace {

    // Rows the list can show: the suggestions and the search.
    constexpr size_t kListRows = 9;

    const char* iconNameFor(SuggestionKind kind)
    {
        switch (kind) {
        case SuggestionKind::SwitchToTab:
            return "view-paged-symbolic";
        case SuggestionKind::Bookmark:
            return "starred-symbolic";
        case SuggestionKind::History:
            return "document-open-recent-symbolic";
        case SuggestionKind::Search:
            return "system-search-symbolic";
        }
        return "document-open-recent-symbolic";
    }

    int characterCount(const std::string& text)
    {
        return static_cast<int>(g_utf8_strlen(text.c_str(), static_cast<gssize>(text.size())));
    }

} // namespace

AddressSuggestions::AddressSuggestions(Gtk::Entry& field, Gtk::Widget& anchor,
    SuggestionService& suggestions, NavigationService& navigation)
    : m_field(field)
    , m_anchor(anchor)
    , m_suggestions(suggestions)
    , m_navigation(navigation)
{
    m_list.set_selection_mode(Gtk::SelectionMode::SINGLE);
    m_list.set_activate_on_single_click(true);
    m_list.set_can_focus(false);
    m_list.set_focusable(false);
    setAccessibleLabel(m_list, "Suggestions");
    for (size_t i = 0; i < kListRows; ++i) {
        RowWidgets widgets;
        widgets.row = Gtk::make_managed<Gtk::ListBoxRow>();
        widgets.row->set_focusable(false);
        auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
        box->set_margin(6);
        widgets.icon = Gtk::make_managed<Gtk::Image>();
        widgets.icon->set_pixel_size(16);
        widgets.title = Gtk::make_managed<Gtk::Label>();
        widgets.title->set_ellipsize(Pango::EllipsizeMode::END);
        widgets.title->set_xalign(0);
        widgets.title->set_hexpand(true);
        widgets.detail = Gtk::make_managed<Gtk::Label>();
        widgets.detail->set_ellipsize(Pango::EllipsizeMode::MIDDLE);
        widgets.detail->set_xalign(1);
        widgets.detail->set_max_width_chars(48);
        widgets.detail->add_css_class("dim-label");
        box->append(*widgets.icon);
        box->append(*widgets.title);
        box->append(*widgets.detail);
        widgets.row->set_child(*box);
        widgets.row->set_visible(false);
        m_list.append(*widgets.row);
        m_rowWidgets.push_back(widgets);
    }
    m_connections.push_back(m_list.signal_row_activated().connect(
        [this](Gtk::ListBoxRow* row) { openRow(row ? row->get_index() : -1); }));
    m_connections.push_back(m_field.signal_changed().connect([this] { textChanged(); }));

    // Ahead of the field's own handling, so Up, Down, Enter and Escape reach the list.
    m_keys = Gtk::EventControllerKey::create();
    m_keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    m_keys->signal_key_pressed().connect(
        [this](guint keyval, guint, Gdk::ModifierType state) { return keyPressed(keyval, state); }, false);
    m_field.add_controller(m_keys);
    m_focus = Gtk::EventControllerFocus::create();
    m_focus->signal_leave().connect([this] { hide(); });
    m_field.add_controller(m_focus);
}

AddressSuggestions::~AddressSuggestions()
{
    // The field outlives this list while the window is taken down.
    for (sigc::connection& connection : m_connections)
        connection.disconnect();
    m_field.remove_controller(m_keys);
    m_field.remove_controller(m_focus);
    dropPopover();
}

void AddressSuggestions::makePopover()
{
    m_popover = std::make_unique<Gtk::Popover>();
    m_popover->set_parent(m_anchor);
    // The field keeps the keyboard: the list never takes focus or closes on its own.
    m_popover->set_autohide(false);
    m_popover->set_has_arrow(false);
    m_popover->set_can_focus(false);
    m_popover->set_position(Gtk::PositionType::BOTTOM);
    m_popover->set_offset(0, 4);
    m_popover->add_css_class("qv-suggestions");
    m_popover->set_name("address-suggestions");
    m_popover->set_child(m_list);
    m_shownRows = 0;
}

void AddressSuggestions::dropPopover()
{
    if (!m_popover)
        return;
    m_popover->popdown();
    m_popover->unset_child();
    m_popover->unparent();
    m_popover.reset();
}

void AddressSuggestions::setFieldText(const std::string& text)
{
    m_settingText = true;
    m_navigation.showTextInAddressField(text);
    m_settingText = false;
}

void AddressSuggestions::hide()
{
    m_chosen = -1;
    m_list.unselect_all();
    if (shown())
        m_popover->popdown();
}

void AddressSuggestions::textChanged()
{
    if (m_settingText)
        return;
    // The browser set the address (a load, another tab): what was typed is gone.
    if (m_navigation.settingAddressField()) {
        m_typed.clear();
        hide();
        return;
    }
    std::string text = m_field.get_text().raw();
    bool grew = text.size() > m_typed.size() && text.compare(0, m_typed.size(), m_typed) == 0;
    bool complete = grew && !m_noCompletion;
    m_noCompletion = false;
    m_typed = text;
    m_chosen = -1;
    if (text.empty()) {
        hide();
        return;
    }
    m_rows = m_suggestions.rowsFor(text);
    showRows();
    if (!complete)
        return;
    // The field is still inserting the keystroke: the completion follows before the next frame.
    Glib::signal_idle().connect_once(sigc::track_obj(
        [this, text] {
            // Only typing at the end completes.
            if (m_field.get_text().raw() != text || m_typed != text
                || m_field.get_position() != characterCount(text))
                return;
            auto rest = m_suggestions.inlineCompletionFor(text);
            if (!rest)
                return;
            setFieldText(text + *rest);
            m_field.select_region(characterCount(text), -1);
        },
        m_list), Glib::PRIORITY_HIGH_IDLE);
}

void AddressSuggestions::showRows()
{
    m_list.unselect_all();
    for (size_t i = 0; i < m_rowWidgets.size(); ++i) {
        RowWidgets& widgets = m_rowWidgets[i];
        if (i >= m_rows.size()) {
            widgets.row->set_visible(false);
            continue;
        }
        const SuggestionRow& row = m_rows[i];
        const Suggestion& suggestion = row.suggestion;
        if (row.icon)
            widgets.icon->set(row.icon);
        else
            widgets.icon->set_from_icon_name(iconNameFor(suggestion.kind));
        std::string title = suggestion.title.empty() ? suggestion.url : suggestion.title;
        widgets.title->set_text(title);
        widgets.detail->set_text(row.detail);
        setAccessibleLabel(*widgets.row, title + ", " + row.detail);
        widgets.row->set_visible(true);
    }
    size_t shownRows = std::min(m_rows.size(), m_rowWidgets.size());
    if (m_popover && shownRows < m_shownRows)
        dropPopover();
    if (!m_popover)
        makePopover();
    m_shownRows = std::max(m_shownRows, shownRows);
    if (!m_popover->get_visible()) {
        m_popover->set_size_request(std::max(m_anchor.get_width(), 200), -1);
        m_popover->popup();
    }
}

void AddressSuggestions::choose(int row)
{
    m_chosen = row;
    if (row < 0) {
        m_list.unselect_all();
        setFieldText(m_typed);
        m_field.set_position(-1);
        return;
    }
    m_list.select_row(*m_rowWidgets[static_cast<size_t>(row)].row);
    const Suggestion& suggestion = m_rows[static_cast<size_t>(row)].suggestion;
    setFieldText(suggestion.kind == SuggestionKind::Search ? m_typed : suggestion.url);
    m_field.set_position(-1);
}

void AddressSuggestions::openRow(int row)
{
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size())
        return;
    Suggestion suggestion = m_rows[static_cast<size_t>(row)].suggestion;
    m_typed.clear();
    hide();
    m_suggestions.openRow(suggestion);
}

bool AddressSuggestions::keyPressed(guint keyval, Gdk::ModifierType state)
{
    bool shift = (state & Gdk::ModifierType::SHIFT_MASK) == Gdk::ModifierType::SHIFT_MASK;
    switch (keyval) {
    case GDK_KEY_BackSpace:
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete:
        if (keyval != GDK_KEY_BackSpace && shift && shown() && m_chosen >= 0) {
            const Suggestion& chosen = m_rows[static_cast<size_t>(m_chosen)].suggestion;
            if (chosen.kind != SuggestionKind::History)
                return true;
            m_suggestions.removeFromHistory(chosen.url);
            int keep = m_chosen;
            m_rows = m_suggestions.rowsFor(m_typed);
            showRows();
            choose(std::min(keep, static_cast<int>(m_rows.size()) - 1));
            return true;
        }
        // Deleting the completed part (or anything) never completes it again.
        m_noCompletion = true;
        return false;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down:
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up: {
        if (!shown() || m_rows.empty())
            return false;
        bool down = keyval == GDK_KEY_Down || keyval == GDK_KEY_KP_Down;
        int count = static_cast<int>(m_rows.size());
        // From the typed text down to the first row, and past the last back to the text.
        int next = down ? m_chosen + 1 : (m_chosen < 0 ? count - 1 : m_chosen - 1);
        choose(next >= count ? -1 : next);
        return true;
    }
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
        if (shown() && m_chosen >= 0) {
            openRow(m_chosen);
            return true;
        }
        m_typed.clear();
        hide();
        return false;
    case GDK_KEY_Escape:
        if (!shown())
            return false;
        setFieldText(m_typed);
        m_field.set_position(-1);
        hide();
        return true;
    default:
        return false;
    }
}

} // namespace qv
