// The list under the address field while the user types: open tabs, bookmarks and visited
// pages, then the search; and the inline completion of a visited host.
#pragma once

#include "suggestions/suggestion_service.h"

#include <gtkmm.h>

#include <memory>
#include <string>
#include <vector>

namespace qv {

class NavigationService;

class AddressSuggestions {
public:
    // The list hangs under `anchor`, as wide as it.
    AddressSuggestions(Gtk::Entry& field, Gtk::Widget& anchor, SuggestionService& suggestions,
        NavigationService& navigation);
    ~AddressSuggestions();
    AddressSuggestions(const AddressSuggestions&) = delete;
    AddressSuggestions& operator=(const AddressSuggestions&) = delete;

    bool shown() const { return m_popover && m_popover->get_visible(); }
    // The rows shown, and the chosen one (-1: none), for tests.
    const std::vector<SuggestionRow>& rows() const { return m_rows; }
    int chosenRow() const { return m_chosen; }
    void hide();

private:
    struct RowWidgets {
        Gtk::ListBoxRow* row = nullptr;
        Gtk::Image* icon = nullptr;
        Gtk::Label* title = nullptr;
        Gtk::Label* detail = nullptr;
    };

    void textChanged();
    bool keyPressed(guint keyval, Gdk::ModifierType state);
    void showRows();
    void choose(int row);
    void openRow(int row);
    // Sets the field's text without it counting as typing.
    void setFieldText(const std::string& text);
    void makePopover();
    void dropPopover();

    Gtk::Entry& m_field;
    Gtk::Widget& m_anchor;
    SuggestionService& m_suggestions;
    NavigationService& m_navigation;
    // Made anew when the list must shrink: a popover's surface grows with its rows, never back.
    std::unique_ptr<Gtk::Popover> m_popover;
    Gtk::ListBox m_list;
    std::vector<RowWidgets> m_rowWidgets;
    std::vector<SuggestionRow> m_rows;
    // What the user typed, without any completion or chosen row's address.
    std::string m_typed;
    int m_chosen = -1;
    size_t m_shownRows = 0;
    bool m_settingText = false;
    // The next change is a deletion of a completion, which must not complete again.
    bool m_noCompletion = false;
    std::vector<sigc::connection> m_connections;
    Glib::RefPtr<Gtk::EventControllerKey> m_keys;
    Glib::RefPtr<Gtk::EventControllerFocus> m_focus;
};

} // namespace qv
