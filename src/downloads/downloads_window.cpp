// The downloads window and the controller's window actions: show, open the folder, reveal a
// file and remove records.
#include "downloads/downloads_window.h"

#include "app/shell.h"
#include "downloads/download_service.h"
#include "app/view_helpers.h"
#include "platform/alerts.h"
#include "platform/file_panels.h"
#include "platform/storage_locations.h"

#include <system_error>

namespace qv {

namespace fs = std::filesystem;

namespace {

    constexpr const char* kHeaderText
        = "Open a downloaded file or remove records from this list. Files remain on your Mac.";
    constexpr const char* kFootnoteText = "Records only; downloaded files stay on your Mac.";

    constexpr const char* kDownloadsCss = R"CSS(
.qv-downloads-title { font-size: 23pt; font-weight: bold; }
.qv-downloads-panel { border-radius: 13px; border: 1px solid alpha(@borders, 0.8);
    background: alpha(@theme_base_color, 0.7); }
.qv-downloads-panel columnview { background: transparent; }
.qv-downloads-progress { border-radius: 13px; border: 1px solid alpha(@borders, 0.8);
    background: alpha(@theme_base_color, 0.7); padding: 10px 14px; }
.qv-download-file { padding: 0 2px; min-height: 0; }
.qv-download-file, .qv-download-file:hover, .qv-download-file:active {
    background: none; box-shadow: none; border: none; }
.qv-download-file label { color: mix(@theme_selected_bg_color, @theme_fg_color, 0.25); }
.qv-download-file:hover label { text-decoration: underline; }
.qv-downloads-action { padding: 6px 14px; }
.qv-downloads-remove { color: #c01c28; }
)CSS";

    // One row of the table: the record's position in the list and what the cells show.
    class DownloadRowItem : public Glib::Object {
    public:
        static Glib::RefPtr<DownloadRowItem> create(size_t row, DownloadRecord record)
        {
            auto item = Glib::make_refptr_for_instance(new DownloadRowItem());
            item->row = row;
            item->record = std::move(record);
            return item;
        }

        size_t row = 0;
        DownloadRecord record;

    protected:
        DownloadRowItem()
            : Glib::ObjectBase(typeid(DownloadRowItem))
        {
        }
    };

    Glib::RefPtr<DownloadRowItem> rowItem(const Glib::RefPtr<Gtk::ListItem>& listItem)
    {
        return std::dynamic_pointer_cast<DownloadRowItem>(listItem->get_item());
    }

    // A large button with its symbol before the title.
    Gtk::Button* actionButton(const char* title, const char* symbol, const char* accessibleLabel)
    {
        Gtk::Button* button
            = titledSymbolButton(title, symbol, accessibleLabel ? accessibleLabel : "");
        button->add_css_class("qv-downloads-action");
        return button;
    }

} // namespace

void DownloadsWindow::openDownloadsFolder()
{
    fs::path folder = downloadsDirectory();
    std::error_code ec;
    bool opened = false;
    if (!folder.empty() && fs::is_directory(folder, ec)) {
        GFile* file = g_file_new_for_path(folder.c_str());
        char* uri = g_file_get_uri(file);
        opened = g_app_info_launch_default_for_uri(uri, nullptr, nullptr);
        g_free(uri);
        g_object_unref(file);
    }
    if (!opened)
        shell().showError(std::string(kOpenDownloadsFolderMessage));
}

void DownloadsWindow::deleteSelected()
{
    std::vector<size_t> rows = selectedRows();
    if (rows.empty())
        return;
    int answer = runModalAlert(GTK_WINDOW(gobj()),
        { downloadsRemovalQuestion(rows.size()), std::string(kDownloadsRemovalInformative),
            { "Remove from List", "Cancel" } });
    if (answer != 0)
        return;
    if (auto removed = m_downloads.removeRecords(rows); !removed)
        shell().showError(removed.error());
}

void DownloadsWindow::reveal(size_t row)
{
    if (row >= m_downloads.downloadEntries().size())
        return;
    auto path = m_downloads.revealablePath(row);
    if (path)
        revealInFileViewer(path.value());
    else
        shell().showError(path.error());
}

DownloadsWindow::DownloadsWindow(Shell& shell, DownloadService& downloads)
    : AuxiliaryWindow(shell, AuxiliaryWindowKind::Downloads, "Downloads")
    , m_downloads(downloads)
{
    set_default_size(900, 580);
    set_size_request(760, 500);
    add_css_class("qv-downloads");

    addApplicationStyleSheet(kDownloadsCss);

    auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 10);
    content->set_margin(22);
    auto* title = Gtk::make_managed<Gtk::Label>("Downloads");
    title->add_css_class("qv-downloads-title");
    title->set_xalign(0);
    content->append(*title);
    content->append(*secondaryLabel(kHeaderText));

