// The local website copy's rules: where each address lives in the folder, relative links,
// link rewriting, the download limits and the status texts.
#pragma once

#include "base/result.h"
#include "devtools/page_source_rules.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

inline constexpr std::size_t kMaxLocalCopyResources = 200;
inline constexpr std::size_t kMaxLocalCopyFileBytes = 8388608;
inline constexpr std::size_t kMaxLocalCopyTotalBytes = 52428800;
inline constexpr std::size_t kMaxLocalCopyFailureLines = 12;
inline constexpr int kLocalCopyRequestTimeoutSeconds = 25;
inline constexpr std::size_t kMaxLocalCopyNameBytes = 255;

// FNV-1a over the bytes, from the copy's own starting value 0x14650fb0739d0383.
std::uint64_t localCopyQueryHash(std::string_view query);

// The path of an address under the copy folder, one file-name component per element, for a
// copy built from pageURL: the decoded path split on "/" and "\" without "", "." and "..",
// "index.html" for a folder, "_external/<host>" in front for another host than the page's,
// "-<hash>" before the extension when there is a query. Control bytes become "%XX" and names
// over 255 bytes are shortened (with a hash of the whole name), so every element is a plain
// name and the path can never leave the folder. A name beginning with "." starts with "%2E"
// instead, so no page can make a hidden file or folder (".git", ".htaccess") that a program
// treats as its own. Nothing for an address without a host.
std::optional<std::vector<std::string>> localCopyComponents(
    std::string_view sourceURL, std::string_view pageURL);

// The file inside `workspace` for an address. A file address gives itself when it lies inside
// the folder, else nothing; other addresses go through localCopyComponents.
std::optional<std::filesystem::path> localFileForSourceURL(std::string_view sourceURL,
    const std::optional<std::filesystem::path>& workspace, std::string_view pageURL);

// A link from the file at `from` to the file at `to` (both as components): ".." for each
// folder of `from` not shared, then the rest of `to`, each name percent-encoded so "?", "#",
// "%" and spaces in names stay part of the path. "./index.html" when nothing is left.
std::string relativeLocalLink(
    const std::vector<std::string>& from, const std::vector<std::string>& to);

// The link from the file of fileURL to the file of sourceURL, both where the copy of pageURL
// puts them (a file of another host lives under "_external" and links from there).
std::optional<std::string> relativeLocalPathForSourceURL(
    std::string_view sourceURL, std::string_view fileURL, std::string_view pageURL);

// Rewrites the links of one downloaded text file to the copy's local files. One pass over the
// text: at each place where a URL token starts (after a quote, "(", "=", ",", white space or
// the start), the longest listed address that ends on a token boundary (a quote, ")", ",",
// "#", "<", ">", "\", white space or the end) is replaced, so "/a" never changes inside
// "/about" and replaced text is never looked at again. An address matches as written, in its
// "//host/..." form, with "&amp;" for "&" in HTML, and for a resource on the file's own host
// by its path (with its query, or alone when the path has at least 2 characters).
class LocalCopyLinkRewriter {
public:
    LocalCopyLinkRewriter(const std::vector<SourceResource>& resources, std::string pageURL);

    // Text put in place of the bytes at [offset, offset + length), before any other rewriting.
    struct Edit {
        std::size_t offset = 0;
        std::size_t length = 0;
        std::string replacement;
    };

    // Edits in ascending, non-overlapping order; the text between them is rewritten.
    std::string rewrite(std::string_view text, std::string_view fileURL, std::string_view kind,
        const std::vector<Edit>& edits = {}) const;

private:
    struct Target {
        std::string url;
        std::string host;
        std::string path;
        std::optional<std::string> query;
        std::vector<std::string> components;
    };
    std::vector<Target> m_targets;
    std::string m_pageURL;
};

// The failure lines of one phase: all failures are counted, the first 12 are kept.
class LocalCopyFailures {
public:
    void add(std::string line);
    std::size_t count() const { return m_count; }
    const std::vector<std::string>& lines() const { return m_lines; }

private:
    std::vector<std::string> m_lines;
    std::size_t m_count = 0;
};

// "Open a website and refresh the file list first." or the "more than 200 resources"
// message; nothing when a build may start.
std::optional<std::string> localCopyBuildRefusal(bool hasPage, std::size_t resourceCount);

// The download phase's accounting. Transfers are the listed http(s) resources, in list order,
// then what each arrived page, style sheet and script names (see localCopyNamedResources), up
// to 200 transfers in all and 8 references deep; each address past those limits is one
// failure ("Project exceeds 200 files", "References nested too deeply").
// Not thread-safe: the caller serialises calls (one lock, or the main loop).
class LocalCopyDownloads {
public:
    explicit LocalCopyDownloads(const std::vector<SourceResource>& resources);

    const std::vector<SourceResource>& transfers() const { return m_transfers; }

