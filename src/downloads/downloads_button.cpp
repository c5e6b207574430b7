// The Downloads button of the browser window's toolbar and its popover of running downloads.
#include "downloads/downloads_button.h"

#include "app/view_helpers.h"
#include "downloads/download_service.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

    constexpr const char* kDownloadsButtonCss = R"CSS(
.qv-downloads-popover contents { padding: 12px 14px; }
.qv-downloads-popover-name { font-weight: bold; }
.qv-downloads-popover progressbar trough, .qv-downloads-popover progressbar progress {
    min-height: 4px; }
.qv-downloads-popover progressbar trough { background-color: alpha(@theme_fg_color, 0.15); }
.qv-downloads-popover progressbar progress { background-color: #3584e4; }
)CSS";

    // The share a running download has come, as its row and the ring show it.
    std::optional<double> fractionOf(const RunningDownload& running)
    {
        if (running.total && *running.total)
            return std::min(1.0, static_cast<double>(running.received) / *running.total);
        return std::nullopt;
    }

} // namespace

DownloadsButton::DownloadsButton(DownloadService& downloads, std::function<void()> showAll)
    : m_downloads(downloads)
    , m_showAll(std::move(showAll))
{
    addApplicationStyleSheet(kDownloadsButtonCss);
    set_name("download");
    add_css_class("circular");
    set_size_request(36, 36);
    set_tooltip_text("Downloads");
    setAccessibleLabel(*this, "Downloads");

    std::string symbol = symbolForIconName("download");
    m_icon.set_from_icon_name(symbol.empty() ? "folder-download-symbolic" : symbol);
    m_icon.set_pixel_size(17);
    m_overlay.set_child(m_icon);
    m_ring.set_can_target(false);
    m_ring.set_draw_func(sigc::mem_fun(*this, &DownloadsButton::drawRing));
    m_overlay.add_overlay(m_ring);
    set_child(m_overlay);

    m_popover.set_parent(*this);
    // Let go of while the button is taken down: it is finalized before its C++ side goes, and
    // GTK wants no children left by then.
    signal_destroy().connect([this] { letGoOfPopover(); });
    m_popover.add_css_class("qv-downloads-popover");
    m_popover.set_position(Gtk::PositionType::BOTTOM);
    auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 10);
    content->set_size_request(340, -1);
    auto* title = Gtk::make_managed<Gtk::Label>("Downloads");
    title->add_css_class("heading");
    title->set_xalign(0);
    content->append(*title);
    content->append(m_list);
    auto* showAllButton = Gtk::make_managed<Gtk::Button>("Show All Downloads");
    showAllButton->add_css_class("flat");
    showAllButton->set_halign(Gtk::Align::END);
    showAllButton->signal_clicked().connect([this] {
        m_popover.popdown();
        if (m_showAll)
            m_showAll();
    });
    content->append(*showAllButton);
    m_popover.set_child(*content);

    // A press on the button closes the open popover before the click arrives; that click only
    // closes it, as a menu button's would.
    m_popover.signal_closed().connect([this] { m_closedAt = g_get_monotonic_time(); });
    signal_clicked().connect([this] {
        if (g_get_monotonic_time() - m_closedAt < 300 * 1000)
            return;
        if (m_running > 0)
            m_popover.popup();
        else if (m_showAll)
            m_showAll();
    });
    m_downloads.signalRunningChanged().connect(sigc::mem_fun(*this, &DownloadsButton::refresh));
    refresh();
}

DownloadsButton::~DownloadsButton() { letGoOfPopover(); }

void DownloadsButton::letGoOfPopover()
{
    if (m_popover.get_parent())
        m_popover.unparent();
}

DownloadsButton::Row DownloadsButton::makeRow(const std::string& key)
{
    Row row;
    row.box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    auto* text = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
    text->set_hexpand(true);
    row.name = Gtk::make_managed<Gtk::Label>();
    row.name->add_css_class("qv-downloads-popover-name");
    row.name->set_xalign(0);
    row.name->set_ellipsize(Pango::EllipsizeMode::MIDDLE);
    row.name->set_max_width_chars(34);
    row.bar = Gtk::make_managed<Gtk::ProgressBar>();
    row.status = Gtk::make_managed<Gtk::Label>();
    row.status->add_css_class("dim-label");
    row.status->add_css_class("caption");
    row.status->add_css_class("numeric");
    row.status->set_xalign(0);
    row.status->set_ellipsize(Pango::EllipsizeMode::END);
    text->append(*row.name);
    text->append(*row.bar);
    text->append(*row.status);
    row.cancel = symbolButton("process-stop-symbolic", "Cancel", 16);
    row.cancel->add_css_class("circular");
    row.cancel->add_css_class("flat");
    row.cancel->set_valign(Gtk::Align::CENTER);
    // Found again by key when clicked: the row may be gone by then.
    row.cancel->signal_clicked().connect([this, key] { m_downloads.cancelDownload(key); });
    row.box->append(*text);
    row.box->append(*row.cancel);
    return row;
}

