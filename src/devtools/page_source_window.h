// The page source editor window: the page's files, the editor, applying edits and the local copy.
#pragma once

#include "app/auxiliary_window.h"
#include "app/web_views.h"
#include "devtools/local_copy_rules.h"
#include "devtools/page_source_rules.h"

#include <webkit/webkit.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qv {

class LocalCopyScheme;
class NavigationService;
class Shell;
class TabService;

class LocalCopyDownloader;

// The editor widget behind a small seam, so a colouring editor can take the plain view's place.
class SourceEditorPane {
public:
    SourceEditorPane();
    Gtk::Widget& widget() { return *m_scroll; }
    std::string text() const;
    // Replaces the text without counting as an edit.
    void setText(const std::string& text);
    // Runs on every edit the user makes.
    sigc::signal<void()>& signalEdited() { return m_edited; }
    Gtk::TextView& textView() { return *m_view; }

private:
    Gtk::ScrolledWindow* m_scroll = nullptr;
    Gtk::TextView* m_view = nullptr;
    sigc::signal<void()> m_edited;
    bool m_settingText = false;
};

class PageSourceWindow : public AuxiliaryWindow {
public:
    PageSourceWindow(Shell& shell, TabService& tabs, NavigationService& navigation,
        LocalCopyScheme& localCopies);
    ~PageSourceWindow() override;

    // The editor's actions, each ending in a status line.
    void refreshPageResources();
    void loadSelectedSource();
    void applyPageSource();
    void savePageSource();
    void buildLocalSourceCopy();
    void cancelLocalSourceCopy();
    void saveLocalSourceChanges();
    void previewLocalSourceCopy();
    void exportLocalSourceCopyAsZip();

    // Read access for the controller and tests.
    std::string status() const;
    const std::vector<SourceResource>& sourceResources() const { return m_sourceResources; }
    const std::optional<SourceResource>& selectedSourceResource() const { return m_selected; }
    const SourceEditorState& editorState() const { return m_editorState; }
    const std::string& sourceEditorURL() const { return m_sourceEditorURL; }
    const std::optional<std::filesystem::path>& sourceWorkspaceURL() const { return m_workspace; }
    const std::optional<std::string>& sourceWorkspacePageURL() const { return m_workspacePageURL; }
    bool buildingLocalCopy() const;
    bool exportingZip() const;
    void cancelZipExport();
    // Transfers of a running build still in flight.
    std::size_t localCopyTransfersInFlight() const;
    // Selects a row as a click would (none when out of range).
    void selectSourceRow(std::size_t row);
    SourceEditorPane& editor() { return m_editor; }
    // Unsaved edits are saved, discarded or kept (the window stays) as the user answers.
    bool mayCloseNow() override;
    Gtk::ColumnView& table() const { return *m_table; }

private:
    struct LocalCopyBuild;
    struct ZipExport;

    // Asks `question` about unsaved edits; true when they were saved or discarded (or there
    // are none), false when the user keeps them.
    bool unsavedEditsSettled(const char* question, bool* discarded = nullptr);
    WebKitWebView* webView() const;
    // The selected view's address, a served copy's page as its file address.
    std::string shownFileURL() const;
    void setStatus(const std::string& text);
    void reloadTable();
    void selectionChanged();
    void restoreSelectionToLoaded();
    void editorEdited();
    bool showsListedPage() const;
    bool localCopyServesListedPage() const;
    void showEditorText(const SourceResource& resource, const std::string& text);
    void loadListedResource(const SourceResource& resource);
    void startLocalCopy(const std::filesystem::path& folder);
    void finishDownloads(LocalCopyDownloads downloads);
    void finishLocalCopy(const std::filesystem::path& folder, const std::string& pageURL,
        const LocalCopyFailures& downloadFailures, const LocalCopyFailures& writeFailures);
    void setBuildControls(bool building);
    void startZipExport(const std::filesystem::path& folder, const std::filesystem::path& destination);
    void finishZipExport(const std::filesystem::path& destination, Result<Done> packed);
    Gtk::Widget* makeButtons();

    Gtk::ColumnView* m_table = nullptr;
    Glib::RefPtr<Gtk::StringList> m_rows;
    Glib::RefPtr<Gtk::SingleSelection> m_selection;
    SourceEditorPane m_editor;
    Gtk::Label* m_status = nullptr;
    Gtk::ProgressBar* m_progress = nullptr;
    Gtk::Button* m_cancelBuild = nullptr;
    Gtk::Button* m_buildButton = nullptr;
    bool m_reloadingTable = false;

    std::string m_sourceEditorURL;
    std::vector<SourceResource> m_sourceResources;
    std::optional<SourceResource> m_selected;
    SourceEditorState m_editorState;
    std::optional<std::filesystem::path> m_workspace;
    std::optional<std::string> m_workspacePageURL;
    // Page-script answers carry the generation they were asked in; older ones are dropped.
    std::uint64_t m_generation = 0;
    // Tells callbacks still on their way whether the window is there to take them.

    std::unique_ptr<LocalCopyBuild> m_build;
    std::unique_ptr<ZipExport> m_export;
    // Scripts, panels and the local copy that answer late find the window gone.
    Lifetime m_lifetime;
    TabService& m_tabs;
    NavigationService& m_navigation;
    LocalCopyScheme& m_localCopies;
};

} // namespace qv
