// Listing, reading and saving an extension's files for the source viewer.
#include "extensions/extension_source.h"

#include "base/atomic_file.h"
#include "base/text_util.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace qv {

namespace fs = std::filesystem;

namespace {

bool isHiddenName(const fs::path& path)
{
    std::string name = path.filename().string();
    return !name.empty() && name[0] == '.';
}

bool caseInsensitiveLess(const fs::path& a, const fs::path& b)
{
    std::string la = toLowerAscii(a.string());
    std::string lb = toLowerAscii(b.string());
    return la != lb ? la < lb : a.string() < b.string();
}

// Component by component, so "/a/bc" never counts as inside "/a/b".
bool isStrictlyBelow(const fs::path& path, const fs::path& root)
{
    auto p = path.begin();
    for (auto r = root.begin(); r != root.end(); ++r, ++p) {
        if (r->empty() && std::next(r) == root.end())
            break; // a trailing separator
        if (p == path.end() || *p != *r)
            return false;
    }
    for (; p != path.end(); ++p)
        if (!p->empty())
            return true;
    return false;
}

ExtensionSourceLoad unreadable(const fs::path& file, const std::string& description)
{
    return { SourceLoadOutcome::Unreadable,
        "This file is not UTF-8 text or could not be read.\n" + description,
        "Could not read " + file.filename().string() };
}

} // namespace

std::string extensionSourceWindowTitle(std::string_view extensionName)
{
    return std::string(extensionName.empty() ? "Extension" : extensionName) + " — Source Code";
}

ExtensionSourceListing listExtensionSourceFiles(const fs::path& root)
{
    ExtensionSourceListing listing;
    std::vector<fs::path> folders { root };
    while (!folders.empty()) {
        fs::path folder = std::move(folders.back());
        folders.pop_back();
        std::error_code ec;
        fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const fs::path& item = it->path();
            if (isHiddenName(item))
                continue;
            std::error_code typeError;
            fs::file_status status = it->symlink_status(typeError);
            if (typeError)
                continue;
            if (status.type() == fs::file_type::directory) {
                folders.push_back(item);
                continue;
            }
            if (listing.files.size() == kMaxExtensionSourceFiles) {
                listing.truncated = true;
                folders.clear();
                break;
            }
            listing.files.push_back(item);
        }
    }
    std::sort(listing.files.begin(), listing.files.end(), caseInsensitiveLess);
    return listing;
}

std::string extensionSourceRowTitle(const fs::path& file, const fs::path& root)
{
    fs::path normalFile = file.lexically_normal();
    fs::path normalRoot = root.lexically_normal();
    if (isStrictlyBelow(normalFile, normalRoot))
        return normalFile.lexically_relative(normalRoot).string();
    return file.filename().string();
}

std::optional<fs::path> containedExtensionSourcePath(const fs::path& root, const fs::path& target)
{
    if (root.empty() || target.empty())
        return std::nullopt;
    std::error_code ec;
    fs::path resolvedRoot = fs::weakly_canonical(root, ec);
    if (ec || resolvedRoot.empty())
        return std::nullopt;
    fs::path resolved = fs::weakly_canonical(target.is_absolute() ? target : root / target, ec);
    if (ec || resolved.empty() || !isStrictlyBelow(resolved, resolvedRoot))
        return std::nullopt;
    // A link whose target does not exist is left unresolved by weakly_canonical.
    struct stat st;
    if (lstat(resolved.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        return std::nullopt;
    return resolved;
}

ExtensionSourceLoad loadExtensionSourceFile(const fs::path& root, const fs::path& file)
{
    auto resolved = containedExtensionSourcePath(root, file);
    if (!resolved)
        return { SourceLoadOutcome::Outside, std::string(kSourceOutsideReadMessage),
            "Could not read " + file.filename().string() };
    // The path is resolved already, so a link in its place now is refused.
    FileRead read = readWholeFile(*resolved, kMaxExtensionSourceBytes);
    if (read.refusal == ReadRefusal::TooLarge)
        return { SourceLoadOutcome::TooLarge, std::string(kSourceTooLargeText), "" };
    if (read.refusal == ReadRefusal::NotRegular)
        return unreadable(file, "It is not a regular file.");
    if (read.status != ReadStatus::Ok)
        return unreadable(file,
            read.status == ReadStatus::Missing ? std::strerror(ENOENT) : read.error);
    std::string text = std::move(read.contents);
    if (!isValidUtf8(text))
        return unreadable(file, "The file is not valid UTF-8 text.");
    return { SourceLoadOutcome::Loaded, std::move(text),
        file.filename().string() + " · " + file.string() };
}

Result<std::string> writeExtensionSourceFile(
    const fs::path& root, const fs::path& file, std::string_view text)
{
    auto resolved = containedExtensionSourcePath(root, file);
    if (!resolved)
        return Result<std::string>::failure(std::string(kSourceOutsideSaveMessage));
    if (!isValidUtf8(text))
        return Result<std::string>::failure("Could not save source: UTF-8 encoding failed");
    auto written = writeFileAtomically(*resolved, text);
    if (!written)
        return Result<std::string>::failure("Could not save source: " + written.error());
    return "Saved to " + file.string() + " · turn the Extension off and on to reload it";
}

ExtensionSourceEditorState::ProgramText::ProgramText(ExtensionSourceEditorState& state)
    : m_state(state)
{
    ++m_state.m_programText;
}

ExtensionSourceEditorState::ProgramText::~ProgramText() { --m_state.m_programText; }

void ExtensionSourceEditorState::showMessage()
{
    m_bound.reset();
    m_dirty = false;
}

void ExtensionSourceEditorState::applyLoad(const fs::path& file, const ExtensionSourceLoad& load)
{
    // Anything but a loaded file leaves a message in the editor, which must not be saveable.
    if (load.outcome == SourceLoadOutcome::Loaded)
        m_bound = file;
    else
        m_bound.reset();
    m_dirty = false;
}

void ExtensionSourceEditorState::saved(const fs::path& file)
{
    m_bound = file;
    m_dirty = false;
}

std::optional<std::string> ExtensionSourceEditorState::textChanged()
{
    if (m_programText > 0 || !m_bound)
        return std::nullopt;
    m_dirty = true;
    return "Unsaved changes · " + m_bound->filename().string();
}

ExtensionSourceEditorState::Selection ExtensionSourceEditorState::selectionChanged(
    const fs::path& file) const
{
    if (!m_dirty || !m_bound)
        return Selection::Load;
    return *m_bound == file ? Selection::Ignore : Selection::AskToSave;
}

Result<fs::path> ExtensionSourceEditorState::fileToSave() const
{
    if (!m_bound)
        return Result<fs::path>::failure(std::string(kSourceSelectBeforeSaving));
    return *m_bound;
}

} // namespace qv
