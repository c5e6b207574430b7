// The title button of a tab item: click to select, drag to reorder, secondary click for options.
#pragma once

#include "app/view_helpers.h"

#include <gtkmm.h>
#include <functional>
#include <string>

namespace qv {

// A screen reader reads it as a tab of the strip's tab list, not as a push button.
class TabContextButton : public AccessibleRoleClass, public Gtk::Button {
public:
    using PointHandler = std::function<void(const std::string& identifier, double x, double y)>;
    // Makes the menu when it is opened, so an item costs nothing for a menu never asked for.
    using MenuMaker = std::function<Glib::RefPtr<Gio::MenuModel>(TabContextButton& button)>;

    TabContextButton();

    void setTabContextMenuMaker(MenuMaker maker) { m_menuMaker = std::move(maker); }
    void setTabDragUpdateHandler(PointHandler handler) { m_tabDragUpdateHandler = std::move(handler); }
    void setTabDropHandler(PointHandler handler) { m_tabDropHandler = std::move(handler); }
    const PointHandler& tabDragUpdateHandler() const { return m_tabDragUpdateHandler; }
    const PointHandler& tabDropHandler() const { return m_tabDropHandler; }

    // Drags shorter than this are clicks.
    static constexpr double kDragThreshold = 5;

private:
    void onDragBegin(double x, double y);
    void onDragUpdate(double dx, double dy);
    void onDragEnd(double dx, double dy);
    bool windowPoint(double localX, double localY, double& wx, double& wy);

    Glib::RefPtr<Gtk::GestureDrag> m_drag;
    Glib::RefPtr<Gtk::GestureClick> m_secondaryClick;
    MenuMaker m_menuMaker;
    Gtk::PopoverMenu* m_popover = nullptr;
    PointHandler m_tabDragUpdateHandler;
    PointHandler m_tabDropHandler;
    double m_startX = 0, m_startY = 0;
    bool m_dragging = false;
};

} // namespace qv
