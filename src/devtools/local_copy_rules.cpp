// Mapping, relative links, link rewriting, limits and texts of the local website copy.
#include "devtools/local_copy_rules.h"

#include "base/new_folder.h"
#include "base/paths.h"
#include "base/text_util.h"
#include "base/url.h"
#include "devtools/local_copy_references.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <system_error>
#include <unordered_map>

namespace qv {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxExtensionBytes = 16;

std::string hexHash(std::uint64_t hash)
{
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(hash));
    return text;
}

// Control bytes encoded, so a name never holds NUL or a line break.
std::string plainName(std::string_view name) { return percentEncode(name, URLComponent::FileName); }

// A name beginning with "." is hidden and often means something to a program that finds it
// (".bashrc", ".git", ".htaccess"); in the copy it is an ordinary name, "%2E..." instead.
std::string inertName(std::string name)
{
    if (!name.empty() && name[0] == '.')
        name.replace(0, 1, "%2E");
    return name;
}

// Where the extension starts ("." not first, not last), or npos.
std::size_t extensionDot(std::string_view name)
{
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size())
        return std::string_view::npos;
    return dot;
}

// Cut at a UTF-8 character boundary at or before `limit` bytes.
std::string_view utf8Prefix(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

// Names over the file system's limit keep their start and extension and gain a hash of the
// whole name, so two long names still give two files.
std::string boundedName(const std::string& name)
{
    if (name.size() <= kMaxLocalCopyNameBytes)
        return name;
    std::size_t dot = extensionDot(name);
    std::string extension;
    if (dot != std::string::npos && name.size() - dot <= kMaxExtensionBytes + 1)
        extension = name.substr(dot);
    std::string suffix = "-" + hexHash(localCopyQueryHash(name)) + extension;
    std::string_view stem = std::string_view(name).substr(0, name.size() - extension.size());
    return std::string(utf8Prefix(stem, kMaxLocalCopyNameBytes - suffix.size())) + suffix;
}

std::vector<std::string> pathNames(std::string_view encodedPath)
{
    std::string decoded = *percentDecode(encodedPath, MalformedEscapes::Keep);
    std::vector<std::string> names;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= decoded.size(); ++i) {
        if (i < decoded.size() && decoded[i] != '/' && decoded[i] != '\\')
            continue;
        std::string name = decoded.substr(start, i - start);
        start = i + 1;
        if (name.empty() || name == "." || name == "..")
            continue;
        names.push_back(plainName(name));
    }
    return names;
}

bool endsWithSeparator(std::string_view encodedPath)
{
    std::string decoded = *percentDecode(encodedPath, MalformedEscapes::Keep);
    return !decoded.empty() && (decoded.back() == '/' || decoded.back() == '\\');
}

bool isTokenStart(char c)
{
    switch (c) {
    case '"':
    case '\'':
    case '`':
    case '(':
    case '=':
    case ',':
    case ' ':
    case '\t':
    case '\n':
    case '\r':
    case '\f':
        return true;
    default:
        return false;
    }
}

bool isTokenEnd(char c)
{
    switch (c) {
    case '"':
    case '\'':
    case '`':
    case ')':
    case ',':
    case '#':
    case '<':
    case '>':
    case '\\':
    case ' ':
    case '\t':
    case '\n':
    case '\r':
    case '\f':
        return true;
    default:
        return false;
    }
}

std::string htmlEscapedAmpersands(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else
            out += c;
    }
    return out;
}

std::string failureLine(
    const std::string& subject, const std::string& description, const char* fallback)
{
    return subject + " — " + (description.empty() ? std::string(fallback) : description);
}

} // namespace

std::uint64_t localCopyQueryHash(std::string_view query)
{
    std::uint64_t hash = 1469598103934665603ULL;
    for (unsigned char byte : query) {
        hash ^= byte;
        hash *= 1099511628211ULL;
    }
    return hash;
}