    // Running downloads, above the list they join when they finish.
    m_progressSection = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
    m_progressSection->add_css_class("qv-downloads-progress");
    auto* progressTitle = Gtk::make_managed<Gtk::Label>("In Progress");
    progressTitle->set_xalign(0);
    progressTitle->add_css_class("heading");
    m_progressSection->append(*progressTitle);
    m_progressList = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
    m_progressSection->append(*m_progressList);
    m_progressSection->set_visible(false);
    content->append(*m_progressSection);

    // Downloads that failed in this run; they are never written to the list on disk.
    m_failureSection = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
    m_failureSection->add_css_class("qv-downloads-progress");
    auto* failureTitle = Gtk::make_managed<Gtk::Label>("Failed");
    failureTitle->set_xalign(0);
    failureTitle->add_css_class("heading");
    m_failureSection->append(*failureTitle);
    auto* failureScroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    failureScroller->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    failureScroller->set_max_content_height(120);
    failureScroller->set_propagate_natural_height(true);
    m_failureList = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
    failureScroller->set_child(*m_failureList);
    m_failureSection->append(*failureScroller);
    m_failureSection->set_visible(false);
    content->append(*m_failureSection);

    content->append(*makeTable());
    content->append(*makeBottomRow());
    set_child(*content);

    m_downloads.signalProgress().connect(sigc::mem_fun(*this, &DownloadsWindow::setProgress));
    m_downloads.signalProgressEnded().connect(sigc::mem_fun(*this, &DownloadsWindow::removeProgress));
    m_downloads.signalRecordsChanged().connect(sigc::mem_fun(*this, &DownloadsWindow::reloadRecords));
    m_downloads.signalFailuresChanged().connect(
        sigc::mem_fun(*this, &DownloadsWindow::reloadFailures));
    m_downloads.announceProgress();
}

Gtk::Widget* DownloadsWindow::makeTable()
{
    m_rows = Gio::ListStore<Glib::Object>::create();
    m_selection = Gtk::MultiSelection::create(m_rows);
    m_table = Gtk::make_managed<Gtk::ColumnView>(m_selection);
    m_table->set_show_column_separators(false);
    m_table->set_show_row_separators(true);

    auto fileFactory = Gtk::SignalListItemFactory::create();
    fileFactory->signal_setup().connect([this](const Glib::RefPtr<Gtk::ListItem>& listItem) {
        auto* button = Gtk::make_managed<Gtk::Button>();
        auto* label = Gtk::make_managed<Gtk::Label>();
        label->set_xalign(0);
        label->set_ellipsize(Pango::EllipsizeMode::END);
        button->set_child(*label);
        button->set_halign(Gtk::Align::START);
        button->add_css_class("flat");
        button->add_css_class("qv-download-file");
        Gtk::ListItem* item = listItem.get();
        button->signal_clicked().connect([this, item] {
            auto row = std::dynamic_pointer_cast<DownloadRowItem>(item->get_item());
            if (row)
                reveal(row->row);
        });
        listItem->set_child(*button);
    });
    fileFactory->signal_bind().connect([](const Glib::RefPtr<Gtk::ListItem>& listItem) {
        auto row = rowItem(listItem);
        auto* button = dynamic_cast<Gtk::Button*>(listItem->get_child());
        if (!row || !button)
            return;
        if (auto* label = dynamic_cast<Gtk::Label*>(button->get_child()))
            label->set_text(row->record.name);
        button->set_tooltip_text(row->record.path);
        setAccessibleLabel(*button, row->record.name);
    });
    auto fileColumn = Gtk::ColumnViewColumn::create("Downloaded file", fileFactory);
    fileColumn->set_fixed_width(300);
    fileColumn->set_resizable(true);
    m_table->append_column(fileColumn);

    auto sourceFactory = Gtk::SignalListItemFactory::create();
    sourceFactory->signal_setup().connect([](const Glib::RefPtr<Gtk::ListItem>& listItem) {
        auto* label = Gtk::make_managed<Gtk::Label>();
        label->set_xalign(0);
        label->set_ellipsize(Pango::EllipsizeMode::MIDDLE);
        listItem->set_child(*label);
    });
    sourceFactory->signal_bind().connect([](const Glib::RefPtr<Gtk::ListItem>& listItem) {
        auto row = rowItem(listItem);
        if (auto* label = dynamic_cast<Gtk::Label*>(listItem->get_child()); row && label) {
            label->set_text(row->record.source);
            label->set_tooltip_text(row->record.source);
        }
    });
    auto sourceColumn = Gtk::ColumnViewColumn::create("Source", sourceFactory);
    sourceColumn->set_fixed_width(350);
    sourceColumn->set_expand(true);
    m_table->append_column(sourceColumn);

    auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroller->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    scroller->set_child(*m_table);
    scroller->set_vexpand(true);
    auto* panel = Gtk::make_managed<Gtk::Frame>();
    panel->add_css_class("qv-downloads-panel");
    panel->set_overflow(Gtk::Overflow::HIDDEN);
    panel->set_child(*scroller);
    panel->set_vexpand(true);
    return panel;
}

