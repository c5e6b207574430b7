// The extension source viewer's rules: which files are listed, reading and saving them only
// inside the extension's folder, and the editor's binding and dirty state.
#pragma once

#include "base/result.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

inline constexpr std::uintmax_t kMaxExtensionSourceBytes = 4194304;
// A folder with more files than this is listed only in part.
inline constexpr std::size_t kMaxExtensionSourceFiles = 5000;

inline constexpr std::string_view kSourceWindowTitle = "Extension Source Code";
inline constexpr std::string_view kSourceSelectPrompt = "Select a file to inspect or edit it.";
inline constexpr std::string_view kSourceNoFilesText
    = "No local source files are available for this URL Extension.";
inline constexpr std::string_view kSourceTooLargeText
    = "File is larger than the 4 MiB source preview limit.";
inline constexpr std::string_view kSourceOutsideSaveMessage
    = "Saving is allowed only for files inside this Extension folder.";
inline constexpr std::string_view kSourceOutsideReadMessage
    = "Only files inside this Extension folder can be shown.";
inline constexpr std::string_view kSourceSelectBeforeSaving = "Select a source file before saving.";
inline constexpr std::string_view kSourceSaveQuestion = "Save changes to this source file?";

// "<name> — Source Code", with "Extension" for an empty name.
std::string extensionSourceWindowTitle(std::string_view extensionName);

// Every item below root that is not a folder, depth first, hidden items (and what they hold)
// skipped, links listed but never followed, sorted by path ignoring case. At most
// kMaxExtensionSourceFiles; `truncated` says more were there.
struct ExtensionSourceListing {
    std::vector<std::filesystem::path> files;
    bool truncated = false;
};
ExtensionSourceListing listExtensionSourceFiles(const std::filesystem::path& root);

// The table's text: the path relative to root, or the last component when not under it.
std::string extensionSourceRowTitle(
    const std::filesystem::path& file, const std::filesystem::path& root);

// The target with every link resolved when it lies strictly inside root (also resolved),
// compared component by component; nothing otherwise, or when the target is a link that
// resolves to nothing.
std::optional<std::filesystem::path> containedExtensionSourcePath(
    const std::filesystem::path& root, const std::filesystem::path& target);

enum class SourceLoadOutcome { Loaded, TooLarge, Unreadable, Outside };

// What the editor and status line show after choosing a file. `status` empty: keep the line.
struct ExtensionSourceLoad {
    SourceLoadOutcome outcome = SourceLoadOutcome::Unreadable;
    std::string editorText;
    std::string status;
};

// Reads a UTF-8 file of at most kMaxExtensionSourceBytes inside root. Only regular files are
// read, and never more than one byte past the limit however large the file has grown.
ExtensionSourceLoad loadExtensionSourceFile(
    const std::filesystem::path& root, const std::filesystem::path& file);

// Writes the text atomically to a file inside root; the value is the status line. Failures
// are the status line too: the containment message, or "Could not save source: <reason>".
Result<std::string> writeExtensionSourceFile(
    const std::filesystem::path& root, const std::filesystem::path& file, std::string_view text);

// Which file the editor is bound to and whether it holds unsaved edits. Only a file that loaded
// binds it; after any other outcome, or a message the program shows, it is unbound and must be
// read-only, so a message can never be saved over a file. Text the program puts in the editor
// never counts as an edit.
class ExtensionSourceEditorState {
public:
    const std::optional<std::filesystem::path>& boundFile() const { return m_bound; }
    bool dirty() const { return m_dirty; }
    bool editable() const { return m_bound.has_value(); }

    // Held while the program replaces the editor's text.
    class ProgramText {
    public:
        explicit ProgramText(ExtensionSourceEditorState& state);
        ~ProgramText();
        ProgramText(const ProgramText&) = delete;
        ProgramText& operator=(const ProgramText&) = delete;

    private:
        ExtensionSourceEditorState& m_state;
    };
    [[nodiscard]] ProgramText settingText() { return ProgramText(*this); }

    // Shows a message of the program's own (no files, a new extension): unbound.
    void showMessage();
    void applyLoad(const std::filesystem::path& file, const ExtensionSourceLoad& load);
    void saved(const std::filesystem::path& file);

    // The editor's text changed. The status to show ("Unsaved changes · <name>") when this is
    // an edit of a bound file; nothing for text the program set or an unbound editor.
    std::optional<std::string> textChanged();

    enum class Selection { Ignore, Load, AskToSave };
    // What choosing this file asks for: nothing while it is the dirty file itself, the question
    // while another file has unsaved edits, else a load.
    Selection selectionChanged(const std::filesystem::path& file) const;
    // After the question was answered Discard.
    void discardEdits() { m_dirty = false; }

    // The file Save writes, or the status kSourceSelectBeforeSaving.
    Result<std::filesystem::path> fileToSave() const;

private:
    std::optional<std::filesystem::path> m_bound;
    bool m_dirty = false;
    int m_programText = 0;
};

} // namespace qv
