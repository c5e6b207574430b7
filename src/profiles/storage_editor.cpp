// The website storage editor section of the profiles window: reading, saving, deleting,
// exporting and importing a website's localStorage through a tab of the profile.
#include "profiles/profiles_window.h"

#include "tabs/tab_service.h"
#include "app/view_helpers.h"
#include "app/web_views.h"
#include "platform/alerts.h"
#include "platform/file_panels.h"

namespace qv {

Gtk::Button* profileActionButton(
    const char* title, const char* symbol, const char* description, std::function<void()> action);

Gtk::Widget* ProfilesWindow::makeStorageSection()
{
    auto* section = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 10);
    section->set_margin_top(8);
    auto* title = Gtk::make_managed<Gtk::Label>("Local Storage");
    title->set_xalign(0);
    title->add_css_class("qv-profiles-section");
    section->append(*title);
    auto* note = Gtk::make_managed<Gtk::Label>(
        "Inspect and edit this profile\u2019s website keys. Drop JSON files to import values; "
        "export selected keys as JSON files.");
    note->set_xalign(0);
    note->set_wrap(true);
    note->add_css_class("dim-label");
    note->add_css_class("qv-storage-note");
    section->append(*note);

    m_storageWebsites
        = Gtk::StringList::create({ Glib::ustring(std::string(kChooseWebsiteTitle)) });
    m_storageWebsiteChoice = Gtk::make_managed<Gtk::DropDown>(m_storageWebsites);
    setAccessibleLabel(*m_storageWebsiteChoice, "Local storage website");
    m_storageWebsiteChoice->property_selected().signal_changed().connect([this] {
        m_storageChoiceChanged = true;
        if (!m_rebuildingWebsites)
            refreshProfileStorage();
    });
    watchStorageWebsiteChosenAgain();
    auto* websiteRow = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    m_storageWebsiteChoice->set_hexpand(true);
    websiteRow->append(*m_storageWebsiteChoice);
    websiteRow->append(*profileActionButton("Reload", "view-refresh-symbolic",
        "Read the website’s keys again", [this] { refreshProfileStorage(); }));
    section->append(*websiteRow);

    m_storageRows = Gtk::StringList::create({});
    m_storageSelection = Gtk::MultiSelection::create(m_storageRows);
    m_storageSelection->signal_selection_changed().connect([this](guint, guint) {
        if (!m_reloadingStorage)
            storageEntrySelectionDidChange();
    });
    m_storageTable = Gtk::make_managed<Gtk::ColumnView>(m_storageSelection);
    m_storageTable->set_name("profileStorageTable");
    auto column = [this](const char* title, int width, bool keyColumn) {
        auto factory = Gtk::SignalListItemFactory::create();
        factory->signal_setup().connect([](const Glib::RefPtr<Gtk::ListItem>& item) {
            auto* label = Gtk::make_managed<Gtk::Label>();
            label->set_xalign(0);
            label->set_ellipsize(Pango::EllipsizeMode::MIDDLE);
            label->add_css_class("qv-storage-cell");
            item->set_child(*label);
        });
        factory->signal_bind().connect([this, keyColumn](const Glib::RefPtr<Gtk::ListItem>& item) {
            auto* label = dynamic_cast<Gtk::Label*>(item->get_child());
            guint row = item->get_position();
            if (!label || row >= m_storageEntries.size())
                return;
            const StorageEntry& entry = m_storageEntries[row];
            const std::string& text = keyColumn ? entry.key : entry.value;
            // Only the start of a huge value is worth laying out in a cell.
            label->set_text(text.size() > 2000 ? text.substr(0, 2000) : text);
            label->set_tooltip_text(text.size() > 4000 ? text.substr(0, 4000) : text);
        });
        auto result = Gtk::ColumnViewColumn::create(title, factory);
        result->set_fixed_width(width);
        result->set_resizable(true);
        return result;
    };
    m_storageTable->append_column(column("KEY", 210, true));
    auto valueColumn = column("VALUE", 280, false);
    valueColumn->set_expand(true);
    m_storageTable->append_column(valueColumn);
    auto drop = Gtk::DropTarget::create(GDK_TYPE_FILE_LIST, Gdk::DragAction::COPY);
    drop->signal_drop().connect(
        [this](const Glib::ValueBase& value, double, double) { return acceptStorageDrop(value); },
        false);
    m_storageTable->add_controller(drop);
    auto* tableScroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    tableScroller->set_child(*m_storageTable);
    tableScroller->set_size_request(-1, 180);
    tableScroller->set_has_frame(true);
    section->append(*tableScroller);

