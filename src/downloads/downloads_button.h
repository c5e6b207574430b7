// The browser window's Downloads button: a ring around its symbol shows how far the running
// downloads have come, and while any runs a click lists them in a popover, each with its
// progress, speed, time left and a cancel button.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qv {

class DownloadService;

class DownloadsButton : public Gtk::Button {
public:
    // showAll opens the Downloads window: a click does so when nothing runs, and so does the
    // popover's "Show All Downloads".
    DownloadsButton(DownloadService& downloads, std::function<void()> showAll);
    ~DownloadsButton() override;

    Gtk::Popover& popover() { return m_popover; }
    // The share the ring shows, when the sizes are known; the number of downloads it counts.
    std::optional<double> shownFraction() const { return m_fraction; }
    int shownRunning() const { return m_running; }
    // Keys of the listed downloads, oldest first, and the parts of one row.
    std::vector<std::string> listedKeys() const;
    Gtk::Button* cancelButton(const std::string& key) const;
    std::string statusText(const std::string& key) const;

private:
    void letGoOfPopover();
    struct Row {
        Gtk::Box* box = nullptr;
        Gtk::Label* name = nullptr;
        Gtk::ProgressBar* bar = nullptr;
        Gtk::Label* status = nullptr;
        Gtk::Button* cancel = nullptr;
        unsigned long serial = 0;
    };

    void refresh();
    Row makeRow(const std::string& key);
    void drawRing(const Cairo::RefPtr<Cairo::Context>& cr, int width, int height) const;

    DownloadService& m_downloads;
    std::function<void()> m_showAll;
    Gtk::Overlay m_overlay;
    Gtk::Image m_icon;
    Gtk::DrawingArea m_ring;
    Gtk::Popover m_popover;
    Gtk::Box m_list { Gtk::Orientation::VERTICAL, 10 };
    std::map<std::string, Row> m_rows;
    std::optional<double> m_fraction;
    int m_running = 0;
    // Where the arc of downloads of unknown size starts; it moves on at every update.
    double m_phase = 0;
    gint64 m_closedAt = 0; // monotonic microseconds
};

} // namespace qv