std::optional<std::vector<std::string>> localCopyComponents(
    std::string_view sourceURL, std::string_view pageURL)
{
    auto source = parsePlainAddress(sourceURL);
    if (!source || source->scheme == "file" || source->host.empty())
        return std::nullopt;
    std::vector<std::string> names = pathNames(source->path);
    if (names.empty() || endsWithSeparator(source->path))
        names.push_back("index.html");

    auto page = parsePlainAddress(pageURL);
    if (page && !page->host.empty() && page->host != source->host)
        names.insert(names.begin(), { "_external", source->host });

    if (source->query) {
        std::string& last = names.back();
        std::string suffix = "-" + hexHash(localCopyQueryHash(*source->query));
        std::size_t dot = extensionDot(last);
        if (dot != std::string::npos)
            last = last.substr(0, dot) + suffix + last.substr(dot);
        else
            last += suffix;
    }
    for (std::string& name : names)
        name = boundedName(inertName(std::move(name)));
    return names;
}

std::optional<fs::path> localFileForSourceURL(
    std::string_view sourceURL, const std::optional<fs::path>& workspace, std::string_view pageURL)
{
    if (!workspace)
        return std::nullopt;
    auto source = parsePlainAddress(sourceURL);
    if (source && source->scheme == "file") {
        auto path = pathFromFileURL(sourceURL);
        if (!path || !isPathStrictlyInside(*path, *workspace))
            return std::nullopt;
        return standardizedPath(*path);
    }
    auto names = localCopyComponents(sourceURL, pageURL);
    if (!names)
        return std::nullopt;
    fs::path file = *workspace;
    for (const std::string& name : *names)
        file /= name;
    return file;
}

std::string relativeLocalLink(
    const std::vector<std::string>& from, const std::vector<std::string>& to)
{
    std::size_t folderCount = from.empty() ? 0 : from.size() - 1;
    std::size_t common = 0;
    while (common < folderCount && common < to.size() && from[common] == to[common])
        ++common;
    std::string link;
    for (std::size_t i = common; i < folderCount; ++i)
        link += link.empty() ? ".." : "/..";
    for (std::size_t i = common; i < to.size(); ++i) {
        if (to[i].empty())
            continue;
        if (!link.empty())
            link += '/';
        link += percentEncode(to[i], URLComponent::LinkSegment);
    }
    return link.empty() ? "./index.html" : link;
}

std::optional<std::string> relativeLocalPathForSourceURL(
    std::string_view sourceURL, std::string_view fileURL, std::string_view pageURL)
{
    auto to = localCopyComponents(sourceURL, pageURL);
    auto from = localCopyComponents(fileURL, pageURL);
    if (!to || !from)
        return std::nullopt;
    return relativeLocalLink(*from, *to);
}

LocalCopyLinkRewriter::LocalCopyLinkRewriter(
    const std::vector<SourceResource>& resources, std::string pageURL)
    : m_pageURL(std::move(pageURL))
{
    for (const SourceResource& resource : resources) {
        auto address = parsePlainAddress(resource.url);
        auto names = localCopyComponents(resource.url, m_pageURL);
        if (!address || !names)
            continue;
        m_targets.push_back(
            { resource.url, address->host, address->path, address->query, std::move(*names) });
    }
}

namespace {

// The text with the edits in place and nothing else changed.
std::string withEdits(std::string_view text, const std::vector<LocalCopyLinkRewriter::Edit>& edits)
{
    std::string out;
    std::size_t done = 0;
    for (const auto& edit : edits) {
        out += text.substr(done, edit.offset - done);
        out += edit.replacement;
        done = edit.offset + edit.length;
    }
    out += text.substr(done);
    return out;
}

} // namespace

