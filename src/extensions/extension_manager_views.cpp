// The extension manager's panel and list views.
#include "extensions/extension_manager_views.h"

#include "extensions/extension_installation_rules.h"

#include <gdk/gdk.h>

namespace qv {

ExtensionPanelView::ExtensionPanelView()
    : Gtk::Box(Gtk::Orientation::VERTICAL, 12)
{
    add_css_class("qv-extension-panel");
    set_margin_top(0);
    set_halign(Gtk::Align::FILL);
    set_valign(Gtk::Align::FILL);
}

ExtensionListStackView::ExtensionListStackView()
    : Gtk::Box(Gtk::Orientation::VERTICAL, 8)
{
    add_css_class("qv-extension-list");
    set_valign(Gtk::Align::START);
    set_halign(Gtk::Align::FILL);
}

void ExtensionListStackView::removeAllRows()
{
    while (Gtk::Widget* child = get_first_child())
        remove(*child);
}

namespace {

std::vector<std::filesystem::path> filesInValue(const GValue* value)
{
    std::vector<std::filesystem::path> files;
    if (!value || !G_VALUE_HOLDS(value, GDK_TYPE_FILE_LIST))
        return files;
    auto* list = static_cast<GdkFileList*>(g_value_get_boxed(value));
    if (!list)
        return files;
    GSList* items = gdk_file_list_get_files(list);
    for (GSList* item = items; item; item = item->next) {
        // Only local files can be unpacked; other URLs are not files.
        if (char* path = g_file_get_path(G_FILE(item->data))) {
            files.emplace_back(path);
            g_free(path);
        }
    }
    g_slist_free(items);
    return files;
}

} // namespace

ExtensionDropView::ExtensionDropView(const Glib::ustring& text)
    : Gtk::Box(Gtk::Orientation::VERTICAL)
{
    add_css_class("qv-extension-drop");
    set_size_request(240, 84);
    set_halign(Gtk::Align::START);
    // The label centres itself without making the zone grow with the panel.
    set_vexpand(false);
    auto* label = Gtk::make_managed<Gtk::Label>(text);
    label->set_wrap(true);
    label->set_justify(Gtk::Justification::CENTER);
    label->set_vexpand(true);
    label->set_valign(Gtk::Align::CENTER);
    label->set_max_width_chars(34);
    label->add_css_class("dim-label");
    label->add_css_class("caption");
    // The whole zone is the target; its label never takes a click or a drop.
    label->set_can_target(false);
    append(*label);

    m_dropTarget = Gtk::DropTarget::create(GDK_TYPE_FILE_LIST, Gdk::DragAction::COPY);
    m_dropTarget->set_preload(true);
    m_dropTarget->signal_enter().connect(
        [this](double, double) {
            const GValue* value = gtk_drop_target_get_value(m_dropTarget->gobj());
            // Until the files are read the drag is let in; it is refused once they are known.
            if (!value)
                return Gdk::DragAction::COPY;
            return dragEntered(filesInValue(value)) ? Gdk::DragAction::COPY : Gdk::DragAction(0);
        },
        false);
    m_dropTarget->property_value().signal_changed().connect([this] {
        const GValue* value = gtk_drop_target_get_value(m_dropTarget->gobj());
        if (value && !dragEntered(filesInValue(value)))
            m_dropTarget->reject();
    });
    m_dropTarget->signal_leave().connect([this] { dragLeft(); });
    m_dropTarget->signal_drop().connect(
        [this](const Glib::ValueBase& value, double, double) {
            return dropFiles(filesInValue(value.gobj()));
        },
        false);
    add_controller(m_dropTarget);
}

bool ExtensionDropView::dragEntered(const std::vector<std::filesystem::path>& files)
{
    m_draggingFiles = !zipArchivesAmong(files).empty();
    if (m_draggingFiles)
        add_css_class("dragging");
    else
        remove_css_class("dragging");
    return m_draggingFiles;
}

void ExtensionDropView::dragLeft()
{
    m_draggingFiles = false;
    remove_css_class("dragging");
}

bool ExtensionDropView::dropFiles(const std::vector<std::filesystem::path>& files)
{
    std::vector<std::filesystem::path> archives = zipArchivesAmong(files);
    dragLeft();
    if (archives.empty())
        return false;
    if (filesDropped)
        filesDropped(archives);
    return true;
}

} // namespace qv