Gtk::Widget* DownloadsWindow::makeBottomRow()
{
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    m_openFolderButton = actionButton("Open Downloads Folder", "folder-symbolic", nullptr);
    m_openFolderButton->signal_clicked().connect(
        [this] { openDownloadsFolder(); });
    m_removeButton = actionButton(
        "Remove Selected from List", "user-trash-symbolic", "Remove selected download records");
    m_removeButton->add_css_class("qv-downloads-remove");
    m_removeButton->signal_clicked().connect(
        [this] { deleteSelected(); });
    auto* note = secondaryLabel(kFootnoteText);
    note->set_hexpand(true);
    row->append(*m_openFolderButton);
    row->append(*m_removeButton);
    row->append(*note);
    return row;
}

void DownloadsWindow::reloadRecords()
{
    const auto& entries = m_downloads.downloadEntries();
    std::vector<Glib::RefPtr<Glib::Object>> items;
    items.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        items.push_back(DownloadRowItem::create(i, DownloadRecord::fromJson(entries[i])));
    m_rows->splice(0, m_rows->get_n_items(), items);
    m_selection->unselect_all();
}

std::vector<size_t> DownloadsWindow::selectedRows() const
{
    std::vector<size_t> rows;
    auto selected = m_selection->get_selection();
    for (guint i = 0, n = m_rows->get_n_items(); i < n; ++i)
        if (selected->contains(i))
            rows.push_back(i);
    return rows;
}

void DownloadsWindow::setProgress(
    const std::string& key, const std::string& name, double fraction, std::uint64_t receivedBytes)
{
    auto it = m_progressRows.find(key);
    if (it == m_progressRows.end()) {
        ProgressRow row;
        row.row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
        row.name = Gtk::make_managed<Gtk::Label>();
        row.name->set_xalign(0);
        row.name->set_ellipsize(Pango::EllipsizeMode::MIDDLE);
        row.name->set_size_request(200, -1);
        row.bar = Gtk::make_managed<Gtk::ProgressBar>();
        row.bar->set_hexpand(true);
        row.bar->set_valign(Gtk::Align::CENTER);
        row.amount = Gtk::make_managed<Gtk::Label>();
        row.amount->add_css_class("dim-label");
        row.amount->add_css_class("numeric");
        row.amount->set_xalign(1);
        row.amount->set_size_request(280, -1);
        row.cancel = titledSymbolButton("Cancel", "process-stop-symbolic", "Cancel download");
        // Found again by key when clicked: the download may have ended meanwhile.
        row.cancel->signal_clicked().connect([this, key] { m_downloads.cancelDownload(key); });
        row.row->append(*row.name);
        row.row->append(*row.bar);
        row.row->append(*row.amount);
        row.row->append(*row.cancel);
        m_progressList->append(*row.row);
        it = m_progressRows.emplace(key, row).first;
        m_progressSection->set_visible(true);
    }
    it->second.name->set_text(name);
    it->second.bar->set_fraction(std::clamp(fraction, 0.0, 1.0));
    const auto& running = m_downloads.runningDownloads();
    if (auto found = running.find(key); found != running.end())
        it->second.amount->set_text(downloadStatusText(found->second.received, found->second.total,
            found->second.rate.bytesPerSecond()));
    else
        it->second.amount->set_text(downloadStatusText(receivedBytes, std::nullopt, std::nullopt));
}

void DownloadsWindow::removeProgress(const std::string& key)
{
    auto it = m_progressRows.find(key);
    if (it == m_progressRows.end())
        return;
    m_progressList->remove(*it->second.row);
    m_progressRows.erase(it);
    m_progressSection->set_visible(!m_progressRows.empty());
}

void DownloadsWindow::reloadFailures()
{
    while (Gtk::Widget* child = m_failureList->get_first_child())
        m_failureList->remove(*child);
    const auto& failures = m_downloads.failedDownloads();
    for (auto it = failures.rbegin(); it != failures.rend(); ++it) {
        auto* row = Gtk::make_managed<Gtk::Label>(it->name + " \u2014 " + it->message);
        row->set_xalign(0);
        row->set_ellipsize(Pango::EllipsizeMode::END);
        row->set_tooltip_text(it->source);
        m_failureList->append(*row);
    }
    m_failureSection->set_visible(!failures.empty());
}

std::vector<std::string> DownloadsWindow::failureTexts() const
{
    std::vector<std::string> texts;
    for (Gtk::Widget* child = m_failureList->get_first_child(); child;
         child = child->get_next_sibling())
        if (auto* label = dynamic_cast<Gtk::Label*>(child))
            texts.push_back(label->get_text().raw());
    return texts;
}

Gtk::ProgressBar* DownloadsWindow::progressBar(const std::string& key) const
{
    auto it = m_progressRows.find(key);
    return it == m_progressRows.end() ? nullptr : it->second.bar;
}

Gtk::Button* DownloadsWindow::cancelButton(const std::string& key) const
{
    auto it = m_progressRows.find(key);
    return it == m_progressRows.end() ? nullptr : it->second.cancel;
}

} // namespace qv
