// Icon buttons and their tinting.
#include "app/view_helpers.h"

#include <set>

#include <cstdio>
#include <map>

namespace qv {

namespace {

const std::map<std::string, std::string>& iconTable()
{
    static const std::map<std::string, std::string> table = {
        { "activity", "view-grid-symbolic" },
        { "download", "folder-download-symbolic" },
        { "edit-source", "edit-find-symbolic" },
        { "enter", "go-jump-symbolic" },
        { "extension", "application-x-addon-symbolic" },
        { "history", "document-open-recent-symbolic" },
        { "home", "go-home-symbolic" },
        { "script", "utilities-terminal-symbolic" },
        { "setting", "emblem-system-symbolic" },
        { "theme-switch", "weather-clear-night-symbolic" },
    };
    return table;
}

// Buttons marked this way keep their colour when a window is re-tinted (white or red ones).
constexpr const char* kKeepTintClass = "qv-keep-tint";
constexpr const char* kIconButtonClass = "qv-icon-button";

bool iconExists(const std::string& name)
{
    auto display = Gdk::Display::get_default();
    if (!display)
        return false;
    return Gtk::IconTheme::get_for_display(display)->has_icon(name);
}

} // namespace

RGB iconTintForTheme(bool dark) { return dark ? kDarkIconTint : kLightIconTint; }

std::string cssColor(const RGB& c)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "rgb(%d,%d,%d)", static_cast<int>(c.r * 255 + 0.5),
        static_cast<int>(c.g * 255 + 0.5), static_cast<int>(c.b * 255 + 0.5));
    return buffer;
}

std::string symbolForIconName(const std::string& iconName)
{
    auto it = iconTable().find(iconName);
    return it == iconTable().end() ? std::string() : it->second;
}

void addApplicationStyleSheet(const char* css)
{
    static std::set<const char*> added;
    auto display = Gdk::Display::get_default();
    if (!display || !added.insert(css).second)
        return;
    auto provider = Gtk::CssProvider::create();
    provider->load_from_data(css);
    // The display keeps the provider for the life of the process.
    Gtk::StyleContext::add_provider_for_display(
        display, provider, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void setAccessibleLabel(Gtk::Widget& widget, const std::string& label)
{
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL,
        label.c_str(), -1);
    // The focus lands on the inner button of these, which the reader otherwise names after its
    // class.
    if (GTK_IS_DROP_DOWN(widget.gobj()) || GTK_IS_MENU_BUTTON(widget.gobj())) {
        for (Gtk::Widget* child = widget.get_first_child(); child; child = child->get_next_sibling()) {
            if (GTK_IS_BUTTON(child->gobj()))
                setAccessibleLabel(*child, label);
        }
    }
}

bool setTooltip(Gtk::Widget& widget, const std::string& text)
{
    if (widget.get_tooltip_text().raw() == text)
        return false;
    widget.set_tooltip_text(text);
    return true;
}

void setTooltipAndLabel(Gtk::Widget& widget, const std::string& text)
{
    if (setTooltip(widget, text))
        setAccessibleLabel(widget, text);
}

void setIconName(Gtk::Image& image, const char* name)
{
    if (image.get_storage_type() != Gtk::Image::Type::ICON_NAME || image.get_icon_name().raw() != name)
        image.set_from_icon_name(name);
}

void setAccessibleSelected(Gtk::Widget& widget, bool selected)
{
    gtk_accessible_update_state(
        GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_STATE_SELECTED, selected ? TRUE : FALSE, -1);
}

namespace {

void setClassAccessibleRole(void* widgetClass, void* role)
{
    gtk_widget_class_set_accessible_role(
        GTK_WIDGET_CLASS(widgetClass), static_cast<GtkAccessibleRole>(GPOINTER_TO_INT(role)));
}

} // namespace

AccessibleRoleClass::AccessibleRoleClass(GtkAccessibleRole role)
    : Glib::ExtraClassInit(&setClassAccessibleRole, GINT_TO_POINTER(role))
{
}

void setWidgetCss(Gtk::Widget& widget, const std::string& css)
{
    static const char* kKey = "qv-widget-css";
    auto* old = static_cast<GtkCssProvider*>(g_object_get_data(G_OBJECT(widget.gobj()), kKey));
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkStyleContext* context = gtk_widget_get_style_context(widget.gobj());
    if (old)
        gtk_style_context_remove_provider(context, GTK_STYLE_PROVIDER(old));
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css.c_str(), -1);
    gtk_style_context_add_provider(context, GTK_STYLE_PROVIDER(provider),
        GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 10);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_object_set_data_full(G_OBJECT(widget.gobj()), kKey, provider, g_object_unref);
}

Gtk::Button* symbolButton(const std::string& symbol, const std::string& title, int pixelSize)
{
    auto* button = Gtk::make_managed<Gtk::Button>();
    auto* image = Gtk::make_managed<Gtk::Image>();
    image->set_from_icon_name(symbol);
    image->set_pixel_size(pixelSize);
    button->set_child(*image);
    button->set_tooltip_text(title);
    setAccessibleLabel(*button, title);
    button->add_css_class(kIconButtonClass);
    return button;
}

