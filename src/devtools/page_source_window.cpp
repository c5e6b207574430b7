// The page source editor window and its controller actions: listing, loading, applying, saving
// and the local website copy (download, write, preview, ZIP export).
#include "devtools/page_source_window.h"

#include "app/shell.h"
#include "navigation/navigation_service.h"
#include "tabs/tab_service.h"
#include "app/view_helpers.h"
#include "app/web_views.h"
#include "base/atomic_file.h"
#include "base/new_folder.h"
#include "devtools/local_copy_download.h"
#include "devtools/local_copy_scheme.h"
#include "platform/alerts.h"
#include "platform/archive.h"
#include "platform/file_panels.h"
#include "platform/log.h"

#include <libsoup/soup.h>

#include <atomic>
#include <cstring>
#include <functional>

namespace qv {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPlaceholder = "Select a website file, then click Load.";
// What a page hands back is read only up to these sizes. The fetch script stops at 2000000
// characters itself, but the page can replace fetch; four UTF-8 bytes a character at most.
constexpr std::size_t kMaxListingJSONBytes = 8 * 1024 * 1024;
constexpr std::size_t kMaxFetchedTextBytes = 4 * 2000000;
constexpr std::size_t kMaxEditorTextBytes = 16 * 1024 * 1024;

constexpr const char* kWindowCss = R"CSS(
.qv-source-pane { border-radius: 15px; border: 1px solid alpha(@borders, 0.8); }
.qv-source-list { background: alpha(@theme_base_color, 0.55); }
.qv-source-editor { background: @theme_base_color; }
.qv-source-editor text { background: @theme_base_color; color: @theme_fg_color; }
.qv-source-status { font-size: 10pt; }
)CSS";

std::string format(const char* pattern, const std::string& a)
{
    std::string text = pattern;
    auto at = text.find("%@");
    if (at != std::string::npos)
        text.replace(at, 2, a);
    return text;
}

std::string format(const char* pattern, const std::string& a, const std::string& b)
{
    return format(format(pattern, a).c_str(), b);
}

std::string errorText(const GError* error)
{
    return error && error->message ? error->message : "Unknown error";
}

// A string value of at most maxBytes; nothing for any other value or a longer string.
std::optional<std::string> boundedString(JSCValue* value, std::size_t maxBytes, bool* tooLong)
{
    *tooLong = false;
    if (!value || !jsc_value_is_string(value))
        return std::nullopt;
    // Its UTF-8 form is never shorter, so a longer string is refused before it is copied.
    if (scriptValueLength(value, maxBytes) > maxBytes) {
        *tooLong = true;
        return std::nullopt;
    }
    GBytes* bytes = jsc_value_to_string_as_bytes(value);
    if (!bytes)
        return std::nullopt;
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    std::optional<std::string> text;
    if (size > maxBytes)
        *tooLong = true;
    else
        text = std::string(data ? data : "", size);
    g_bytes_unref(bytes);
    return text;
}

std::vector<CookieRecord> cookieRecords(GList* cookies)
{
    std::vector<CookieRecord> records;
    for (GList* item = cookies; item; item = item->next) {
        auto* cookie = static_cast<SoupCookie*>(item->data);
        CookieRecord record;
        record.name = soup_cookie_get_name(cookie) ? soup_cookie_get_name(cookie) : "";
        record.value = soup_cookie_get_value(cookie) ? soup_cookie_get_value(cookie) : "";
        record.domain = soup_cookie_get_domain(cookie) ? soup_cookie_get_domain(cookie) : "";
        record.path = soup_cookie_get_path(cookie) ? soup_cookie_get_path(cookie) : "";
        // libsoup keeps a Domain attribute's cookie with a leading "."; without, host only.
        record.hostOnly = !record.domain.empty() && record.domain.front() != '.';
        record.secure = soup_cookie_get_secure(cookie);
        switch (soup_cookie_get_same_site_policy(cookie)) {
        case SOUP_SAME_SITE_POLICY_NONE:
            record.sameSite = CookieSameSite::None;
            break;
        case SOUP_SAME_SITE_POLICY_LAX:
            record.sameSite = CookieSameSite::Lax;
            break;
        default:
            record.sameSite = CookieSameSite::Strict;
            break;
        }
        if (GDateTime* expires = soup_cookie_get_expires(cookie))
            record.expires = static_cast<double>(g_date_time_to_unix(expires));
        records.push_back(std::move(record));
    }
    return records;
}

Gtk::Button* titledButton(const char* title, const char* symbol, const char* description,
    bool accent, std::function<void()> action)
{
    auto* button = Gtk::make_managed<Gtk::Button>();
    auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    auto* image = Gtk::make_managed<Gtk::Image>();
    image->set_from_icon_name(symbol);
    setAccessibleLabel(*image, description);
    content->append(*image);
    content->append(*Gtk::make_managed<Gtk::Label>(title));
    button->set_child(*content);
    button->set_tooltip_text(description);
    setAccessibleLabel(*button, title);
    if (accent)
        button->add_css_class("suggested-action");
    button->signal_clicked().connect(std::move(action));
    return button;
}

} // namespace

