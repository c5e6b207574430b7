// The extension manager's own view classes.
#pragma once

#include <gtkmm.h>

#include <filesystem>
#include <functional>
#include <vector>

namespace qv {

// The left panel: a vertical stack filled with the window background.
class ExtensionPanelView : public Gtk::Box {
public:
    ExtensionPanelView();
};

// The list of extension rows; rows start at the top.
class ExtensionListStackView : public Gtk::Box {
public:
    ExtensionListStackView();
    void removeAllRows();
};

// The drop zone for extension archives: a drag holding a ZIP file is accepted as a copy and
// shown with an accent border; anything else is refused.
class ExtensionDropView : public Gtk::Box {
public:
    explicit ExtensionDropView(const Glib::ustring& text);

    std::function<void(const std::vector<std::filesystem::path>&)> filesDropped;
    bool isDraggingFiles() const { return m_draggingFiles; }

    // The drag's files are known: true when it may drop here.
    bool dragEntered(const std::vector<std::filesystem::path>& files);
    void dragLeft();
    // Calls filesDropped with the ZIP files among them; true only when there were any.
    bool dropFiles(const std::vector<std::filesystem::path>& files);

private:
    Glib::RefPtr<Gtk::DropTarget> m_dropTarget;
    bool m_draggingFiles = false;
};

} // namespace qv