    // Whether transfer i may start. Once the total has reached 50 MB it may not, and it
    // completes at once with "Project exceeds 50 MB".
    bool begin(std::size_t i);

    // The answer's Content-Type: a style sheet, script or page served as one is read as one,
    // whatever kind the list guessed (an @import-ed sheet is listed as "text").
    void noteContentType(std::size_t i, std::string_view contentType);

    // Body bytes of a running transfer. False when it must stop now: it is then complete with
    // "File exceeds 8 MB" or "Project exceeds 50 MB" (counting the bytes of every running
    // transfer) and later calls for it are ignored.
    bool append(std::size_t i, std::string_view bytes);

    // The transfer ended: a transport error (empty text: "Download failed"), else its HTTP
    // status ("HTTP %ld" outside 200-299; may be called as soon as the status is known).
    void finish(std::size_t i, std::optional<std::string> transportError, int httpStatus);

    std::size_t completedCount() const { return m_completed; }
    bool allCompleted() const { return m_completed == m_transfers.size(); }
    std::size_t totalBytes() const { return m_totalBytes; }
    // "Downloading local copy · %lu/%lu"
    std::string progressStatus() const;

    // The stored bodies of successful transfers, by address.
    const std::map<std::string, std::string>& bodies() const { return m_bodies; }
    const LocalCopyFailures& failures() const { return m_failures; }

private:
    enum class State { Waiting, Running, Done };
    void fail(std::size_t i, const std::string& description);
    void followReferences(std::size_t i, const std::string& body);

    std::vector<SourceResource> m_transfers;
    std::vector<std::size_t> m_depths;
    std::set<std::string> m_known;
    std::vector<State> m_states;
    std::vector<std::string> m_running;
    std::map<std::string, std::string> m_bodies;
    std::size_t m_totalBytes = 0; // stored plus running
    std::size_t m_completed = 0;
    LocalCopyFailures m_failures;
};

class NewFolder;

// One file of the copy, ready to write.
struct LocalCopyFile {
    std::string url;
    std::vector<std::string> names; // inside the copy folder, as localCopyComponents gives them
    std::filesystem::path path;
    std::string contents;
};

// The files of the stored bodies in ascending order of address: html, css and js with their
// links rewritten; a text body that is not UTF-8, and every other kind, as downloaded.
std::vector<LocalCopyFile> localCopyFiles(const std::vector<SourceResource>& resources,
    const std::map<std::string, std::string>& bodies, const std::string& pageURL,
    const std::filesystem::path& workspace);

// Writes each file by its names inside the copy's own new folder, making the folders on the
// way; nothing is written through a link or over a file this build did not make. Failures
// become "<name> — <error>" ("Write failed" without a description).
LocalCopyFailures writeLocalCopyFiles(const std::vector<LocalCopyFile>& files, NewFolder& folder);

// The name of the folder a build makes for its copy inside the folder the user picks: the
// page's host as a plain, inert file name, "website" without one.
std::string localCopyFolderName(std::string_view pageURL);

// The final status: "Local copy ready · <folder>", or with failures "Local copy created at
// <folder> · <n> file(s) skipped or failed. Main file: <file>".
std::string localCopyFinishedStatus(const std::filesystem::path& workspace,
    const LocalCopyFailures& downloads, const LocalCopyFailures& writes,
    const std::filesystem::path& mainFile);

// "Could not create a folder for the local copy in <chosen folder>: <error>"
std::string localCopyFolderFailureStatus(
    const std::filesystem::path& chosen, const std::string& error);

// "Quivel local-copy skipped files: a; b", or nothing without failures.
std::optional<std::string> localCopySkippedFilesLog(
    const LocalCopyFailures& downloads, const LocalCopyFailures& writes);

// A copy serves only the page it was built from (fragment aside): another page's editor never
// loads, saves into, previews or exports it.
bool localCopyServesPage(
    const std::optional<std::string>& workspacePageURL, std::string_view pageURL);

// True while the web view shows a file inside the copy folder (the local preview).
bool isLocalPreviewURL(
    std::string_view webViewURL, const std::optional<std::filesystem::path>& workspace);

// Whether the tab still shows the listed page: the same address, or the copy's local file of
// that page (only for the copy built from it).
bool showsSourcePage(std::string_view webViewURL, std::string_view sourceEditorURL,
    const std::optional<std::filesystem::path>& workspace,
    const std::optional<std::string>& workspacePageURL);

// "<host>-local-copy.zip", "website-local-copy.zip" without a host.
std::string localCopyZipName(std::string_view pageURL);

// A ZIP inside the copy folder is refused ("Choose a ZIP destination outside the local website
// folder."); its parent is fine.
bool isZipDestinationInsideCopy(
    const std::filesystem::path& destination, const std::filesystem::path& workspace);

} // namespace qv
