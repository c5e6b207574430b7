// The extension source viewer window and the controller's operations that open and drive it.
#include "extensions/extension_source_window.h"

#include "app/shell.h"
#include "app/view_helpers.h"
#include "platform/alerts.h"

namespace qv {

namespace {

constexpr int kFileColumnWidth = 250;

// The answers of the unsaved-changes question, in button order.
enum SaveAnswer { SaveChanges = 0, DiscardChanges = 1, CancelSwitch = 2 };

} // namespace

ExtensionSourceWindow::ExtensionSourceWindow(Shell& shell, std::function<void()> closed)
    : AuxiliaryWindow(shell, AuxiliaryWindowKind::ExtensionSource, std::string(kSourceWindowTitle))
    , m_closed(std::move(closed))
{
    set_default_size(1000, 680);
    set_resizable(true);

    auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
    content->set_margin(8);

    auto* split = Gtk::make_managed<Gtk::Paned>(Gtk::Orientation::HORIZONTAL);
    split->set_vexpand(true);
    split->set_wide_handle(false);
    split->set_start_child(*makeTable());
    split->set_resize_start_child(false);
    split->set_shrink_start_child(false);

    m_textView = Gtk::make_managed<Gtk::TextView>();
    m_textView->set_monospace(true);
    m_textView->set_wrap_mode(Gtk::WrapMode::NONE);
    m_textView->set_editable(false);
    m_textView->set_left_margin(6);
    m_textView->set_top_margin(4);
    m_textView->set_name("extension-source-text");
    setAccessibleLabel(*m_textView, "Extension source");
    setWidgetCss(*m_textView, "textview { font-family: monospace; font-size: 13pt; }");
    m_textView->get_buffer()->signal_changed().connect([this] { extensionSourceTextDidChange(); });
    auto* textScroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    textScroll->set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::AUTOMATIC);
    textScroll->set_child(*m_textView);
    textScroll->set_hexpand(true);
    split->set_end_child(*textScroll);
    split->set_position(kFileColumnWidth);
    content->append(*split);

    auto* bar = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    m_saveButton = Gtk::make_managed<Gtk::Button>();
    auto* saveContent = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    auto* check = Gtk::make_managed<Gtk::Image>();
    check->set_from_icon_name("object-select-symbolic");
    saveContent->append(*check);
    saveContent->append(*Gtk::make_managed<Gtk::Label>("Save Changes"));
    m_saveButton->set_child(*saveContent);
    setAccessibleLabel(*m_saveButton, "Save source changes");
    m_saveButton->signal_clicked().connect([this] { saveSelectedExtensionSource(); });
    bar->append(*m_saveButton);
    m_status = Gtk::make_managed<Gtk::Label>(std::string(kSourceSelectPrompt));
    m_status->add_css_class("dim-label");
    m_status->set_xalign(0);
    m_status->set_hexpand(true);
    m_status->set_ellipsize(Pango::EllipsizeMode::MIDDLE);
    bar->append(*m_status);
    content->append(*bar);

    set_child(*content);
    updateEditability();
}

Gtk::Widget* ExtensionSourceWindow::makeTable()
{
    m_rows = Gtk::StringList::create({});
    m_selection = Gtk::SingleSelection::create(m_rows);
    m_selection->set_autoselect(false);
    m_selection->set_can_unselect(true);
    m_selection->signal_selection_changed().connect([this](guint, guint) {
        if (m_programSelection == 0)
            loadSelectedExtensionSource();
    });

    auto factory = Gtk::SignalListItemFactory::create();
    factory->signal_setup().connect([](const Glib::RefPtr<Gtk::ListItem>& item) {
        auto* label = Gtk::make_managed<Gtk::Label>();
        label->set_xalign(0);
        label->set_ellipsize(Pango::EllipsizeMode::MIDDLE);
        item->set_child(*label);
    });
    factory->signal_bind().connect([](const Glib::RefPtr<Gtk::ListItem>& item) {
        auto* label = dynamic_cast<Gtk::Label*>(item->get_child());
        auto row = std::dynamic_pointer_cast<Gtk::StringObject>(item->get_item());
        if (label && row)
            label->set_text(row->get_string());
    });
    auto column = Gtk::ColumnViewColumn::create("Files", factory);
    column->set_fixed_width(kFileColumnWidth);
    column->set_expand(true);

    m_table = Gtk::make_managed<Gtk::ColumnView>(m_selection);
    m_table->append_column(column);
    m_table->set_name("extension-file");
    auto* scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroll->set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::AUTOMATIC);
    scroll->set_child(*m_table);
    scroll->set_size_request(kFileColumnWidth, -1);
    return scroll;
}