// ---- The editor seam ----

SourceEditorPane::SourceEditorPane()
{
    m_view = Gtk::make_managed<Gtk::TextView>();
    m_view->set_monospace(true);
    m_view->set_wrap_mode(Gtk::WrapMode::WORD_CHAR);
    m_view->set_left_margin(8);
    m_view->set_right_margin(8);
    m_view->set_top_margin(8);
    m_view->set_bottom_margin(8);
    m_view->add_css_class("qv-source-editor");
    setAccessibleLabel(*m_view, "Page source");
    m_view->get_buffer()->set_enable_undo(true);
    m_view->get_buffer()->set_text(kPlaceholder);
    m_view->get_buffer()->signal_changed().connect([this] {
        if (!m_settingText)
            m_edited.emit();
    });
    m_scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    m_scroll->set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::AUTOMATIC);
    m_scroll->set_has_frame(false);
    m_scroll->set_vexpand(true);
    m_scroll->set_hexpand(true);
    m_scroll->set_child(*m_view);
}

std::string SourceEditorPane::text() const { return m_view->get_buffer()->get_text(true).raw(); }

void SourceEditorPane::setText(const std::string& text)
{
    m_settingText = true;
    auto buffer = m_view->get_buffer();
    // Loading a file is not an edit the user can undo into.
    buffer->begin_irreversible_action();
    buffer->set_text(text);
    buffer->end_irreversible_action();
    m_settingText = false;
}

// ---- The build in flight ----

struct PageSourceWindow::LocalCopyBuild {
    fs::path folder;
    std::string pageURL;
    std::vector<SourceResource> resources;
    std::unique_ptr<LocalCopyDownloader> downloader;
    GCancellable* cookies = nullptr;
    std::thread writer;
    bool writing = false;

    ~LocalCopyBuild()
    {
        if (cookies) {
            g_cancellable_cancel(cookies);
            g_object_unref(cookies);
        }
        downloader.reset();
        if (writer.joinable())
            writer.join();
    }
};

// ---- The window ----

PageSourceWindow::PageSourceWindow(Shell& shell, TabService& tabs, NavigationService& navigation,
    LocalCopyScheme& localCopies)
    : AuxiliaryWindow(shell, AuxiliaryWindowKind::PageSource, "Edit Source")
    , m_tabs(tabs)
    , m_navigation(navigation)
    , m_localCopies(localCopies)
{
    set_default_size(1260, 850);
    set_size_request(980, 680);

    addApplicationStyleSheet(kWindowCss);

    // The list: one column of "[KIND] address" rows, cut in the middle.
    m_rows = Gtk::StringList::create({});
    m_selection = Gtk::SingleSelection::create(m_rows);
    m_selection->set_autoselect(false);
    m_selection->set_can_unselect(true);
    m_selection->signal_selection_changed().connect([this](guint, guint) { selectionChanged(); });
    auto factory = Gtk::SignalListItemFactory::create();
    factory->signal_setup().connect([](const Glib::RefPtr<Gtk::ListItem>& item) {
        auto* label = Gtk::make_managed<Gtk::Label>();
        label->set_xalign(0);
        label->set_ellipsize(Pango::EllipsizeMode::MIDDLE);
        item->set_child(*label);
    });
    factory->signal_bind().connect([](const Glib::RefPtr<Gtk::ListItem>& item) {
        auto row = std::dynamic_pointer_cast<Gtk::StringObject>(item->get_item());
        if (auto* label = dynamic_cast<Gtk::Label*>(item->get_child()); label && row)
            label->set_text(row->get_string());
    });
    auto column = Gtk::ColumnViewColumn::create("Website files (HTML, CSS, JS and text)", factory);
    column->set_expand(true);
    m_table = Gtk::make_managed<Gtk::ColumnView>(m_selection);
    m_table->append_column(column);
    m_table->add_css_class("qv-source-list");
    m_table->signal_activate().connect([this](guint position) {
        if (position < m_sourceResources.size())
            m_selected = m_sourceResources[position];
        loadSelectedSource();
    });
    auto* listScroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    // No horizontal scrolling: long addresses are cut in the middle instead.
    listScroll->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    listScroll->set_has_frame(false);
    listScroll->set_vexpand(true);
    listScroll->set_margin(8);
    listScroll->set_child(*m_table);
    auto* left = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    left->add_css_class("qv-source-pane");
    left->set_overflow(Gtk::Overflow::HIDDEN);
    left->set_size_request(250, -1);
    left->append(*listScroll);

    auto* right = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
    right->add_css_class("qv-source-pane");
    right->set_size_request(560, -1);
    auto* inner = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
    inner->set_margin(14);
    inner->set_vexpand(true);
    inner->append(m_editor.widget());
    inner->append(*makeButtons());
    auto* progressRow = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    m_progress = Gtk::make_managed<Gtk::ProgressBar>();
    m_progress->set_hexpand(true);
    m_progress->set_valign(Gtk::Align::CENTER);
    m_cancelBuild = Gtk::make_managed<Gtk::Button>("Cancel");
    setAccessibleLabel(*m_cancelBuild, "Cancel the local copy");
    m_cancelBuild->signal_clicked().connect([this] {
        if (m_export)
            cancelZipExport();
        else
            cancelLocalSourceCopy();
    });
    progressRow->append(*m_progress);
    progressRow->append(*m_cancelBuild);
    progressRow->set_visible(false);
    progressRow->set_name("local-copy-progress");
    inner->append(*progressRow);
    m_status = Gtk::make_managed<Gtk::Label>("Not loaded");
    m_status->set_xalign(0);
    m_status->set_ellipsize(Pango::EllipsizeMode::END);
    m_status->add_css_class("qv-source-status");
    m_status->set_selectable(true);
    inner->append(*m_status);
    right->append(*inner);

    auto* split = Gtk::make_managed<Gtk::Paned>(Gtk::Orientation::HORIZONTAL);
    split->set_wide_handle(false);
    split->set_start_child(*left);
    split->set_end_child(*right);
    split->set_shrink_start_child(false);
    split->set_shrink_end_child(false);
    split->set_resize_start_child(false);
    split->set_position(300);
    split->set_margin(16);
    set_child(*split);

    m_editor.signalEdited().connect([this] { editorEdited(); });
}