std::string LocalCopyLinkRewriter::rewrite(std::string_view text, std::string_view fileURL,
    std::string_view kind, const std::vector<Edit>& edits) const
{
    auto from = localCopyComponents(fileURL, m_pageURL);
    auto fileAddress = parsePlainAddress(fileURL);
    if (!from || !fileAddress)
        return withEdits(text, edits);
    bool html = kind == "html";

    // Keys of one resource come before shorter, derived ones of another: a path alone only
    // names a resource when no listed address is exactly that text.
    std::unordered_map<std::string, std::string> links;
    std::unordered_map<std::string, std::string> derived;
    auto addKey = [&](std::unordered_map<std::string, std::string>& table, std::string key,
                      const std::string& link) {
        if (key.empty())
            return;
        if (html && key.find('&') != std::string::npos)
            table.emplace(htmlEscapedAmpersands(key), link);
        table.emplace(std::move(key), link);
    };
    for (const Target& target : m_targets) {
        std::string link = relativeLocalLink(*from, target.components);
        addKey(links, target.url, link);
        std::size_t colon = target.url.find(':');
        if (startsWith(std::string_view(target.url).substr(colon + 1), "//"))
            addKey(links, target.url.substr(colon + 1), link);
        if (target.host != fileAddress->host || target.path.size() < 2)
            continue;
        if (target.query)
            addKey(links, target.path + "?" + *target.query, link);
        addKey(target.query ? derived : links, target.path, link);
    }
    for (auto& entry : derived)
        links.emplace(entry.first, entry.second);
    if (links.empty())
        return withEdits(text, edits);

    std::vector<std::size_t> lengths;
    std::array<bool, 256> firstBytes {};
    for (const auto& entry : links) {
        lengths.push_back(entry.first.size());
        firstBytes[static_cast<unsigned char>(entry.first[0])] = true;
    }
    std::sort(lengths.begin(), lengths.end(), std::greater<>());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());

    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    auto edit = edits.begin();
    while (i < text.size()) {
        if (edit != edits.end() && edit->offset == i) {
            out += edit->replacement;
            i += edit->length;
            ++edit;
            continue;
        }
        std::size_t limit = edit != edits.end() ? edit->offset : text.size();
        bool atStart = i == 0 || isTokenStart(text[i - 1]);
        if (atStart && firstBytes[static_cast<unsigned char>(text[i])]) {
            const std::string* replacement = nullptr;
            std::size_t matched = 0;
            for (std::size_t length : lengths) {
                if (i + length > limit)
                    continue;
                if (i + length < text.size() && !isTokenEnd(text[i + length]))
                    continue;
                auto found = links.find(std::string(text.substr(i, length)));
                if (found != links.end()) {
                    replacement = &found->second;
                    matched = length;
                    break;
                }
            }
            if (replacement) {
                out += *replacement;
                i += matched;
                continue;
            }
        }
        out += text[i];
        ++i;
    }
    return out;
}

void LocalCopyFailures::add(std::string line)
{
    ++m_count;
    if (m_lines.size() < kMaxLocalCopyFailureLines)
        m_lines.push_back(std::move(line));
}

std::optional<std::string> localCopyBuildRefusal(bool hasPage, std::size_t resourceCount)
{
    if (!hasPage || resourceCount == 0)
        return "Open a website and refresh the file list first.";
    if (resourceCount > kMaxLocalCopyResources)
        return "This page uses more than 200 resources. Save a smaller page copy to keep the "
               "local project manageable.";
    return std::nullopt;
}

LocalCopyDownloads::LocalCopyDownloads(const std::vector<SourceResource>& resources)
{
    for (const SourceResource& resource : resources) {
        auto address = parsePlainAddress(resource.url);
        if (address && address->isHTTP() && !address->host.empty()) {
            m_transfers.push_back(resource);
            m_known.insert(resource.url);
        }
    }
    m_depths.assign(m_transfers.size(), 0);
    m_states.assign(m_transfers.size(), State::Waiting);
    m_running.assign(m_transfers.size(), std::string());
}

void LocalCopyDownloads::followReferences(std::size_t i, const std::string& body)
{
    const SourceResource& file = m_transfers[i];
    if (file.kind != "html" && file.kind != "css" && file.kind != "js")
        return;
    std::size_t depth = m_depths[i] + 1;
    for (SourceResource& named : localCopyNamedResources(body, file.kind, file.url)) {
        if (!m_known.insert(named.url).second)
            continue;
        auto address = parsePlainAddress(named.url);
        std::string subject = address ? address->host : named.url;
        if (depth > kMaxLocalCopyReferenceDepth) {
            m_failures.add(failureLine(subject, "References nested too deeply", ""));
            continue;
        }
        if (m_transfers.size() >= kMaxLocalCopyResources) {
            m_failures.add(failureLine(subject, "Project exceeds 200 files", ""));
            continue;
        }
        m_transfers.push_back(std::move(named));
        m_depths.push_back(depth);
        m_states.push_back(State::Waiting);
        m_running.emplace_back();
    }
}

