// The extension manager's own view classes.
#pragma once

#include <gtkmm.h>

namespace qv {

// The left panel: a vertical stack filled with the window background.
class ExtensionPanelView : public Gtk::Box {
public:
    ExtensionPanelView();
};

// The list of extension rows; rows start at the top.
class ExtensionListStackView : public Gtk::Box {
public:
    ExtensionListStackView();
    void removeAllRows();
};

} // namespace qv