PageSourceWindow::~PageSourceWindow()
{
    m_lifetime.end();
    m_build.reset();
    m_export.reset();
}

Gtk::Widget* PageSourceWindow::makeButtons()
{
    auto* rows = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
    rows->set_halign(Gtk::Align::START);
    auto* first = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    first->append(*titledButton("Refresh Files", "view-refresh-symbolic", "Refresh website files",
        false, [this] { refreshPageResources(); }));
    first->append(*titledButton("Load Selected", "document-open-symbolic", "Load selected source",
        false, [this] { loadSelectedSource(); }));
    first->append(*titledButton("Apply to Page", "media-playback-start-symbolic",
        "Apply source changes to the page", true, [this] { applyPageSource(); }));
    auto* second = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    m_buildButton = titledButton("Build Local Copy\u2026", "folder-download-symbolic",
        "Build a local website copy", true, [this] { buildLocalSourceCopy(); });
    second->append(*m_buildButton);
    second->append(*titledButton("Save Changes", "document-save-symbolic",
        "Save edits to the local website copy", false, [this] { saveLocalSourceChanges(); }));
    second->append(*titledButton("Preview Local", "view-reveal-symbolic",
        "Preview the local website copy", false, [this] { previewLocalSourceCopy(); }));
    second->append(*titledButton("Export ZIP\u2026", "package-x-generic-symbolic",
        "Export the complete local website copy as ZIP", false,
        [this] { exportLocalSourceCopyAsZip(); }));
    Gtk::Button* saveAs = iconButton(
        "download", "Save as\u2026", [this] { savePageSource(); }, shell().darkMode());
    saveAs->set_tooltip_text("Save as\u2026");
    second->append(*saveAs);
    rows->append(*first);
    rows->append(*second);
    return rows;
}

WebKitWebView* PageSourceWindow::webView() const { return m_tabs.selectedWebView(); }

std::string PageSourceWindow::shownFileURL() const
{
    return m_localCopies.lastingAddress(webViewURI(webView()));
}

void PageSourceWindow::setStatus(const std::string& text) { m_status->set_text(text); }

std::string PageSourceWindow::status() const { return m_status->get_text().raw(); }

bool PageSourceWindow::buildingLocalCopy() const { return m_build != nullptr; }

std::size_t PageSourceWindow::localCopyTransfersInFlight() const
{
    return m_build && m_build->downloader ? m_build->downloader->activeTransfers() : 0;
}

void PageSourceWindow::reloadTable()
{
    m_reloadingTable = true;
    std::vector<Glib::ustring> labels;
    labels.reserve(m_sourceResources.size());
    for (const SourceResource& resource : m_sourceResources)
        labels.emplace_back(sourceResourceRowLabel(resource));
    m_rows->splice(0, m_rows->get_n_items(), labels);
    m_selection->unselect_all();
    // Keep the selected record's row selected when it is still listed.
    if (m_selected) {
        for (std::size_t i = 0; i < m_sourceResources.size(); ++i) {
            if (m_sourceResources[i].url == m_selected->url) {
                m_selection->set_selected(static_cast<guint>(i));
                break;
            }
        }
    }
    m_reloadingTable = false;
}

