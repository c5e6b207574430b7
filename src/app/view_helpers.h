// View helpers shared by every window: icon buttons, tinting, toolbar button styling, and the
// names and roles screen readers read.
#pragma once

#include <glibmm/extraclassinit.h>
#include <gtkmm.h>
#include <functional>
#include <string>
#include <utility>

namespace qv {

struct RGB {
    double r = 0, g = 0, b = 0;
};

inline constexpr RGB kLightIconTint { 0.12, 0.38, 0.78 };
inline constexpr RGB kDarkIconTint { 1, 1, 1 };

RGB iconTintForTheme(bool dark);
std::string cssColor(const RGB& colour);

// The symbolic icon for a short icon name, or "" when the name is not in the icon table.
std::string symbolForIconName(const std::string& iconName);

// A button from the icon table: an image button of 36 by 36 when the icon exists in the
// theme, otherwise a text button titled `title`. Identifier (widget name) is the icon name.
Gtk::Button* iconButton(const std::string& iconName, const std::string& title,
    std::function<void()> action, bool dark);

// An image button from a symbolic icon name, with tooltip and accessible label.
Gtk::Button* symbolButton(const std::string& symbol, const std::string& title, int pixelSize);

// Adds a style sheet for the whole display, once however often it is asked for.
void addApplicationStyleSheet(const char* css);

// The name a screen reader says for the control; a drop-down's or menu button's inner button
// gets it too.
void setAccessibleLabel(Gtk::Widget& widget, const std::string& label);
// A tooltip set only when its text changes, which says whether it did: setting one asks the
// display server where the pointer is, which chrome updated on every load cannot afford.
bool setTooltip(Gtk::Widget& widget, const std::string& text);
// Tooltip and accessible label together, touched only when the text changes.
void setTooltipAndLabel(Gtk::Widget& widget, const std::string& text);
// An image's named icon, set only when it changes (setting it again redraws and re-measures).
void setIconName(Gtk::Image& image, const char* name);
void setAccessibleSelected(Gtk::Widget& widget, bool selected);

// GTK reads a widget's accessible role from the widget's class unless the widget was made with
// one, which gtkmm cannot do: a widget that needs another role is made as a class of its own
// (one type name per role) whose class sets it. List it before the widget's base class.
class AccessibleRoleClass : public Glib::ExtraClassInit {
protected:
    explicit AccessibleRoleClass(GtkAccessibleRole role);
};

// A plain widget with another accessible role: WithAccessibleRole<Gtk::Box>("QvTabList",
// GTK_ACCESSIBLE_ROLE_TAB_LIST, orientation, spacing).
template <typename Base>
class WithAccessibleRole : public AccessibleRoleClass, public Base {
public:
    template <typename... Args>
    WithAccessibleRole(const char* typeName, GtkAccessibleRole role, Args&&... args)
        : Glib::ObjectBase(typeName)
        , AccessibleRoleClass(role)
        , Base(std::forward<Args>(args)...)
    {
    }
};

// Gives the widget its own small style sheet (replacing an earlier one set by this helper).
void setWidgetCss(Gtk::Widget& widget, const std::string& css);

// Marks the window with the class "qv-dark" in the dark theme, for its own style sheets.
void markWindowTheme(Gtk::Window& window, bool dark);

void tintSymbolButton(Gtk::Button& button, const RGB& colour);
// Re-tints every icon button below `view`, except those that keep their own colour.
void tintIconButtons(Gtk::Widget& view, const RGB& colour);
void styleMainToolbarButton(Gtk::Button& button, bool dark);
// The theme's bezel and symbol colours, shared by the toolbar, tab close and "+" buttons.
void styleThemedBezelButton(Gtk::Button& button, bool dark);
// The same as a style sheet rule for the buttons `selector` picks.
std::string themedBezelButtonCss(const std::string& selector, bool dark);
void styleBezelButton(Gtk::Button& button, const RGB& bezel, const RGB& symbol);

// A card with rounded corners (radius 14) on the window's content background, holding the
// content inset by 16 on every side.
Gtk::Widget* roundedCardWithContent(Gtk::Widget& content);
// The rounded panel (radius 13) that holds a window's table, inset by 8.
Gtk::Widget* roundedPanelWithContent(Gtk::Widget& content);
// A table in a scrolled, rounded panel that takes the window's spare room.
Gtk::Widget* scrollingTablePanel(Gtk::Widget& table);
// The Control key is down now (a menu item or a row chosen with it opens in the background).
bool controlKeyHeld();

// A label in the secondary text colour at the given size in points (0 keeps the default).
Gtk::Label* dimLabel(const std::string& text, int points = 0);
// A dim explanatory label that wraps, breaking long words when it must.
Gtk::Label* secondaryLabel(const std::string& text);
// A button showing a symbol before its title; the title is also its accessible label
// unless one is given.
Gtk::Button* titledSymbolButton(const std::string& title, const std::string& symbol,
    const std::string& accessibleLabel = {});

} // namespace qv
