// The tab strip's widgets: the items of the current profile's tabs inside a horizontal
// scroller, the "+" button, and the drop marker and gap of a drag.
#pragma once

#include <gtkmm.h>

#include <string>

namespace qv {

class BrowserController;

class TabStripView : public Gtk::Revealer {
public:
    explicit TabStripView(BrowserController& controller);
    ~TabStripView() override;

    // Rebuilds the items from the controller's tabs of the current profile.
    void rebuild();
    // Where a drop at a window point would insert: the target tab, before or after, and the
    // marker's x in strip coordinates. False outside the strip.
    bool insertionAtWindowPoint(double x, double y, std::string* targetID, bool* after,
        double* markerX);
    void updateDropIndicatorAtWindowPoint(double x, double y);
    void clearDropIndicator();
    void finishDropIndicatorFade();
    // Cancels pending idle and timer work; the strip is going away.
    void cancelPendingWork();

    Gtk::Box& bar() { return *m_bar; }
    Gtk::Widget& dropIndicator() { return *m_dropIndicator; }
    Gtk::Widget& dropGap() { return m_dropGap; }

private:
    void scrollIntoView(Gtk::Widget* item);
    Gtk::Widget* makeItem(size_t index, bool selected, bool dark);

    BrowserController& m_controller;
    Gtk::Box* m_bar = nullptr;
    Gtk::ScrolledWindow* m_scroll = nullptr;
    Gtk::Fixed* m_dropLayer = nullptr;
    Gtk::Widget* m_dropIndicator = nullptr;
    Gtk::Box m_dropGap; // owned here: it is out of the strip between drags
    Gtk::Widget* m_dropTargetItem = nullptr;
    sigc::connection m_dropFadeTimer;
    sigc::connection m_scrollIdle;
};

} // namespace qv