void PageSourceWindow::selectionChanged()
{
    if (m_reloadingTable)
        return;
    guint position = m_selection->get_selected();
    if (position == GTK_INVALID_LIST_POSITION || position >= m_sourceResources.size()) {
        m_selected.reset();
        return;
    }
    m_selected = m_sourceResources[position];
    setStatus(format("Selected %@. Click Load Selected to read it.", m_selected->url));
}

void PageSourceWindow::selectSourceRow(std::size_t row)
{
    if (row < m_sourceResources.size())
        m_selection->set_selected(static_cast<guint>(row));
    else
        m_selection->unselect_all();
}

void PageSourceWindow::restoreSelectionToLoaded()
{
    if (!m_editorState.loaded)
        return;
    for (std::size_t i = 0; i < m_sourceResources.size(); ++i) {
        if (m_sourceResources[i].url == m_editorState.loaded->url) {
            m_reloadingTable = true;
            m_selection->set_selected(static_cast<guint>(i));
            m_reloadingTable = false;
            m_selected = m_sourceResources[i];
            return;
        }
    }
}

void PageSourceWindow::editorEdited()
{
    if (auto text = markSourceEdited(m_editorState))
        setStatus(*text);
}

bool PageSourceWindow::localCopyServesListedPage() const
{
    return m_workspace && localCopyServesPage(m_workspacePageURL, m_sourceEditorURL);
}

bool PageSourceWindow::showsListedPage() const
{
    return showsSourcePage(shownFileURL(), m_sourceEditorURL, m_workspace, m_workspacePageURL);
}

void PageSourceWindow::refreshPageResources()
{
    WebKitWebView* view = webView();
    std::string uri = webViewURI(view);
    if (isLocalPreviewURL(shownFileURL(), m_workspace)) {
        setStatus("This is the local preview. The resource list still points to the original "
                  "website; use Load Selected to edit local files.");
        return;
    }
    if (uri.empty()) {
        setStatus("Open a page before listing its files.");
        return;
    }
    m_sourceEditorURL = uri;
    m_selected.reset();
    m_sourceResources.clear();
    reloadTable();
    setStatus("Finding page files\u2026");
    std::uint64_t generation = ++m_generation;
    runPageScript(view, sourceResourceListingScript(), m_lifetime.token(),
        [this, generation](JSCValue* value, const GError* error) {
            if (m_generation != generation)
                return;
            if (webViewURI(webView()) != m_sourceEditorURL) {
                setStatus("The page changed while listing files. Refresh the list.");
                return;
            }
            if (error) {
                setStatus("Could not list page files: " + errorText(error));
                return;
            }
            std::optional<std::vector<SourceResource>> list;
            if (value) {
                // The page decides how big its answer is: measure before parsing.
                char* json = jsc_value_to_json(value, 0);
                if (json && std::strlen(json) <= kMaxListingJSONBytes)
                    list = sourceResourcesFromJSONText(json);
                g_free(json);
            }
            if (!list) {
                setStatus("The page did not return a file list.");
                return;
            }
            m_sourceResources = std::move(*list);
            reloadTable();
            setStatus("Found " + std::to_string(m_sourceResources.size())
                + " files. Select one to load; cross-origin access may be blocked.");
        });
}

void PageSourceWindow::showEditorText(const SourceResource& resource, const std::string& text)
{
    m_editor.setText(text);
    markSourceLoaded(m_editorState, resource);
}

void PageSourceWindow::loadSelectedSource()
{
    if (!m_selected) {
        guint position = m_selection->get_selected();
        if (position != GTK_INVALID_LIST_POSITION && position < m_sourceResources.size())
            m_selected = m_sourceResources[position];
    }
    if (!m_selected || m_sourceEditorURL.empty()) {
        setStatus("Select a file from the resource list.");
        return;
    }
    if (!showsListedPage()) {
        setStatus("The page changed. Refresh the file list before loading source.");
        return;
    }
    SourceResource next = *m_selected;
    switch (sourceLoadStep(m_editorState, next)) {
    case SourceLoadStep::AskToSaveOrDiscard:
        if (!unsavedEditsSettled("Save your local edits before opening another file?")) {
            restoreSelectionToLoaded();
            return;
        }
        break;
    case SourceLoadStep::RefuseSameDirty:
        setStatus("This file has unsaved edits. Save Changes or choose another file.");
        return;
    case SourceLoadStep::Load:
        break;
    }
    loadListedResource(next);
}