void DownloadsButton::refresh()
{
    const auto& running = m_downloads.runningDownloads();
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        if (running.count(it->first)) {
            ++it;
            continue;
        }
        m_list.remove(*it->second.box);
        it = m_rows.erase(it);
    }
    DownloadTotals totals;
    bool added = false;
    for (const auto& [key, download] : running) {
        totals.add(download.received, download.total);
        auto it = m_rows.find(key);
        if (it == m_rows.end()) {
            it = m_rows.emplace(key, makeRow(key)).first;
            it->second.serial = download.serial;
            it->second.box->set_name(key);
            m_list.append(*it->second.box);
            added = true;
        }
        Row& row = it->second;
        row.name->set_text(download.name);
        row.name->set_tooltip_text(download.source);
        if (auto fraction = fractionOf(download))
            row.bar->set_fraction(*fraction);
        else
            row.bar->pulse();
        row.status->set_text(
            downloadStatusText(download.received, download.total, download.rate.bytesPerSecond()));
        setAccessibleLabel(*row.cancel, "Cancel download of " + download.name);
    }
    if (added) {
        // Oldest first.
        std::vector<Row*> ordered;
        for (auto& [key, row] : m_rows)
            ordered.push_back(&row);
        std::sort(ordered.begin(), ordered.end(),
            [](const Row* a, const Row* b) { return a->serial < b->serial; });
        m_list.reorder_child_at_start(*ordered.front()->box);
        for (size_t i = 1; i < ordered.size(); ++i)
            m_list.reorder_child_after(*ordered[i]->box, *ordered[i - 1]->box);
    }
    m_running = totals.running;
    m_fraction = totals.fraction();
    m_phase = std::fmod(m_phase + 0.35, 2 * M_PI);
    std::string label = "Downloads";
    if (m_running > 0) {
        label += " \u2014 " + std::to_string(m_running) + " running";
        if (m_fraction)
            label += ", " + std::to_string(static_cast<int>(*m_fraction * 100)) + "%";
    }
    setTooltipAndLabel(*this, label);
    if (m_running == 0 && m_popover.get_visible())
        m_popover.popdown();
    m_ring.queue_draw();
}

void DownloadsButton::drawRing(const Cairo::RefPtr<Cairo::Context>& cr, int width, int height) const
{
    if (m_running == 0)
        return;
    double radius = std::min(width, height) / 2.0 - 2.0;
    double cx = width / 2.0, cy = height / 2.0;
    cr->set_line_width(2.5);
    // A mid grey shows as a faint track on light and dark bezels alike.
    cr->set_source_rgba(0.5, 0.5, 0.5, 0.35);
    cr->arc(cx, cy, radius, 0, 2 * M_PI);
    cr->stroke();
    // The accent blue of the theme's selected rows, in both themes.
    cr->set_source_rgb(0x35 / 255.0, 0x84 / 255.0, 0xe4 / 255.0);
    cr->set_line_cap(Cairo::Context::LineCap::ROUND);
    double start = -M_PI / 2;
    double sweep = m_fraction ? std::max(*m_fraction, 0.02) * 2 * M_PI : M_PI / 2;
    if (!m_fraction)
        start += m_phase;
    cr->arc(cx, cy, radius, start, start + sweep);
    cr->stroke();
}

std::vector<std::string> DownloadsButton::listedKeys() const
{
    std::vector<std::string> keys;
    for (const Gtk::Widget* child = m_list.get_first_child(); child;
         child = child->get_next_sibling())
        keys.push_back(child->get_name());
    return keys;
}

Gtk::Button* DownloadsButton::cancelButton(const std::string& key) const
{
    auto it = m_rows.find(key);
    return it == m_rows.end() ? nullptr : it->second.cancel;
}

std::string DownloadsButton::statusText(const std::string& key) const
{
    auto it = m_rows.find(key);
    return it == m_rows.end() ? std::string() : it->second.status->get_text().raw();
}

} // namespace qv