    auto* keyTitle = Gtk::make_managed<Gtk::Label>("Storage key");
    keyTitle->set_xalign(0);
    section->append(*keyTitle);
    m_storageKeyField = Gtk::make_managed<Gtk::Entry>();
    m_storageKeyField->set_placeholder_text("Select an existing key or create one");
    setAccessibleLabel(*m_storageKeyField, "Storage key");
    section->append(*m_storageKeyField);
    m_storageValueEditor = Gtk::make_managed<Gtk::TextView>();
    m_storageValueEditor->add_css_class("qv-storage-value");
    setAccessibleLabel(*m_storageValueEditor, "Storage value");
    m_storageValueEditor->set_monospace(true);
    m_storageValueEditor->set_wrap_mode(Gtk::WrapMode::WORD_CHAR);
    m_storageValueEditor->set_left_margin(8);
    m_storageValueEditor->set_right_margin(8);
    m_storageValueEditor->set_top_margin(8);
    m_storageValueEditor->set_bottom_margin(8);
    auto* valueScroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    valueScroller->set_child(*m_storageValueEditor);
    valueScroller->set_size_request(-1, 120);
    valueScroller->set_has_frame(true);
    section->append(*valueScroller);

    auto* buttons = Gtk::make_managed<Gtk::FlowBox>();
    buttons->set_selection_mode(Gtk::SelectionMode::NONE);
    buttons->set_column_spacing(6);
    buttons->set_row_spacing(6);
    buttons->set_max_children_per_line(5);
    buttons->set_homogeneous(false);
    buttons->append(*profileActionButton("New Key", "list-add-symbolic",
        "Create a local storage key", [this] { newProfileStorageKey(); }));
    buttons->append(*profileActionButton("Save Value", "object-select-symbolic",
        "Save local storage value", [this] { saveSelectedProfileStorage(); }));
    auto* remove = profileActionButton("Delete Selected", "user-trash-symbolic",
        "Delete selected storage keys", [this] { deleteSelectedProfileStorage(); });
    remove->add_css_class("qv-danger");
    buttons->append(*remove);
    m_storageExportButton = profileActionButton("Export JSON", "document-send-symbolic",
        "Export selected storage keys", [this] { exportSelectedProfileStorage(); });
    m_storageExportButton->set_sensitive(false);
    buttons->append(*m_storageExportButton);
    buttons->append(*profileActionButton("Import Files\u2026", "document-open-symbolic",
        "Import storage keys", [this] { importProfileStorageFiles(); }));
    section->append(*buttons);

    m_storageImportRow = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    m_storageImportProgress = Gtk::make_managed<Gtk::ProgressBar>();
    m_storageImportProgress->set_hexpand(true);
    m_storageImportProgress->set_valign(Gtk::Align::CENTER);
    m_storageImportRow->append(*m_storageImportProgress);
    m_storageImportRow->append(*profileActionButton("Cancel Import", "process-stop-symbolic",
        "Cancel the import", [this] { cancelStorageImport(); }));
    m_storageImportRow->set_visible(false);
    section->append(*m_storageImportRow);

    m_storageStatus = Gtk::make_managed<Gtk::Label>(std::string(kStorageIdleStatus));
    m_storageStatus->set_xalign(0);
    m_storageStatus->set_wrap(true);
    m_storageStatus->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    m_storageStatus->add_css_class("dim-label");
    section->append(*m_storageStatus);
    return section;
}

void ProfilesWindow::setStorageStatus(const std::string& text) { m_storageStatus->set_text(text); }

std::string ProfilesWindow::storageValueText() const
{
    return m_storageValueEditor->get_buffer()->get_text().raw();
}

void ProfilesWindow::setStorageValueText(const std::string& text)
{
    m_storageValueEditor->get_buffer()->set_text(text);
}

void ProfilesWindow::resetStorageSection()
{
    auto id = selectedProfileID();
    if (!id)
        return;
    ++m_storageReadGeneration; // a read still running belongs to the old profile
    m_storageEntries.clear();
    reloadStorageTable();
    std::vector<std::string> choices = m_tabs.storageWebsitesForProfile(*id);
    m_rebuildingWebsites = true;
    std::vector<Glib::ustring> titles { Glib::ustring(std::string(kChooseWebsiteTitle)) };
    titles.insert(titles.end(), choices.begin(), choices.end());
    m_storageWebsites->splice(0, m_storageWebsites->get_n_items(), titles);
    m_storageWebsiteChoice->set_selected(0);
    m_rebuildingWebsites = false;
    setStorageStatus(storageResetStatus(choices));
    m_storageSelectedWebsite.reset();
    setStorageValueText("");
}

