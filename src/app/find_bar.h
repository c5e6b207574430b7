// The find bar under the toolbar: the text to find, the match count, previous, next, close.
#pragma once

#include <gtkmm.h>

#include <optional>
#include <string>

namespace qv {

class BrowserController;

class FindBar : public Gtk::Revealer {
public:
    explicit FindBar(BrowserController& controller);

    bool shown() const { return get_reveal_child(); }
    // Reveals the bar and puts the caret in its field with the text selected.
    void showAndFocus();
    void hideBar();
    std::string text() const { return m_entry.get_text().raw(); }
    Gtk::SearchEntry& entry() { return m_entry; }
    // "No matches", "1 match", "N matches", or nothing shown.
    void setMatchCount(std::optional<unsigned> count);
    std::string statusText() const { return m_status.get_text().raw(); }

private:
    Gtk::Box m_box { Gtk::Orientation::HORIZONTAL, 6 };
    Gtk::SearchEntry m_entry;
    Gtk::Label m_status;
};

} // namespace qv