void ExtensionSourceWindow::showExtension(
    const std::string& extensionID, const std::string& name, const std::filesystem::path& root)
{
    // Edits of the file shown so far are not dropped without asking.
    if (!unsavedEditsSettled())
        return;
    m_extensionID = extensionID;
    m_root = root;
    ExtensionSourceListing listing = listExtensionSourceFiles(root);
    m_files = std::move(listing.files);
    set_title(extensionSourceWindowTitle(name));

    std::vector<Glib::ustring> titles;
    titles.reserve(m_files.size());
    for (const auto& file : m_files)
        titles.emplace_back(extensionSourceRowTitle(file, root));
    {
        ++m_programSelection;
        m_rows->splice(0, m_rows->get_n_items(), titles);
        m_selection->set_selected(GTK_INVALID_LIST_POSITION);
        --m_programSelection;
    }
    m_editor.showMessage();
    setStatus(listing.truncated
            ? "Showing the first " + std::to_string(kMaxExtensionSourceFiles) + " files."
            : std::string(kSourceSelectPrompt));
    if (m_files.empty()) {
        setEditorText(std::string(kSourceNoFilesText));
        updateEditability();
        return;
    }
    setEditorText("");
    updateEditability();
    selectRow(0);
}

std::string ExtensionSourceWindow::editorText() const
{
    return m_textView->get_buffer()->get_text(true).raw();
}

void ExtensionSourceWindow::setEditorText(const std::string& text)
{
    auto buffer = m_textView->get_buffer();
    auto programText = m_editor.settingText();
    // What the program shows is not something to undo back to.
    buffer->begin_irreversible_action();
    buffer->set_text(text);
    buffer->end_irreversible_action();
    buffer->place_cursor(buffer->begin());
}

void ExtensionSourceWindow::setStatus(const std::string& text) { m_status->set_text(text); }

void ExtensionSourceWindow::updateEditability()
{
    bool editable = m_editor.editable();
    m_textView->set_editable(editable);
    m_textView->set_cursor_visible(editable);
    m_saveButton->set_sensitive(editable);
}

void ExtensionSourceWindow::selectRow(unsigned row)
{
    if (row >= m_files.size())
        return;
    if (m_selection->get_selected() == row)
        loadSelectedExtensionSource();
    else
        m_selection->set_selected(row);
}

void ExtensionSourceWindow::reselectRow(unsigned row)
{
    ++m_programSelection;
    m_selection->set_selected(row);
    --m_programSelection;
}

std::optional<unsigned> ExtensionSourceWindow::rowOfFile(const std::filesystem::path& file) const
{
    for (unsigned i = 0; i < m_files.size(); ++i)
        if (m_files[i] == file)
            return i;
    return std::nullopt;
}

void ExtensionSourceWindow::loadSelectedExtensionSource()
{
    guint row = m_selection->get_selected();
    if (row == GTK_INVALID_LIST_POSITION || row >= m_files.size())
        return;
    const std::filesystem::path file = m_files[row];
    switch (m_editor.selectionChanged(file)) {
    case ExtensionSourceEditorState::Selection::Ignore:
        return;
    case ExtensionSourceEditorState::Selection::AskToSave: {
        std::filesystem::path bound = *m_editor.boundFile();
        AlertSpec alert { std::string(kSourceSaveQuestion), bound.filename().string(),
            { "Save Changes", "Discard Changes", "Cancel" } };
        int answer = runModalAlert(gobj(), alert);
        if (answer == DiscardChanges) {
            m_editor.discardEdits();
            break;
        }
        if (answer == SaveChanges && writeExtensionSourceToURL(bound))
            break;
        if (auto boundRow = rowOfFile(bound))
            reselectRow(*boundRow);
        return;
    }
    case ExtensionSourceEditorState::Selection::Load:
        break;
    }
    ExtensionSourceLoad load = loadExtensionSourceFile(m_root, file);
    setEditorText(load.editorText);
    m_editor.applyLoad(file, load);
    if (!load.status.empty())
        setStatus(load.status);
    updateEditability();
    if (auto adjustment = m_textView->get_vadjustment())
        adjustment->set_value(0);
}

void ExtensionSourceWindow::extensionSourceTextDidChange()
{
    if (auto status = m_editor.textChanged())
        setStatus(*status);
}

bool ExtensionSourceWindow::writeExtensionSourceToURL(const std::filesystem::path& target)
{
    // An unbound editor shows a message of ours, never a file's text.
    if (!m_editor.editable()) {
        setStatus(std::string(kSourceSelectBeforeSaving));
        return false;
    }
    auto written = writeExtensionSourceFile(m_root, target, editorText());
    if (!written) {
        setStatus(written.error());
        return false;
    }
    m_editor.saved(target);
    setStatus(written.value());
    updateEditability();
    return true;
}

void ExtensionSourceWindow::saveSelectedExtensionSource()
{
    auto file = m_editor.fileToSave();
    if (!file) {
        setStatus(file.error());
        return;
    }
    writeExtensionSourceToURL(file.value());
}

bool ExtensionSourceWindow::unsavedEditsSettled()
{
    if (!m_editor.dirty() || !m_editor.boundFile())
        return true;
    AlertSpec alert { std::string(kSourceSaveQuestion), m_editor.boundFile()->filename().string(),
        { "Save Changes", "Discard Changes", "Cancel" } };
    int answer = runModalAlert(gobj(), alert);
    if (answer == SaveChanges)
        return writeExtensionSourceToURL(*m_editor.boundFile());
    if (answer == DiscardChanges) {
        m_editor.discardEdits();
        return true;
    }
    return false;
}

bool ExtensionSourceWindow::mayCloseNow() { return unsavedEditsSettled(); }

void ExtensionSourceWindow::closedByUser()
{
    shell().removeAuxiliaryWindow(*this);
    if (m_closed)
        m_closed();
}

} // namespace qv