void ProfilesWindow::reloadStorageTable()
{
    m_reloadingStorage = true;
    std::vector<Glib::ustring> keys;
    for (const auto& entry : m_storageEntries)
        keys.emplace_back(entry.key);
    m_storageRows->splice(0, m_storageRows->get_n_items(), keys);
    m_reloadingStorage = false;
    m_storageExportButton->set_sensitive(false);
}

std::vector<size_t> ProfilesWindow::selectedStorageRows() const
{
    std::vector<size_t> rows;
    for (guint i = 0; i < m_storageRows->get_n_items(); ++i) {
        if (m_storageSelection->is_selected(i))
            rows.push_back(i);
    }
    return rows;
}

void ProfilesWindow::selectStorageRows(const std::vector<size_t>& rows)
{
    m_storageSelection->unselect_all();
    for (size_t row : rows)
        m_storageSelection->select_item(static_cast<guint>(row), false);
}

bool ProfilesWindow::chooseStorageWebsite(const std::string& origin)
{
    for (guint i = 1; i < m_storageWebsites->get_n_items(); ++i) {
        if (m_storageWebsites->get_string(i).raw() == origin) {
            if (m_storageWebsiteChoice->get_selected() == i)
                refreshProfileStorage();
            else
                m_storageWebsiteChoice->set_selected(i);
            return true;
        }
    }
    return false;
}

void ProfilesWindow::storageEntrySelectionDidChange()
{
    std::vector<size_t> rows = selectedStorageRows();
    if (rows.size() == 1 && rows[0] < m_storageEntries.size()) {
        const StorageEntry& entry = m_storageEntries[rows[0]];
        setStorageValueText(entry.value);
        m_storageKeyField->set_text(entry.key);
        m_storageEditingKey = entry.key;
    }
    m_storageExportButton->set_sensitive(!rows.empty());
}

void ProfilesWindow::runStorageScript(WebKitWebView* view, const std::string& script,
    std::function<void(bool ok, std::string text)> done)
{
    evaluateBrowserScript(
        view, script, m_lifetime.token(),
        [done = std::move(done)](ScriptAnswer answer) {
            if (answer.ok && (answer.tooLong || !storageResultWithinLimit(answer.text.size())))
                done(false, "the page returned too much data.");
            else
                done(answer.ok, std::move(answer.text));
        },
        kMaxStorageResultLength);
}

void ProfilesWindow::refreshProfileStorage()
{
    guint chosen = m_storageWebsiteChoice->get_selected();
    auto id = selectedProfileID();
    if (chosen == 0 || chosen == GTK_INVALID_LIST_POSITION
        || chosen >= m_storageWebsites->get_n_items() || !id)
        return;
    std::string origin = m_storageWebsites->get_string(chosen);
    WebKitWebView* view = m_tabs.webViewForProfile(*id, origin);
    if (!view || webViewURI(view).empty()) {
        setStorageStatus(std::string(kStorageNotLoadedStatus));
        return;
    }
    m_storageSelectedWebsite = origin;
    std::optional<std::string> editingKey = m_storageEditingKey;
    setStorageStatus(storageReadingStatus(origin));
    unsigned generation = ++m_storageReadGeneration;
    runStorageScript(view, std::string(storageReadScript()),
        [this, generation, origin, editingKey](bool ok, std::string text) {
            if (generation != m_storageReadGeneration)
                return;
            ++m_storageReadsFinished;
            if (!ok) {
                setStorageStatus(storageReadFailedStatus(text));
                return;
            }
            auto parsed = parseStorageReadResult(text);
            if (!parsed) {
                setStorageStatus(storageReadFailedStatus(parsed.error()));
                return;
            }
            m_storageEntries = parsed.value();
            reloadStorageTable();
            if (editingKey) {
                if (auto row = editingRowAfterRead(m_storageEntries, editingKey)) {
                    m_storageEditingKey = editingKey;
                    selectStorageRows({ *row });
                } else {
                    m_storageEditingKey.reset();
                    m_storageKeyField->set_text("");
                    setStorageValueText("");
                }
            }
            setStorageStatus(storageReadStatus(origin, m_storageEntries.size()));
            m_storageExportButton->set_sensitive(!selectedStorageRows().empty());
        });
}