Gtk::Button* iconButton(const std::string& iconName, const std::string& title,
    std::function<void()> action, bool dark)
{
    std::string symbol = symbolForIconName(iconName);
    Gtk::Button* button;
    if (!symbol.empty() && iconExists(symbol)) {
        button = symbolButton(symbol, title, 17);
        button->set_size_request(36, 36);
    } else {
        button = Gtk::make_managed<Gtk::Button>(title);
        button->set_tooltip_text(title);
        setAccessibleLabel(*button, title);
    }
    button->set_name(iconName);
    button->add_css_class("circular");
    if (action)
        button->signal_clicked().connect(std::move(action));
    tintSymbolButton(*button, iconTintForTheme(dark));
    return button;
}

void tintSymbolButton(Gtk::Button& button, const RGB& colour)
{
    // Symbolic icons take the widget's foreground colour.
    if (dynamic_cast<Gtk::Image*>(button.get_child()))
        setWidgetCss(button, "button { color: " + cssColor(colour) + "; }");
}

namespace {

std::string bezelButtonCss(const std::string& selector, const RGB& bezel, const RGB& symbol)
{
    return selector + " { background: " + cssColor(bezel) + "; color: " + cssColor(symbol)
        + "; border: none; box-shadow: none; min-width: 0; min-height: 0; padding: 0; }";
}

RGB themedBezel(bool dark) { return dark ? RGB { 0.2, 0.24, 0.32 } : RGB { 0.9, 0.92, 0.95 }; }
RGB themedSymbol(bool dark) { return dark ? RGB { 0.9, 0.92, 0.96 } : RGB { 0.12, 0.38, 0.78 }; }

} // namespace

void styleBezelButton(Gtk::Button& button, const RGB& bezel, const RGB& symbol)
{
    setWidgetCss(button, bezelButtonCss("button", bezel, symbol));
}

void markWindowTheme(Gtk::Window& window, bool dark)
{
    if (dark)
        window.add_css_class("qv-dark");
    else
        window.remove_css_class("qv-dark");
}

void tintIconButtons(Gtk::Widget& view, const RGB& colour)
{
    if (auto* button = dynamic_cast<Gtk::Button*>(&view)) {
        if (button->has_css_class(kIconButtonClass) && !button->has_css_class(kKeepTintClass))
            tintSymbolButton(*button, colour);
    }
    for (Gtk::Widget* child = view.get_first_child(); child; child = child->get_next_sibling())
        tintIconButtons(*child, colour);
}

void styleThemedBezelButton(Gtk::Button& button, bool dark)
{
    styleBezelButton(button, themedBezel(dark), themedSymbol(dark));
}

std::string themedBezelButtonCss(const std::string& selector, bool dark)
{
    return bezelButtonCss(selector, themedBezel(dark), themedSymbol(dark));
}

void styleMainToolbarButton(Gtk::Button& button, bool dark) { styleThemedBezelButton(button, dark); }

namespace {

Gtk::Widget* roundedBox(Gtk::Widget& content, int radius, int inset, const char* cssClass)
{
    auto* card = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    card->add_css_class(cssClass);
    // Clipped, so nothing inside draws over the rounded corners.
    card->set_overflow(Gtk::Overflow::HIDDEN);
    setWidgetCss(*card,
        "box { border-radius: " + std::to_string(radius)
            + "px; background: alpha(@theme_base_color, 0.72);"
              " border: 1px solid alpha(@borders, 0.55); }");
    content.set_margin(inset);
    card->append(content);
    return card;
}

} // namespace

Gtk::Widget* roundedCardWithContent(Gtk::Widget& content)
{
    return roundedBox(content, 14, 16, "qv-card");
}

Gtk::Widget* roundedPanelWithContent(Gtk::Widget& content)
{
    return roundedBox(content, 13, 8, "qv-panel");
}

Gtk::Label* dimLabel(const std::string& text, int points)
{
    auto* label = Gtk::make_managed<Gtk::Label>(text);
    label->add_css_class("dim-label");
    label->set_xalign(0);
    if (points > 0)
        setWidgetCss(*label, "label { font-size: " + std::to_string(points) + "pt; }");
    return label;
}

Gtk::Label* secondaryLabel(const std::string& text)
{
    Gtk::Label* label = dimLabel(text);
    label->set_wrap(true);
    label->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    return label;
}

Gtk::Button* titledSymbolButton(const std::string& title, const std::string& symbol,
    const std::string& accessibleLabel)
{
    auto* button = Gtk::make_managed<Gtk::Button>();
    auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    auto* image = Gtk::make_managed<Gtk::Image>();
    image->set_from_icon_name(symbol);
    content->append(*image);
    content->append(*Gtk::make_managed<Gtk::Label>(title));
    button->set_child(*content);
    setAccessibleLabel(*button, accessibleLabel.empty() ? title : accessibleLabel);
    return button;
}


Gtk::Widget* scrollingTablePanel(Gtk::Widget& table)
{
    auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroller->set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::ALWAYS);
    scroller->set_child(table);
    scroller->set_vexpand(true);
    scroller->set_hexpand(true);
    Gtk::Widget* panel = roundedPanelWithContent(*scroller);
    panel->set_vexpand(true);
    return panel;
}

bool controlKeyHeld()
{
    auto display = Gdk::Display::get_default();
    auto seat = display ? display->get_default_seat() : nullptr;
    auto keyboard = seat ? seat->get_keyboard() : nullptr;
    return keyboard
        && (keyboard->get_modifier_state() & Gdk::ModifierType::CONTROL_MASK) == Gdk::ModifierType::CONTROL_MASK;
}

} // namespace qv