bool PageSourceWindow::unsavedEditsSettled(const char* question, bool* discarded)
{
    if (!m_editorState.dirty || !m_editorState.loaded)
        return true;
    AlertSpec alert { question, m_editorState.loaded->url,
        { "Save Changes", "Discard Changes", "Cancel" } };
    int answer = runModalAlert(gobj(), alert);
    if (answer == 0) {
        saveLocalSourceChanges();
        return !m_editorState.dirty;
    }
    if (answer == 1) {
        m_editorState.dirty = false;
        if (discarded)
            *discarded = true;
        return true;
    }
    return false;
}

bool PageSourceWindow::mayCloseNow()
{
    bool discarded = false;
    if (!unsavedEditsSettled("Save your local edits before closing?", &discarded))
        return false;
    // Discarded edits do not come back when the window is shown again.
    if (discarded) {
        m_editor.setText(kPlaceholder);
        m_editorState = {};
        setStatus("Not loaded");
    }
    return true;
}

void PageSourceWindow::loadListedResource(const SourceResource& resource)
{
    if (localCopyServesListedPage()) {
        auto file = localFileForSourceURL(resource.url, m_workspace, m_sourceEditorURL);
        if (file) {
            FileRead read = readWholeFile(*file, kMaxEditorTextBytes);
            if (read.status == ReadStatus::Ok
                && g_utf8_validate(
                    read.contents.data(), static_cast<gssize>(read.contents.size()), nullptr)) {
                showEditorText(resource, read.contents);
                setStatus("Loaded local copy \u00B7 " + file->string());
                return;
            }
        }
    }
    std::uint64_t generation = ++m_generation;
    if (resource.kind == "html") {
        setStatus("Loading current HTML\u2026");
        runPageScript(webView(), sourceLiveHTMLScript(), m_lifetime.token(),
            [this, generation, resource](JSCValue* value, const GError* error) {
                if (m_generation != generation)
                    return;
                if (error) {
                    setStatus("Could not load HTML: " + errorText(error));
                    return;
                }
                bool tooLong = false;
                auto html = boundedString(value, kMaxEditorTextBytes, &tooLong);
                if (tooLong) {
                    setStatus("The page's HTML exceeds the 16 MB editor limit.");
                    return;
                }
                if (!html) {
                    setStatus("The page has no readable HTML.");
                    return;
                }
                showEditorText(resource, *html);
                setStatus("Loaded live HTML. Large pages may take longer to serialize.");
            });
        return;
    }
    setStatus("Loading selected text file\u2026");
    runPageScript(webView(), sourceResourceFetchScript(resource.url), m_lifetime.token(),
        [this, generation, resource](JSCValue* value, const GError* error) {
            if (m_generation != generation)
                return;
            if (webViewURI(webView()) != m_sourceEditorURL) {
                setStatus("The page changed while loading. Refresh the file list.");
                return;
            }
            const char* cors = "Could not read %@. The server may block cross-origin access "
                               "(CORS): %@";
            if (error) {
                setStatus(format(cors, resource.url, errorText(error)));
                return;
            }
            bool tooLong = false;
            auto text = boundedString(value, kMaxFetchedTextBytes, &tooLong);
            if (tooLong) {
                setStatus(format(cors, resource.url, "File exceeds the 2 MB editor limit"));
                return;
            }
            if (!text) {
                setStatus("The resource did not return text.");
                return;
            }
            showEditorText(resource, *text);
            glong characters = g_utf8_strlen(text->data(), static_cast<gssize>(text->size()));
            setStatus(
                format("Loaded %@ (%@ characters)", resource.url, std::to_string(characters)));
        });
}

void PageSourceWindow::applyPageSource()
{
    WebKitWebView* view = webView();
    if (webViewURI(view).empty() || m_sourceEditorURL.empty() || !m_editorState.loaded) {
        setStatus("Select and load a file before applying edits.");
        return;
    }
    if (!showsListedPage()) {
        setStatus("The page changed. Load its source again before applying edits.");
        return;
    }
    // The text goes in with the kind of the file it was loaded from, whatever row is selected.
    Result<PageScript> script = applyPageSourceScript(m_editorState, m_editor.text());
    if (!script) {
        setStatus(script.error());
        return;
    }
    setStatus("Applying source\u2026");
    runPageScript(view, *script, m_lifetime.token(), [this](JSCValue*, const GError* error) {
        if (error)
            setStatus("Could not apply source: " + errorText(error));
        else
            setStatus("Applied to this page session. Server files are unchanged; "
                      "reload may discard the override.");
    });
}

void PageSourceWindow::savePageSource()
{
    FilePanelSpec panel;
    panel.kind = FilePanelSpec::Kind::Save;
    panel.title = "Save Source";
    panel.acceptLabel = "Save";
    panel.suggestedName = "page.html";
    panel.filterName = "HTML documents";
    panel.filterSuffix = "html";
    Lifetime::Token self = m_lifetime.token();
    runFilePanel(gobj(), panel, [this, self](std::optional<fs::path> file) {
        if (!file || self.expired())
            return;
        Result<Done> written = writeFileAtomically(*file, m_editor.text());
        if (written)
            setStatus("Saved source to " + file->string());
        else
            setStatus("Could not save source: " + written.error());
    });
}