void LocalCopyDownloads::fail(std::size_t i, const std::string& description)
{
    m_totalBytes -= m_running[i].size();
    std::string().swap(m_running[i]);
    m_states[i] = State::Done;
    ++m_completed;
    auto address = parsePlainAddress(m_transfers[i].url);
    std::string subject = address && !address->host.empty() ? address->host : m_transfers[i].url;
    m_failures.add(failureLine(subject, description, "Download failed"));
}

bool LocalCopyDownloads::begin(std::size_t i)
{
    if (i >= m_transfers.size() || m_states[i] != State::Waiting)
        return false;
    if (m_totalBytes >= kMaxLocalCopyTotalBytes) {
        fail(i, "Project exceeds 50 MB");
        return false;
    }
    m_states[i] = State::Running;
    return true;
}

void LocalCopyDownloads::noteContentType(std::size_t i, std::string_view contentType)
{
    if (i >= m_transfers.size() || m_states[i] != State::Running)
        return;
    std::string type = toLowerAscii(std::string(contentType.substr(0, contentType.find(';'))));
    while (!type.empty() && type.back() == ' ')
        type.pop_back();
    if (type == "text/css")
        m_transfers[i].kind = "css";
    else if (type == "text/javascript" || type == "application/javascript"
        || type == "application/ecmascript" || type == "text/ecmascript")
        m_transfers[i].kind = "js";
    else if (type == "text/html")
        m_transfers[i].kind = "html";
}

bool LocalCopyDownloads::append(std::size_t i, std::string_view bytes)
{
    if (i >= m_transfers.size() || m_states[i] != State::Running)
        return false;
    if (m_running[i].size() + bytes.size() > kMaxLocalCopyFileBytes) {
        fail(i, "File exceeds 8 MB");
        return false;
    }
    if (m_totalBytes + bytes.size() > kMaxLocalCopyTotalBytes) {
        fail(i, "Project exceeds 50 MB");
        return false;
    }
    m_running[i].append(bytes);
    m_totalBytes += bytes.size();
    return true;
}

void LocalCopyDownloads::finish(
    std::size_t i, std::optional<std::string> transportError, int httpStatus)
{
    if (i >= m_transfers.size() || m_states[i] != State::Running)
        return;
    if (transportError) {
        fail(i, *transportError);
        return;
    }
    if (httpStatus < 200 || httpStatus > 299) {
        fail(i, "HTTP " + std::to_string(httpStatus));
        return;
    }
    m_states[i] = State::Done;
    ++m_completed;
    // The bytes already count in the total; a later duplicate address replaces the body.
    auto [stored, inserted] = m_bodies.try_emplace(m_transfers[i].url);
    if (!inserted)
        m_totalBytes -= stored->second.size();
    stored->second = std::move(m_running[i]);
    std::string().swap(m_running[i]);
    followReferences(i, stored->second);
}

std::string LocalCopyDownloads::progressStatus() const
{
    return "Downloading local copy · " + std::to_string(m_completed) + "/"
        + std::to_string(m_transfers.size());
}

std::vector<LocalCopyFile> localCopyFiles(const std::vector<SourceResource>& resources,
    const std::map<std::string, std::string>& bodies, const std::string& pageURL,
    const fs::path& workspace)
{
    std::vector<const SourceResource*> ordered;
    for (const SourceResource& resource : resources)
        ordered.push_back(&resource);
    std::stable_sort(ordered.begin(), ordered.end(),
        [](const SourceResource* a, const SourceResource* b) { return a->url < b->url; });

    LocalCopyLinkRewriter rewriter(resources, pageURL);
    // What the copy holds, by address: a reference resolves to one of these or stays as written.
    std::map<std::string, std::vector<std::string>> copied;
    for (const SourceResource& resource : resources) {
        if (!bodies.count(resource.url))
            continue;
        if (auto names = localCopyComponents(resource.url, pageURL))
            copied.emplace(resource.url, std::move(*names));
    }
    std::vector<LocalCopyFile> files;
    std::map<std::string, bool> done;
    for (const SourceResource* resource : ordered) {
        auto body = bodies.find(resource->url);
        if (body == bodies.end() || !done.emplace(resource->url, true).second)
            continue;
        auto names = copied.find(resource->url);
        if (names == copied.end())
            continue;
        fs::path path = workspace;
        for (const std::string& name : names->second)
            path /= name;
        const std::string& kind = resource->kind;
        bool rewritable = kind == "html" || kind == "css" || kind == "js";
        // Text that is not UTF-8 is kept byte for byte: its links stay, the file still exists.
        // What a file names resolves against that file; other addresses a script writes
        // resolve against the document running it.
        const std::string& base = kind == "js" ? pageURL : resource->url;
        if (rewritable && isValidUtf8(body->second))
            files.push_back({ resource->url, names->second, path,
                rewriteLocalCopyReferences(body->second, kind, resource->url, names->second,
                    copied, rewriter, base) });
        else
            files.push_back({ resource->url, names->second, path, body->second });
    }
    return files;
}