void ProfilesWindow::newProfileStorageKey()
{
    m_storageSelection->unselect_all();
    m_storageEditingKey.reset();
    m_storageKeyField->set_text("");
    setStorageValueText("");
    m_storageKeyField->grab_focus();
    setStorageStatus(std::string(kStorageNewKeyStatus));
}

void ProfilesWindow::saveSelectedProfileStorage()
{
    auto id = selectedProfileID();
    auto request = storageSaveRequest(bool(id), m_storageSelectedWebsite,
        m_storageKeyField->get_text().raw(), storageValueText(), m_storageEditingKey);
    if (!request) {
        setStorageStatus(request.error());
        return;
    }
    std::string origin = *m_storageSelectedWebsite;
    WebKitWebView* view = m_tabs.webViewForProfile(*id, origin);
    if (!view) {
        setStorageStatus(std::string(kStorageUnreachableStatus));
        return;
    }
    std::string key = request->key;
    runStorageScript(view, request->script, [this, key, origin](bool ok, std::string text) {
        Result<StorageSaveAnswer> answer = ok ? parseStorageSaveResult(text)
                                              : Result<StorageSaveAnswer>::failure(std::move(text));
        StorageSaveOutcome outcome = storageSaveOutcome(answer, storageValueText(), key, origin);
        setStorageStatus(outcome.status);
        if (outcome.verified) {
            m_storageEditingKey = key;
            refreshProfileStorage();
        }
    });
}

void ProfilesWindow::deleteSelectedProfileStorage()
{
    auto id = selectedProfileID();
    if (!id)
        return;
    auto request
        = storageDeleteRequest(m_storageEntries, selectedStorageRows(), m_storageSelectedWebsite);
    if (!request)
        return;
    if (!runConfirmationAlert(GTK_WINDOW(gobj()), request->confirmation))
        return;
    WebKitWebView* view = m_tabs.webViewForProfile(*id, request->origin);
    if (!view)
        return;
    runStorageScript(view, request->script, [this](bool ok, std::string text) {
        if (!ok) {
            setStorageStatus(storageDeleteFailedStatus(text));
            return;
        }
        refreshProfileStorage();
    });
}

void ProfilesWindow::exportSelectedProfileStorage()
{
    std::vector<StorageEntry> entries;
    for (size_t row : selectedStorageRows()) {
        if (row < m_storageEntries.size())
            entries.push_back(m_storageEntries[row]);
    }
    if (entries.empty() || !m_storageSelectedWebsite)
        return;
    FilePanelSpec panel;
    panel.kind = FilePanelSpec::Kind::Open;
    panel.title = "Export Keys";
    panel.acceptLabel = "Export Keys";
    panel.kind = FilePanelSpec::Kind::Folder;
    Lifetime::Token alive = m_lifetime.token();
    std::string origin = *m_storageSelectedWebsite;
    runFilePanel(GTK_WINDOW(gobj()), panel,
        [this, alive, origin, entries](std::optional<std::filesystem::path> folder) {
            if (alive.expired() || !folder)
                return;
            auto exported = exportStorageEntries(*folder, origin, entries);
            setStorageStatus(exported ? exported.value() : exported.error());
        });
}

void ProfilesWindow::importProfileStorageFiles()
{
    FilePanelSpec panel;
    panel.kind = FilePanelSpec::Kind::Open;
    panel.title = "Import Storage Keys";
    panel.acceptLabel = "Import";
    panel.filterName = "JSON files";
    panel.filterSuffix = "json";
    panel.multiple = true;
    Lifetime::Token alive = m_lifetime.token();
    runFilesPanel(
        GTK_WINDOW(gobj()), panel, [this, alive](std::vector<std::filesystem::path> files) {
            if (!alive.expired() && !files.empty())
                importProfileStorageURLs(files);
        });
}

// ---- Importing files, off the main loop ----

namespace {

struct StorageImportResult {
    Lifetime::Token alive;
    ProfilesWindow* window = nullptr;
    StorageImport import;
};

} // namespace