// ---- The local copy ----

void PageSourceWindow::setBuildControls(bool building)
{
    m_progress->get_parent()->set_visible(building);
    m_buildButton->set_sensitive(!building);
    m_cancelBuild->set_sensitive(building);
    m_progress->set_fraction(0);
}

void PageSourceWindow::buildLocalSourceCopy()
{
    if (m_export) {
        setStatus("Wait for the local copy or the ZIP in progress, or cancel it.");
        return;
    }
    if (m_build) {
        setStatus("A local copy is being built. Cancel it before building another.");
        return;
    }
    if (auto refusal
        = localCopyBuildRefusal(!m_sourceEditorURL.empty(), m_sourceResources.size())) {
        setStatus(*refusal);
        return;
    }
    FilePanelSpec panel;
    panel.kind = FilePanelSpec::Kind::Folder;
    panel.title = "Choose a folder for this website\u2019s editable local copy.";
    panel.acceptLabel = "Create Local Copy";
    Lifetime::Token self = m_lifetime.token();
    runFilePanel(gobj(), panel, [this, self](std::optional<fs::path> folder) {
        if (folder && !self.expired())
            startLocalCopy(*folder);
    });
}

void PageSourceWindow::startLocalCopy(const fs::path& folder)
{
    if (m_build)
        return;
    m_build = std::make_unique<LocalCopyBuild>();
    m_build->folder = folder;
    m_build->pageURL = m_sourceEditorURL;
    m_build->resources = m_sourceResources;
    setStatus("Preparing website files\u2026");
    setBuildControls(true);

    WebKitWebView* view = webView();
    std::string userAgent;
    if (view) {
        if (const char* agent = webkit_settings_get_user_agent(webkit_web_view_get_settings(view)))
            userAgent = agent;
    }
    auto begin = [this, self = m_lifetime.token(), userAgent](
                     LocalCopyBuild* build, std::vector<CookieRecord> cookies) {
        LocalCopyRequestHeaders headers { userAgent, build->pageURL, std::move(cookies) };
        build->downloader = std::make_unique<LocalCopyDownloader>(
            build->resources, std::move(headers),
            [this, self](const LocalCopyDownloads& downloads) {
                if (self.expired())
                    return;
                setStatus(downloads.progressStatus());
                std::size_t total = downloads.transfers().size();
                m_progress->set_fraction(
                    total ? static_cast<double>(downloads.completedCount()) / total : 1.0);
            },
            [this, self](LocalCopyDownloads downloads) {
                if (!self.expired())
                    finishDownloads(std::move(downloads));
            });
        build->downloader->start();
    };

    WebKitNetworkSession* session = view ? webkit_web_view_get_network_session(view) : nullptr;
    WebKitCookieManager* manager
        = session ? webkit_network_session_get_cookie_manager(session) : nullptr;
    if (!manager) {
        begin(m_build.get(), {});
        return;
    }
    struct CookieWait {
        Lifetime::Token self;
        PageSourceWindow* window;
        LocalCopyBuild* build;
        std::function<void(LocalCopyBuild*, std::vector<CookieRecord>)> begin;
    };
    m_build->cookies = g_cancellable_new();
    AsyncCall<CookieWait> wait(CookieWait { m_lifetime.token(), this, m_build.get(), begin });
    webkit_cookie_manager_get_all_cookies(
        manager, m_build->cookies,
        +[](GObject* object, GAsyncResult* result, gpointer data) {
            auto wait = AsyncCall<CookieWait>::take(data);
            GError* error = nullptr;
            GList* cookies = webkit_cookie_manager_get_all_cookies_finish(
                WEBKIT_COOKIE_MANAGER(object), result, &error);
            std::vector<CookieRecord> records = cookieRecords(cookies);
            g_list_free_full(cookies, reinterpret_cast<GDestroyNotify>(soup_cookie_free));
            bool cancelled = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
            if (error)
                g_error_free(error);
            if (cancelled || wait->self.expired() || wait->window->m_build.get() != wait->build)
                return;
            wait->begin(wait->build, std::move(records));
        },
        wait.release());
}

void PageSourceWindow::cancelLocalSourceCopy()
{
    if (!m_build || m_build->writing)
        return;
    m_build.reset();
    setBuildControls(false);
    setStatus("Local copy cancelled. No files were written.");
}

namespace {

struct WriteResult {
    Lifetime::Token self;
    PageSourceWindow* window = nullptr;
    std::filesystem::path folder; // the copy's own folder, when it could be made
    std::string folderError;
    LocalCopyFailures downloads;
    LocalCopyFailures writes;
};

} // namespace

