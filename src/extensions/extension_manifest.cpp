// Reading extension folders into records, and the extension store's load rules.
#include "extensions/extension_manifest.h"

#include "base/paths.h"
#include "base/text_util.h"
#include "base/url.h"

#include <algorithm>
#include <system_error>

namespace qv {

namespace fs = std::filesystem;

namespace {

bool isIDCharacter(char c) { return kExtensionIDAlphabet.find(c) != std::string_view::npos; }

bool isHidden(const fs::path& path)
{
    std::string name = path.filename().string();
    return !name.empty() && name[0] == '.';
}

std::optional<std::string> nonEmptyString(const Json& object, const char* key)
{
    std::string value = jsonString(object, key);
    if (value.empty())
        return std::nullopt;
    return value;
}

std::optional<std::string> defaultPopup(const Json& manifest, const char* key)
{
    auto it = manifest.find(key);
    if (it == manifest.end() || !it->is_object())
        return std::nullopt;
    return nonEmptyString(*it, "default_popup");
}

// The folder joined with a path the manifest gives as relative; a leading "/" does not make it
// absolute, so "/main.js" names the folder's own main.js.
fs::path joinInside(const fs::path& root, std::string_view relative)
{
    while (!relative.empty() && relative.front() == '/')
        relative.remove_prefix(1);
    return standardizedPath(fs::path(root.string() + "/" + std::string(relative)));
}

// The file the manifest names, checked to be a file inside the folder, also after links are
// followed; its standardized path on success.
Result<fs::path> checkedFileInside(
    const fs::path& root, std::string_view relative, const char* what)
{
    fs::path file = joinInside(root, relative);
    std::string quoted = std::string(what) + " \"" + sanitizeUtf8(relative) + "\"";
    if (!isPathStrictlyInside(file, root))
        return Result<fs::path>::failure("The " + quoted + " is outside the extension folder.");
    std::error_code ec;
    auto status = fs::status(file, ec);
    if (ec || !fs::exists(status))
        return Result<fs::path>::failure("The " + quoted + " does not exist.");
    if (fs::is_directory(status))
        return Result<fs::path>::failure("The " + quoted + " is a folder, not a file.");
    fs::path realFile = fs::canonical(file, ec);
    fs::path realRoot = ec ? fs::path() : fs::canonical(root, ec);
    if (ec || !isPathStrictlyInside(realFile, realRoot))
        return Result<fs::path>::failure("The " + quoted + " is outside the extension folder.");
    return file;
}

std::string relativeTo(const fs::path& file, const fs::path& root)
{
    std::string f = file.string();
    std::string r = root.string();
    return r == "/" ? f.substr(1) : f.substr(r.size() + 1);
}

void findIndexIn(const fs::path& dir, const fs::path& root, std::optional<std::string>& found)
{
    auto items = listVisibleItems(dir);
    if (!items)
        return;
    for (const fs::path& item : items.value()) {
        if (found)
            return;
        std::error_code ec;
        auto linkStatus = fs::symlink_status(item, ec);
        if (ec)
            continue;
        bool isFolder = fs::is_directory(fs::status(item, ec));
        if (!isFolder && toLowerAscii(item.filename().string()) == "index.html") {
            fs::path standardized = standardizedPath(item);
            if (isPathStrictlyInside(standardized, root))
                found = relativeTo(standardized, root);
            return;
        }
        // Linked folders are not followed, so a link loop cannot trap the search.
        if (fs::is_directory(linkStatus))
            findIndexIn(item, root, found);
    }
}

} // namespace

bool isExtensionPermissionName(std::string_view name)
{
    return std::find(kExtensionPermissionNames.begin(), kExtensionPermissionNames.end(), name)
        != kExtensionPermissionNames.end();
}

std::vector<std::string> allExtensionPermissionNames()
{
    return { kExtensionPermissionNames.begin(), kExtensionPermissionNames.end() };
}

bool isValidExtensionID(std::string_view id)
{
    return !id.empty() && std::all_of(id.begin(), id.end(), isIDCharacter);
}

ExtensionID extensionIDFromName(std::string_view name)
{
    std::string joined;
    for (char c : toLowerAscii(name))
        joined += isIDCharacter(c) ? c : '-';
    std::string collapsed;
    for (char c : joined) {
        if (c == '-' && !collapsed.empty() && collapsed.back() == '-')
            continue;
        collapsed += c;
    }
    auto isTrimmed = [](char c) { return c == '-' || c == '_' || c == '.'; };
    size_t begin = 0, end = collapsed.size();
    while (begin < end && isTrimmed(collapsed[begin]))
        ++begin;
    while (end > begin && isTrimmed(collapsed[end - 1]))
        --end;
    return collapsed.substr(begin, end - begin);
}

ExtensionID ExtensionRecord::id() const { return jsonString(manifest, "id"); }

std::string ExtensionRecord::name() const
{
    std::string value = jsonString(manifest, "name");
    return value.empty() ? id() : value;
}

bool ExtensionRecord::isWebsite() const { return jsonString(manifest, "type") == "url"; }

std::string ExtensionRecord::websiteURL() const { return jsonString(manifest, "url"); }

std::vector<std::string> ExtensionRecord::requestedPermissions() const
{
    std::vector<std::string> names;
    auto it = manifest.find("permissions");
    if (it == manifest.end() || !it->is_array())
        return names;
    for (const Json& item : *it) {
        if (item.is_string())
            names.push_back(item.get<std::string>());
    }
    return names;
}

Result<Json> parseManifestText(std::string_view text)
{
    if (text.size() > kMaxManifestBytes)
        return Result<Json>::failure("manifest.json is larger than 1 MB.");
    auto parsed = parseJson(text);
    if (!parsed && !jsonDepthWithin(text))
        return Result<Json>::failure("manifest.json is " + jsonTooDeepText() + ".");
    if (!parsed)
        return Result<Json>::failure("manifest.json is not valid JSON.");
    if (!parsed->is_object())
        return Result<Json>::failure("manifest.json must hold a JSON object.");
    return *parsed;
}

Result<ManifestPlan> planManifest(const Json& manifest, std::string_view folderName)
{
    if (!manifest.is_object())
        return Result<ManifestPlan>::failure("manifest.json must hold a JSON object.");
    ManifestPlan plan;
    plan.manifest = manifest;
    plan.id = nonEmptyString(manifest, "id").value_or(extensionIDFromName(folderName));
    plan.name = nonEmptyString(manifest, "name").value_or(plan.id);
    plan.pagePath = nonEmptyString(manifest, "entry");
    if (!plan.pagePath)
        plan.pagePath = defaultPopup(manifest, "action");
    if (!plan.pagePath)
        plan.pagePath = defaultPopup(manifest, "browser_action");
    // An empty script names no file; it is treated like a missing one.
    plan.scriptPath = nonEmptyString(manifest, "script");

    auto permissions = manifest.find("permissions");
    if (permissions != manifest.end() && permissions->is_array()) {
        for (size_t i = 0; i < permissions->size(); ++i) {
            const Json& item = (*permissions)[i];
            if (!item.is_string()) {
                return Result<ManifestPlan>::failure(
                    "Permission " + std::to_string(i + 1) + " is not a string.");
            }
            std::string name = item.get<std::string>();
            if (!isExtensionPermissionName(name)) {
                return Result<ManifestPlan>::failure(
                    "Unknown permission \"" + sanitizeUtf8(name) + "\".");
            }
            plan.permissions.push_back(name);
        }
    } else {
        plan.permissions = allExtensionPermissionNames();
    }

    if (plan.id.empty())
        return Result<ManifestPlan>::failure("The extension has no ID.");
    if (!isValidExtensionID(plan.id)) {
        return Result<ManifestPlan>::failure("Extension ID \"" + sanitizeUtf8(plan.id)
            + "\" may only use a-z, 0-9, \"-\", \"_\" and \".\".");
    }
    if (plan.name.empty())
        return Result<ManifestPlan>::failure("The extension has no name.");

    plan.manifest["id"] = plan.id;
    plan.manifest["name"] = plan.name;
    plan.manifest["permissions"] = plan.permissions;
    plan.website = toLowerAscii(jsonString(manifest, "type")) == "url";
    if (plan.website) {
        auto url = manifest.find("url");
        if (url == manifest.end() || !url->is_string()
            || !isHTTPURLWithHost(url->get<std::string>())) {
            return Result<ManifestPlan>::failure(
                "A website extension needs an http or https address with a host.");
        }
        plan.websiteURL = url->get<std::string>();
        plan.manifest["type"] = "url";
        plan.manifest["url"] = plan.websiteURL;
        plan.pagePath.reset();
        plan.scriptPath.reset();
    } else {
        plan.manifest["type"] = "file";
    }
    return plan;
}

std::optional<std::string> findIndexHTML(const fs::path& dir)
{
    std::optional<std::string> found;
    findIndexIn(dir, standardizedPath(dir), found);
    return found;
}

std::string runtimeScriptSource(std::string_view relativePath)
{
    return htmlEscaped(percentEncode(relativePath, URLComponent::RelativePath));
}

std::string runtimePageHTML(const std::optional<std::string>& scriptRelativePath)
{
    std::string html = "<!doctype html><html><head><meta charset=\"utf-8\"><title>Extension "
                       "Runtime</title></head><body><p>This Extension has no page UI.</p>";
    if (scriptRelativePath)
        html += "<script src=\"" + runtimeScriptSource(*scriptRelativePath) + "\"></script>";
    html += "</body></html>";
    return html;
}

Result<ExtensionRecord> extensionAtDirectory(const fs::path& dir)
{
    using R = Result<ExtensionRecord>;
    fs::path root = standardizedPath(dir);
    fs::path manifestPath = root / std::string(kManifestFileName);
    Json manifest = Json::object();
    FileRead read = readWholeFile(manifestPath, kMaxManifestBytes);
    if (read.refusal == ReadRefusal::TooLarge)
        return R::failure("manifest.json is larger than 1 MB.");
    if (read.status == ReadStatus::Failed)
        return R::failure("manifest.json could not be read: " + read.error);
    if (read.status == ReadStatus::Ok) {
        auto parsed = parseManifestText(read.contents);
        if (!parsed)
            return R::failure(parsed.error());
        manifest = parsed.value();
    }

    auto plan = planManifest(manifest, root.filename().string());
    if (!plan)
        return R::failure(plan.error());

    ExtensionRecord record;
    record.manifest = plan->manifest;
    record.rootURL = dir;
    if (plan->website)
        return record;

    std::optional<std::string> page = plan->pagePath;
    if (!page)
        page = findIndexHTML(root);
    if (page) {
        auto entry = checkedFileInside(root, *page, "page");
        if (!entry)
            return R::failure(entry.error());
        record.entryURL = entry.value();
        return record;
    }

    std::optional<std::string> script;
    if (plan->scriptPath) {
        auto file = checkedFileInside(root, *plan->scriptPath, "script");
        if (!file)
            return R::failure(file.error());
        // The page loads the file that was checked, not a differently read spelling of it.
        script = relativeTo(file.value(), root);
    }
    fs::path runtimePage = root / std::string(kRuntimePageFileName);
    auto written = writeFileAtomically(runtimePage, runtimePageHTML(script));
    if (!written)
        return R::failure("Could not write the runtime page: " + written.error());
    record.entryURL = runtimePage;
    return record;
}

Result<std::vector<fs::path>> listVisibleItems(const fs::path& dir)
{
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec)
        return Result<std::vector<fs::path>>::failure(ec.message());
    std::vector<fs::path> items;
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (!isHidden(it->path()))
            items.push_back(it->path());
    }
    if (ec)
        return Result<std::vector<fs::path>>::failure(ec.message());
    std::sort(items.begin(), items.end(),
        [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
    return items;
}

std::string duplicateExtensionLogLine(const ExtensionID& id)
{
    return "Duplicate Quivel Extension ID ignored: " + id;
}

std::string extensionsDirectoryUnavailableLogLine(const std::string& error)
{
    return "Quivel Extensions directory unavailable: " + error;
}

void addExtensionRecord(ExtensionLoad& load, ExtensionRecord record)
{
    ExtensionID id = record.id();
    if (load.extensions.count(id)) {
        load.logLines.push_back(duplicateExtensionLogLine(id));
        return;
    }
    load.extensions.emplace(id, std::move(record));
}

ExtensionLoad loadExtensionRecords(const fs::path& store)
{
    ExtensionLoad load;
    auto items = listVisibleItems(store);
    if (!items) {
        load.logLines.push_back(extensionsDirectoryUnavailableLogLine(items.error()));
        return load;
    }
    for (const fs::path& item : items.value()) {
        std::error_code ec;
        if (!fs::is_directory(fs::symlink_status(item, ec)))
            continue;
        auto record = extensionAtDirectory(item);
        if (record)
            addExtensionRecord(load, std::move(record.value()));
    }
    return load;
}

BundledCopy bundledCopyDecision(
    const FileRead& manifest, const std::set<ExtensionID>& deleted, bool destinationExists)
{
    if (manifest.status == ReadStatus::Ok) {
        auto parsed = parseJson(manifest.contents);
        if (parsed && parsed->is_object()) {
            auto id = parsed->find("id");
            if (id != parsed->end() && id->is_string() && deleted.count(id->get<std::string>()))
                return BundledCopy::SkipDeleted;
        }
    }
    return destinationExists ? BundledCopy::SkipExisting : BundledCopy::Copy;
}

void copyBundledExtensions(
    const fs::path& bundled, const fs::path& store, const std::set<ExtensionID>& deleted)
{
    auto items = listVisibleItems(bundled);
    if (!items)
        return;
    for (const fs::path& item : items.value()) {
        std::error_code ec;
        fs::path destination = store / item.filename();
        bool exists = fs::exists(fs::symlink_status(destination, ec));
        // Packagers may put links among the installed resources.
        FileRead manifest = readWholeFile(
            item / std::string(kManifestFileName), kMaxManifestBytes, FileLinks::Follow);
        if (bundledCopyDecision(manifest, deleted, exists) != BundledCopy::Copy)
            continue;
        fs::copy(
            item, destination, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    }
}

std::set<ExtensionID> extensionIDSetFromDefaults(const Json& value)
{
    std::set<ExtensionID> ids;
    if (!value.is_array())
        return ids;
    for (const Json& item : value) {
        if (item.is_string())
            ids.insert(item.get<std::string>());
    }
    return ids;
}

Json extensionIDSetToDefaults(const std::set<ExtensionID>& ids)
{
    Json array = Json::array();
    for (const ExtensionID& id : ids)
        array.push_back(id);
    return array;
}

} // namespace qv