void ProfilesWindow::importProfileStorageURLs(const std::vector<std::filesystem::path>& urls)
{
    if (m_storageImport)
        return;
    // Walking folders and reading every file can take long: a worker does it while the
    // window shows its progress and can stop it.
    m_storageImport = std::make_unique<StorageImportJob>();
    StorageImportJob& job = *m_storageImport;
    m_storageImportProgress->set_fraction(0);
    m_storageImportRow->set_visible(true);
    setStorageStatus(storageImportProgressStatus(0, 0));
    job.ticker = Glib::signal_timeout().connect(
        [this] {
            size_t total = m_storageImport->total;
            size_t read = m_storageImport->read;
            setStorageStatus(storageImportProgressStatus(read, total));
            if (total)
                m_storageImportProgress->set_fraction(static_cast<double>(read) / total);
            return true;
        },
        100);
    auto result = std::make_unique<StorageImportResult>();
    result->alive = m_lifetime.token();
    result->window = this;
    job.worker = std::thread([&job, urls, result = result.release()] {
        std::vector<std::filesystem::path> files;
        if (!job.stop)
            files = storageImportFiles(urls);
        result->import = readStorageImportFiles(files, [&job](size_t read, size_t total) {
            job.read = read;
            job.total = total;
            return !job.stop.load();
        });
        if (job.stop)
            result->import.cancelled = true;
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            +[](gpointer data) -> gboolean {
                std::unique_ptr<StorageImportResult> done(static_cast<StorageImportResult*>(data));
                if (!done->alive.expired() && done->window->m_storageImport)
                    done->window->finishStorageImport(std::move(done->import));
                return G_SOURCE_REMOVE;
            },
            result, nullptr);
    });
}

void ProfilesWindow::cancelStorageImport()
{
    if (m_storageImport)
        m_storageImport->stop = true;
}

void ProfilesWindow::finishStorageImport(StorageImport import)
{
    m_storageImport.reset();
    m_storageImportRow->set_visible(false);
    if (import.cancelled) {
        setStorageStatus(std::string(kStorageImportCancelledStatus));
        return;
    }
    auto id = selectedProfileID();
    if (!id || !m_storageSelectedWebsite || import.entries.empty()) {
        setStorageStatus(storageNothingImportedStatus(import.lastError));
        return;
    }
    std::string origin = *m_storageSelectedWebsite;
    WebKitWebView* view = m_tabs.webViewForProfile(*id, origin);
    if (!view)
        return;
    size_t count = import.entries.size();
    runStorageScript(view, storageImportScript(import.entries),
        [this, count, origin](bool ok, std::string text) {
            setStorageStatus(
                ok ? storageImportedStatus(count, origin) : storageImportFailedStatus(text));
            refreshProfileStorage();
        });
}

void ProfilesWindow::watchStorageWebsiteChosenAgain()
{
    // Choosing the website already chosen changes nothing the drop-down reports; its list
    // still tells which row the user picked, and picking the same one reads it again.
    std::vector<GtkWidget*> pending { GTK_WIDGET(m_storageWebsiteChoice->gobj()) };
    while (!pending.empty()) {
        GtkWidget* widget = pending.back();
        pending.pop_back();
        if (GTK_IS_POPOVER(widget)) {
            g_signal_connect(widget, "show",
                G_CALLBACK(+[](GtkWidget*, gpointer self) {
                    static_cast<ProfilesWindow*>(self)->m_storageChoiceChanged = false;
                }),
                this);
        }
        if (GTK_IS_LIST_VIEW(widget)) {
            g_signal_connect(widget, "activate",
                G_CALLBACK(+[](GtkListView*, guint, gpointer self) {
                    auto* window = static_cast<ProfilesWindow*>(self);
                    if (!window->m_storageChoiceChanged)
                        window->refreshProfileStorage();
                }),
                this);
            return;
        }
        for (GtkWidget* child = gtk_widget_get_first_child(widget); child;
             child = gtk_widget_get_next_sibling(child))
            pending.push_back(child);
    }
}

bool ProfilesWindow::acceptStorageDrop(const Glib::ValueBase& value)
{
    if (!m_storageSelectedWebsite || !G_VALUE_HOLDS(value.gobj(), GDK_TYPE_FILE_LIST))
        return false;
    auto* list = static_cast<GdkFileList*>(g_value_get_boxed(value.gobj()));
    std::vector<std::filesystem::path> paths;
    GSList* files = list ? gdk_file_list_get_files(list) : nullptr;
    for (GSList* item = files; item; item = item->next) {
        if (char* path = g_file_get_path(G_FILE(item->data))) {
            paths.emplace_back(path);
            g_free(path);
        }
    }
    g_slist_free(files);
    if (paths.empty())
        return false;
    importProfileStorageURLs(paths);
    return true;
}

} // namespace qv