void PageSourceWindow::finishDownloads(LocalCopyDownloads downloads)
{
    LocalCopyBuild& build = *m_build;
    build.writing = true;
    m_cancelBuild->set_sensitive(false);
    m_progress->set_fraction(1);
    setStatus("Writing local copy\u2026");
    // Link rewriting and writing happen off the main loop; the window stays responsive.
    auto result = std::make_unique<WriteResult>();
    result->self = m_lifetime.token();
    result->window = this;
    result->downloads = downloads.failures();
    // The listed files and what they named on the way.
    build.resources = downloads.transfers();
    build.writer = std::thread(
        [resources = build.resources, bodies = downloads.bodies(), page = build.pageURL,
            folder = build.folder, key = m_localCopies.markKey(), result = result.release()] {
              // The copy gets a new folder of its own, so nothing the user keeps in the chosen
              // one can be replaced or reached through a link there.
              Result<NewFolder> made = NewFolder::createInside(folder, localCopyFolderName(page));
              if (made) {
                  NewFolder& copy = made.value();
                  result->folder = copy.path();
                  std::vector<LocalCopyFile> files
                      = localCopyFiles(resources, bodies, page, copy.path());
                  result->writes = writeLocalCopyFiles(files, copy);
                  // Marked last, so that a copy opens through the copy scheme once complete.
                  std::error_code ec;
                  fs::path real = fs::canonical(copy.path(), ec);
                  auto marked = ec || key.empty()
                      ? Result<Done>::failure("Write failed")
                      : copy.writeFile(
                          { std::string(kLocalCopyMarkName) }, localCopyMarkText(key, real));
                  if (!marked)
                      result->writes.add(std::string(kLocalCopyMarkName) + " — " + marked.error());
              } else {
                  result->folderError = made.error();
              }
              // Always queued on the main loop, never run here (unlike g_main_context_invoke).
              g_idle_add_full(
                  G_PRIORITY_DEFAULT,
                  +[](gpointer data) -> gboolean {
                      std::unique_ptr<WriteResult> done(static_cast<WriteResult*>(data));
                      if (done->self.expired() || !done->window->m_build)
                          return G_SOURCE_REMOVE;
                      PageSourceWindow& window = *done->window;
                      std::unique_ptr<LocalCopyBuild> build = std::move(window.m_build);
                      build->writer.join();
                      if (!done->folderError.empty()) {
                          window.setBuildControls(false);
                          window.setStatus(
                              localCopyFolderFailureStatus(build->folder, done->folderError));
                          return G_SOURCE_REMOVE;
                      }
                      // Files found through the page's own ones join its list.
                      if (window.m_sourceEditorURL == build->pageURL)
                          window.m_sourceResources = build->resources;
                      window.finishLocalCopy(
                          done->folder, build->pageURL, done->downloads, done->writes);
                      return G_SOURCE_REMOVE;
                  },
                  result, nullptr);
          });
}

void PageSourceWindow::finishLocalCopy(const fs::path& folder, const std::string& pageURL,
    const LocalCopyFailures& downloadFailures, const LocalCopyFailures& writeFailures)
{
    m_workspace = folder;
    m_workspacePageURL = pageURL;
    setBuildControls(false);
    reloadTable();
    fs::path mainFile = localFileForSourceURL(pageURL, folder, pageURL).value_or(folder);
    setStatus(localCopyFinishedStatus(folder, downloadFailures, writeFailures, mainFile));
    if (auto line = localCopySkippedFilesLog(downloadFailures, writeFailures))
        logLine(*line);
}

void PageSourceWindow::saveLocalSourceChanges()
{
    if (!m_workspace || !m_selected) {
        setStatus("Build a local copy and select a source file before saving edits.");
        return;
    }
    if (!m_editorState.loaded) {
        setStatus("Load a website file into the editor before saving.");
        return;
    }
    std::optional<fs::path> file;
    if (localCopyServesListedPage())
        file = localFileForSourceURL(m_editorState.loaded->url, m_workspace, m_sourceEditorURL);
    if (!file) {
        setStatus("Could not map this web file into the local workspace.");
        return;
    }
    std::error_code ec;
    fs::create_directories(file->parent_path(), ec);
    if (ec) {
        setStatus("Could not save local source: " + ec.message());
        return;
    }
    Result<Done> written = writeFileAtomically(*file, m_editor.text());
    if (!written) {
        setStatus("Could not save local source: " + written.error());
        return;
    }
    m_editorState.dirty = false;
    setStatus("Saved local copy \u00B7 " + file->string());
}