LocalCopyFailures writeLocalCopyFiles(const std::vector<LocalCopyFile>& files, NewFolder& folder)
{
    LocalCopyFailures failures;
    for (const LocalCopyFile& file : files) {
        std::string name = file.names.empty() ? file.url : file.names.back();
        // The copy is rebuilt from the site at will, so it is not flushed to disk file by file.
        auto written = folder.writeFile(file.names, file.contents);
        if (!written)
            failures.add(failureLine(name, written.error(), "Write failed"));
    }
    return failures;
}

std::string localCopyFolderName(std::string_view pageURL)
{
    auto address = parsePlainAddress(pageURL);
    std::string host = address && !address->host.empty() ? address->host : "website";
    std::replace(host.begin(), host.end(), ':', '-');
    host = boundedName(inertName(plainName(host)));
    return isPlainFileName(host) ? host : "website";
}

std::string localCopyFinishedStatus(const fs::path& workspace, const LocalCopyFailures& downloads,
    const LocalCopyFailures& writes, const fs::path& mainFile)
{
    std::size_t failed = downloads.count() + writes.count();
    if (failed == 0)
        return "Local copy ready · " + workspace.string();
    return "Local copy created at " + workspace.string() + " · " + std::to_string(failed)
        + " file(s) skipped or failed. Main file: " + mainFile.string();
}

std::string localCopyFolderFailureStatus(const fs::path& chosen, const std::string& error)
{
    return "Could not create a folder for the local copy in " + chosen.string() + ": " + error;
}

std::optional<std::string> localCopySkippedFilesLog(
    const LocalCopyFailures& downloads, const LocalCopyFailures& writes)
{
    std::string joined;
    for (const auto* phase : { &downloads, &writes }) {
        for (const std::string& line : phase->lines()) {
            if (!joined.empty())
                joined += "; ";
            joined += line;
        }
    }
    if (joined.empty())
        return std::nullopt;
    return "Quivel local-copy skipped files: " + joined;
}

bool localCopyServesPage(
    const std::optional<std::string>& workspacePageURL, std::string_view pageURL)
{
    return workspacePageURL && !pageURL.empty()
        && withoutFragment(*workspacePageURL) == withoutFragment(pageURL);
}

bool isLocalPreviewURL(std::string_view webViewURL, const std::optional<fs::path>& workspace)
{
    if (!workspace)
        return false;
    auto path = pathFromFileURL(webViewURL);
    return path && isPathStrictlyInside(*path, *workspace);
}

bool showsSourcePage(std::string_view webViewURL, std::string_view sourceEditorURL,
    const std::optional<fs::path>& workspace, const std::optional<std::string>& workspacePageURL)
{
    if (sourceEditorURL.empty())
        return false;
    if (webViewURL == sourceEditorURL)
        return true;
    if (!localCopyServesPage(workspacePageURL, sourceEditorURL))
        return false;
    auto shown = pathFromFileURL(webViewURL);
    auto local = localFileForSourceURL(sourceEditorURL, workspace, sourceEditorURL);
    return shown && local && standardizedPath(*shown) == standardizedPath(*local);
}

std::string localCopyZipName(std::string_view pageURL)
{
    auto address = parsePlainAddress(pageURL);
    std::string host = address && !address->host.empty() ? address->host : "website";
    // The parser allows ":" in IPv6 hosts; keep the proposed name portable.
    std::replace(host.begin(), host.end(), ':', '-');
    return host + "-local-copy.zip";
}

bool isZipDestinationInsideCopy(const fs::path& destination, const fs::path& workspace)
{
    return isPathStrictlyInside(destination, workspace);
}

} // namespace qv
