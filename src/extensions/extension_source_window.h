// The extension source viewer: an extension's files beside a plain-text editor that saves them
// back, only inside the extension's folder.
#pragma once

#include "app/auxiliary_window.h"
#include "extensions/extension_source.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace qv {

class Shell;

class ExtensionSourceWindow : public AuxiliaryWindow {
public:
    // `closed` runs when the user closes the window, which its owner then destroys.
    ExtensionSourceWindow(Shell& shell, std::function<void()> closed);

    // Lists the extension's files under root and loads the first one.
    void showExtension(
        const std::string& extensionID, const std::string& name, const std::filesystem::path& root);

    // The file of the selected row; asks first when another file has unsaved edits.
    void loadSelectedExtensionSource();
    void extensionSourceTextDidChange();
    // Saves the editor's text to target, which must lie inside the extension's folder.
    bool writeExtensionSourceToURL(const std::filesystem::path& target);
    void saveSelectedExtensionSource();

    Gtk::ColumnView* extensionSourceTable() const { return m_table; }
    Gtk::TextView* extensionSourceTextView() const { return m_textView; }
    Gtk::Label* extensionSourceStatus() const { return m_status; }
    Gtk::Button* saveButton() const { return m_saveButton; }
    const std::string& extensionSourceID() const { return m_extensionID; }
    const std::vector<std::filesystem::path>& extensionSourceFiles() const { return m_files; }
    const ExtensionSourceEditorState& editorState() const { return m_editor; }
    std::string editorText() const;
    // Selects a row as a click would, loading its file.
    void selectRow(unsigned row);
    // Closing really closes this window: it leaves the window list at once.
    void closedByUser() override;
    // Unsaved edits are saved, discarded or kept (the window stays) as the user answers.
    bool mayCloseNow() override;

private:
    // Asks about unsaved edits of the bound file; true when they were saved or discarded (or
    // there are none), false when the user keeps them.
    bool unsavedEditsSettled();
    Gtk::Widget* makeTable();
    void setEditorText(const std::string& text);
    void setStatus(const std::string& text);
    // Editable only while bound to a file that loaded.
    void updateEditability();
    // Selects the row without loading it (after a refused switch).
    void reselectRow(unsigned row);
    std::optional<unsigned> rowOfFile(const std::filesystem::path& file) const;

    Gtk::ColumnView* m_table = nullptr;
    Gtk::TextView* m_textView = nullptr;
    Gtk::Label* m_status = nullptr;
    Gtk::Button* m_saveButton = nullptr;
    Glib::RefPtr<Gtk::StringList> m_rows;
    Glib::RefPtr<Gtk::SingleSelection> m_selection;

    std::string m_extensionID;
    std::filesystem::path m_root;
    std::vector<std::filesystem::path> m_files;
    ExtensionSourceEditorState m_editor;
    // Set while the program moves the selection, so the move loads nothing.
    int m_programSelection = 0;
    std::function<void()> m_closed;
};

} // namespace qv