void PageSourceWindow::previewLocalSourceCopy()
{
    if (!m_workspace || m_sourceEditorURL.empty() || !localCopyServesListedPage()) {
        setStatus("Build a local copy first.");
        return;
    }
    if (m_editorState.dirty) {
        setStatus("Save or discard the editor changes before previewing the local copy.");
        return;
    }
    auto file = localFileForSourceURL(m_sourceEditorURL, m_workspace, m_sourceEditorURL);
    std::error_code ec;
    WebKitWebView* view = webView();
    if (!file || !fs::is_regular_file(*file, ec) || !view) {
        setStatus("The local page file is missing. Build the local copy again.");
        return;
    }
    char* uri = g_filename_to_uri(file->c_str(), nullptr, nullptr);
    if (!uri) {
        setStatus("The local page file is missing. Build the local copy again.");
        return;
    }
    // Inside its marked folder the page runs from the copy scheme, modules included.
    std::string address = m_localCopies.addressForFileURL(uri).value_or(uri);
    g_free(uri);
    webkit_web_view_load_uri(view, address.c_str());
    m_navigation.setAddressFieldText(address);
    setStatus("Previewing local copy \u00B7 " + file->string());
}

void PageSourceWindow::exportLocalSourceCopyAsZip()
{
    if (m_build || m_export) {
        setStatus("Wait for the local copy or the ZIP in progress, or cancel it.");
        return;
    }
    if (!m_workspace) {
        setStatus("Build a local copy before exporting a ZIP.");
        return;
    }
    if (m_editorState.dirty) {
        saveLocalSourceChanges();
        if (m_editorState.dirty)
            return;
    }
    FilePanelSpec panel;
    panel.kind = FilePanelSpec::Kind::Save;
    panel.title = "Export Website ZIP";
    panel.acceptLabel = "Export Website ZIP";
    panel.suggestedName = localCopyZipName(m_sourceEditorURL);
    panel.filterName = "ZIP archives";
    panel.filterSuffix = "zip";
    Lifetime::Token self = m_lifetime.token();
    fs::path folder = *m_workspace;
    runFilePanel(gobj(), panel, [this, self, folder](std::optional<fs::path> destination) {
        if (!destination || self.expired())
            return;
        if (isZipDestinationInsideCopy(*destination, folder)) {
            setStatus("Choose a ZIP destination outside the local website folder.");
            return;
        }
        startZipExport(folder, *destination);
    });
}

// ---- The ZIP export in flight ----

struct PageSourceWindow::ZipExport {
    std::thread worker;
    std::atomic<bool> stop { false };
    std::atomic<std::size_t> packed { 0 };
    std::atomic<std::size_t> total { 0 };
    sigc::connection ticker;

    ~ZipExport()
    {
        stop = true;
        ticker.disconnect();
        if (worker.joinable())
            worker.join();
    }
};

namespace {

struct ZipResult {
    Lifetime::Token self;
    PageSourceWindow* window = nullptr;
    std::filesystem::path destination;
    Result<Done> packed = Done {};
};

} // namespace

bool PageSourceWindow::exportingZip() const { return m_export != nullptr; }

void PageSourceWindow::startZipExport(const fs::path& folder, const fs::path& destination)
{
    if (m_build || m_export)
        return;
    m_export = std::make_unique<ZipExport>();
    ZipExport& job = *m_export;
    setBuildControls(true);
    m_cancelBuild->set_sensitive(true);
    setStatus("Exporting ZIP…");
    job.ticker = Glib::signal_timeout().connect(
        [this] {
            std::size_t total = m_export->total;
            if (total)
                m_progress->set_fraction(static_cast<double>(m_export->packed) / total);
            return true;
        },
        100);
    auto result = std::make_unique<ZipResult>();
    result->self = m_lifetime.token();
    result->window = this;
    result->destination = destination;
    // Reading every file and compressing it happens off the main loop.
    job.worker = std::thread([&job, folder, destination, result = result.release()] {
        result->packed = writeZipArchiveOfFolder(
            folder, destination, [&job](std::size_t packed, std::size_t total) {
                job.packed = packed;
                job.total = total;
                return !job.stop.load();
            });
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            +[](gpointer data) -> gboolean {
                std::unique_ptr<ZipResult> done(static_cast<ZipResult*>(data));
                if (done->self.expired() || !done->window->m_export)
                    return G_SOURCE_REMOVE;
                done->window->finishZipExport(done->destination, std::move(done->packed));
                return G_SOURCE_REMOVE;
            },
            result, nullptr);
    });
}

void PageSourceWindow::finishZipExport(const fs::path& destination, Result<Done> packed)
{
    bool cancelled = m_export->stop;
    m_export.reset();
    setBuildControls(false);
    if (cancelled) {
        setStatus("ZIP export cancelled.");
        return;
    }
    if (!packed) {
        setStatus("Could not export ZIP: " + packed.error());
        return;
    }
    setStatus("Exported all local website files \u00B7 " + destination.string());
    revealInFileViewer(destination);
}

void PageSourceWindow::cancelZipExport()
{
    if (m_export)
        m_export->stop = true;
}

} // namespace qv
