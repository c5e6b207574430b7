// Open and save panels and revealing files, answerable by tests without a person.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

typedef struct _GtkWindow GtkWindow;

namespace qv {

struct FilePanelSpec {
    enum class Kind { Open, Save, Folder }; // Folder: choose (or create) one folder
    Kind kind = Kind::Open;
    std::string title;
    std::string acceptLabel;
    std::string suggestedName; // save panels
    std::string filterName; // e.g. "ZIP archives"; empty for all files
    std::string filterSuffix; // e.g. "zip", matched in any case
    bool multiple = false; // open panels: more than one file may be chosen
};

// The chosen file, or nothing when the panel was cancelled.
using FilePanelCompletion = std::function<void(std::optional<std::filesystem::path>)>;

// Shows the panel modal to `parent`; `done` runs once, later, on the main loop.
void runFilePanel(GtkWindow* parent, const FilePanelSpec& panel, FilePanelCompletion done);
// The same for open panels that may choose several files; empty when cancelled.
using FilesPanelCompletion = std::function<void(std::vector<std::filesystem::path>)>;
void runFilesPanel(GtkWindow* parent, const FilePanelSpec& panel, FilesPanelCompletion done);

// While set, panels are not shown: the responder answers them. An outer nullopt shows the real
// panel; an inner one cancels.
using FilePanelResponder
    = std::function<std::optional<std::optional<std::filesystem::path>>(const FilePanelSpec&)>;
void setFilePanelResponder(FilePanelResponder responder);

// Selects `file` in the file manager (org.freedesktop.FileManager1 on the session bus), else
// opens its folder; never waits for either. While a reveal responder is set it is told instead.
void revealInFileViewer(const std::filesystem::path& file);
void setRevealResponder(std::function<void(const std::filesystem::path&)> responder);

} // namespace qv
