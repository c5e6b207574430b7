// The downloads window: downloads in progress, the list of finished ones, reveal and remove.
#pragma once

#include "app/auxiliary_window.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qv {

class DownloadService;
class Shell;

class DownloadsWindow : public AuxiliaryWindow {
public:
    DownloadsWindow(Shell& shell, DownloadService& downloads);

    // Opens the Downloads folder in the file viewer.
    void openDownloadsFolder();
    // Asks, then removes the selected rows from the list.
    void deleteSelected();
    // Shows the record's file in the file viewer, when it is still in the Downloads folder.
    void reveal(size_t row);

    // Rebuilds the table from the download records.
    void reloadRecords();
    // Shows or updates the row of a running download; fraction is 0 to 1.
    void setProgress(const std::string& key, const std::string& name, double fraction,
        std::uint64_t receivedBytes);
    void removeProgress(const std::string& key);
    // Rebuilds the list of downloads that failed in this run.
    void reloadFailures();
    // The texts of the failed rows, newest first.
    std::vector<std::string> failureTexts() const;

    // Selected table rows, lowest first.
    std::vector<size_t> selectedRows() const;

    Gtk::ColumnView* downloadsTable() const { return m_table; }
    const Glib::RefPtr<Gtk::MultiSelection>& selection() const { return m_selection; }
    Gtk::Button* openFolderButton() const { return m_openFolderButton; }
    Gtk::Button* removeButton() const { return m_removeButton; }
    Gtk::Box* progressList() const { return m_progressList; }
    // The progress bar and the cancel button of a running download, or nullptr.
    Gtk::ProgressBar* progressBar(const std::string& key) const;
    Gtk::Button* cancelButton(const std::string& key) const;

private:
    struct ProgressRow {
        Gtk::Box* row = nullptr;
        Gtk::Label* name = nullptr;
        Gtk::ProgressBar* bar = nullptr;
        Gtk::Label* amount = nullptr;
        Gtk::Button* cancel = nullptr;
    };

    Gtk::Widget* makeTable();
    Gtk::Widget* makeBottomRow();

    Glib::RefPtr<Gio::ListStore<Glib::Object>> m_rows;
    Glib::RefPtr<Gtk::MultiSelection> m_selection;
    Gtk::ColumnView* m_table = nullptr;
    Gtk::Box* m_progressSection = nullptr;
    Gtk::Box* m_progressList = nullptr;
    Gtk::Box* m_failureSection = nullptr;
    Gtk::Box* m_failureList = nullptr;
    std::map<std::string, ProgressRow> m_progressRows;
    Gtk::Button* m_openFolderButton = nullptr;
    Gtk::Button* m_removeButton = nullptr;
    DownloadService& m_downloads;
};

} // namespace qv
