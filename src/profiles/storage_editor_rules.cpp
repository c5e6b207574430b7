// Storage editor origins, page scripts and answers, texts, key-file export and import.
#include "profiles/storage_editor_rules.h"

#include "base/atomic_file.h"
#include "base/json_text.h"
#include "base/text_util.h"
#include "base/url.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <system_error>

namespace qv {

namespace fs = std::filesystem;

namespace {

    bool lessIgnoringCase(std::string_view a, std::string_view b)
    {
        std::string la = toLowerAscii(a), lb = toLowerAscii(b);
        return la != lb ? la < lb : a < b;
    }

    std::string hex64(std::uint64_t value)
    {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
        return text;
    }

    std::uint64_t fnv1a(std::string_view text)
    {
        std::uint64_t hash = 14695981039346656037ull;
        for (char c : text) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 1099511628211ull;
        }
        return hash;
    }

    // A string literal for a page script, or nothing for text that has no exact JSON form.
    std::optional<std::string> scriptString(std::string_view text)
    {
        if (!isValidUtf8(text))
            return std::nullopt;
        return jsonForScript(Json(std::string(text)));
    }

    std::string pairsLiteral(const std::vector<StorageEntry>& entries)
    {
        Json pairs = Json::array();
        for (const auto& entry : entries)
            pairs.push_back(Json::array({ entry.key, entry.value }));
        return jsonForScript(pairs);
    }

    constexpr std::string_view kEmptyKeyStem = "storage-key~empty";
    constexpr size_t kMaxKeyStemBytes = 200;
    constexpr size_t kShortenedStemBytes = 180;
    constexpr std::string_view kKeyFileExtension = ".json";

    std::string fileNameOf(const fs::path& path) { return path.filename().string(); }

    bool hasJsonExtension(const fs::path& path)
    {
        return toLowerAscii(path.extension().string()) == kKeyFileExtension;
    }

} // namespace

std::optional<std::string> originForStorageURL(std::string_view address)
{
    auto parts = parseURL(address);
    if (!parts || parts->scheme.empty() || parts->host.empty())
        return std::nullopt;
    std::string origin = parts->scheme + "://";
    if (parts->userInfo)
        origin += *parts->userInfo + "@";
    origin += parts->hostText();
    if (parts->port && !parts->port->empty())
        origin += ":" + *parts->port;
    return origin;
}

std::optional<size_t> storageTabIndex(
    const std::vector<StorageTab>& tabs, std::string_view profileID, std::string_view origin)
{
    for (size_t i = 0; i < tabs.size(); ++i) {
        const auto& tab = tabs[i];
        if (tab.profileID != profileID || !tab.hasWebView)
            continue;
        auto tabOrigin = originForStorageURL(tab.webViewURL);
        if (!tabOrigin)
            tabOrigin = originForStorageURL(tab.storedURL);
        if (tabOrigin == origin)
            return i;
    }
    return std::nullopt;
}

std::vector<std::string> storageWebsiteChoices(const std::vector<std::string>& webViewURLs)
{
    std::set<std::string> origins;
    for (const auto& url : webViewURLs)
        if (auto origin = originForStorageURL(url))
            origins.insert(*origin);
    std::vector<std::string> choices(origins.begin(), origins.end());
    std::sort(choices.begin(), choices.end(), lessIgnoringCase);
    return choices;
}

std::string storageResetStatus(const std::vector<std::string>& websiteChoices)
{
    return std::string(
        websiteChoices.empty() ? kStorageNoOriginsStatus : kStorageChooseOriginStatus);
}

void sortStorageEntries(std::vector<StorageEntry>& entries)
{
    std::sort(entries.begin(), entries.end(), [](const StorageEntry& a, const StorageEntry& b) {
        return lessIgnoringCase(a.key, b.key);
    });
}

std::string_view storageReadScript()
{
    // Keys or values holding a lone surrogate have no UTF-8 form and would spoil the whole
    // answer, so they are left out.
    return R"JS((() => { const s = window.localStorage; const out = []; const whole = (t) => !/[\uD800-\uDFFF]/.test(t.replace(/[\uD800-\uDBFF][\uDC00-\uDFFF]/g, '')); for (let i = 0; i < s.length; i++) { const key = s.key(i); if (key === null) continue; const value = s.getItem(key); if (!whole(key) || (value !== null && !whole(value))) continue; out[out.length] = [key, value === null ? '' : value]; } return JSON.stringify(out); })())JS";
}

std::string storageSaveScript(
    std::string_view key, std::string_view value, const std::optional<std::string>& oldKey)
{
    std::string keyText = scriptString(key).value_or("\"\"");
    std::string valueText = scriptString(value).value_or("\"\"");
    std::string oldKeyText
        = oldKey && !oldKey->empty() ? scriptString(*oldKey).value_or("null") : "null";
    return "(() => { const s = window.localStorage; const key = " + keyText
        + ", value = " + valueText + ", oldKey = " + oldKeyText
        + "; const renaming = oldKey !== null && oldKey !== key; if (renaming && s.getItem(key) "
          "!== null) return JSON.stringify({conflict: true}); s.setItem(key, value); if "
          "(renaming) s.removeItem(oldKey); return JSON.stringify({conflict: false, value: "
          "s.getItem(key)}); })()";
}

std::string storageDeleteScript(const std::vector<std::string>& keys)
{
    Json list = Json::array();
    for (const auto& key : keys)
        list.push_back(key);
    return "(() => { const s = window.localStorage; const keys = " + jsonForScript(list)
        + "; for (let i = 0; i < keys.length; i++) s.removeItem(keys[i]); return true; })()";
}

std::string storageImportScript(const std::vector<StorageEntry>& entries)
{
    return "(() => { const s = window.localStorage; const pairs = " + pairsLiteral(entries)
        + "; for (let i = 0; i < pairs.length; i++) s.setItem(pairs[i][0], pairs[i][1]); return "
          "true; })()";
}

bool storageResultWithinLimit(size_t length) { return length <= kMaxStorageResultLength; }

Result<std::vector<StorageEntry>> parseStorageReadResult(std::string_view json)
{
    if (!storageResultWithinLimit(json.size()))
        return Result<std::vector<StorageEntry>>::failure("the page returned too much data.");
    auto parsed = parseJson(json);
    if (!parsed || !parsed->is_array())
        return Result<std::vector<StorageEntry>>::failure("the page returned no storage list.");
    std::vector<StorageEntry> entries;
    std::set<std::string> seen;
    for (const auto& element : *parsed) {
        if (!element.is_array() || element.size() != 2 || !element[0].is_string())
            continue;
        const auto& value = element[1];
        if (!value.is_string() && !value.is_null())
            continue;
        std::string key = element[0].get<std::string>();
        if (!seen.insert(key).second)
            continue;
        entries.push_back({ std::move(key), value.is_string() ? value.get<std::string>() : "" });
    }
    sortStorageEntries(entries);
    return entries;
}

Result<StorageSaveAnswer> parseStorageSaveResult(std::string_view json)
{
    if (!storageResultWithinLimit(json.size()))
        return Result<StorageSaveAnswer>::failure("the page returned too much data.");
    auto parsed = parseJson(json);
    if (!parsed || !parsed->is_object())
        return Result<StorageSaveAnswer>::failure("the page returned no answer.");
    StorageSaveAnswer answer;
    answer.conflict = jsonBool(*parsed, "conflict");
    auto value = parsed->find("value");
    if (value != parsed->end() && value->is_string())
        answer.value = value->get<std::string>();
    return answer;
}

Result<StorageSaveRequest> storageSaveRequest(bool profileSelected,
    const std::optional<std::string>& website, std::string_view keyFieldText,
    std::string_view valueText, const std::optional<std::string>& editingKey)
{
    std::string_view key = keyFieldText;
    while (!key.empty() && (key.front() == '\n' || key.front() == '\r'))
        key.remove_prefix(1);
    while (!key.empty() && (key.back() == '\n' || key.back() == '\r'))
        key.remove_suffix(1);
    if (!profileSelected || !website || website->empty() || key.empty())
        return Result<StorageSaveRequest>::failure(std::string(kStorageNeedKeyStatus));
    if (!isValidUtf8(key) || !isValidUtf8(valueText) || (editingKey && !isValidUtf8(*editingKey)))
        return Result<StorageSaveRequest>::failure(std::string(kStorageUnreachableStatus));
    return StorageSaveRequest { std::string(key), storageSaveScript(key, valueText, editingKey) };
}

bool storageRenameConflicts(const std::vector<StorageEntry>& entries, std::string_view key,
    const std::optional<std::string>& oldKey)
{
    if (!oldKey || oldKey->empty() || *oldKey == key)
        return false;
    return std::any_of(entries.begin(), entries.end(),
        [&](const StorageEntry& entry) { return entry.key == key; });
}

StorageSaveOutcome storageSaveOutcome(const Result<StorageSaveAnswer>& answer,
    std::string_view editorText, std::string_view key, std::string_view origin)
{
    if (answer.ok() && answer->conflict)
        return { std::string(kStorageConflictStatus), false };
    if (!answer.ok())
        return { "Could not save value: " + answer.error(), false };
    if (answer->value && *answer->value == editorText)
        return { "Saved and verified " + std::string(key) + " in " + std::string(origin) + ".",
            true };
    return { std::string(kStorageUnconfirmedStatus), false };
}

std::string storageReadingStatus(std::string_view origin)
{
    return "Reading " + std::string(origin) + " localStorage\u2026";
}

std::string storageReadFailedStatus(std::string_view reason)
{
    return "Could not read storage: " + std::string(reason);
}

std::string storageReadStatus(std::string_view origin, size_t count)
{
    return std::string(origin) + " \u00B7 " + std::to_string(count) + " key(s)";
}

std::optional<size_t> editingRowAfterRead(
    const std::vector<StorageEntry>& entries, const std::optional<std::string>& editingKey)
{
    if (!editingKey)
        return std::nullopt;
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].key == *editingKey)
            return i;
    return std::nullopt;
}

std::optional<Confirmation> storageDeleteConfirmation(size_t selectedCount, std::string_view origin)
{
    if (selectedCount == 0)
        return std::nullopt;
    return Confirmation { "Delete " + std::to_string(selectedCount) + " selected storage key(s)?",
        "This removes the selected localStorage keys for " + std::string(origin)
            + " in this profile.",
        { "Delete Keys", "Cancel" }, 0 };
}

std::optional<StorageDeleteRequest> storageDeleteRequest(const std::vector<StorageEntry>& entries,
    const std::vector<size_t>& selectedRows, const std::optional<std::string>& website)
{
    if (!website || website->empty())
        return std::nullopt;
    std::set<size_t> rows(selectedRows.begin(), selectedRows.end());
    StorageDeleteRequest request;
    for (size_t row : rows)
        if (row < entries.size())
            request.keys.push_back(entries[row].key);
    auto confirmation = storageDeleteConfirmation(request.keys.size(), *website);
    if (!confirmation)
        return std::nullopt;
    request.confirmation = std::move(*confirmation);
    request.origin = *website;
    request.script = storageDeleteScript(request.keys);
    return request;
}

std::string storageDeleteFailedStatus(std::string_view reason)
{
    return "Could not delete keys: " + std::string(reason);
}

std::string storageExportFolderName(std::string_view origin)
{
    std::string name;
    for (char c : origin)
        name += isAsciiAlnum(c) ? c : '_';
    if (name.find_first_not_of('_') == std::string::npos)
        return "website";
    if (name.size() > kMaxKeyStemBytes)
        name = name.substr(0, kShortenedStemBytes) + "_" + hex64(fnv1a(origin));
    return name;
}

std::string storageKeyFileName(std::string_view key)
{
    if (key.empty())
        return std::string(kEmptyKeyStem) + std::string(kKeyFileExtension);
    std::string stem = percentEncode(key, URLComponent::PortableFileName);
    // A leading "." would hide the file.
    if (stem[0] == '.')
        stem.replace(0, 1, "%2E");
    std::vector<size_t> boundaries; // where each key byte's text starts
    for (size_t i = 0; i < stem.size(); i += stem[i] == '%' ? 3 : 1)
        boundaries.push_back(i);
    if (stem.size() > kMaxKeyStemBytes) {
        size_t cut = 0;
        for (size_t start : boundaries)
            if (start <= kShortenedStemBytes)
                cut = start;
        stem = stem.substr(0, cut) + "~" + hex64(fnv1a(key));
    }
    return stem + std::string(kKeyFileExtension);
}

std::optional<std::string> storageKeyFromFileName(std::string_view fileName)
{
    if (!endsWith(fileName, kKeyFileExtension))
        return std::nullopt;
    std::string_view stem = fileName.substr(0, fileName.size() - kKeyFileExtension.size());
    if (stem == kEmptyKeyStem)
        return std::string();
    if (stem.empty() || stem.front() == '.')
        return std::nullopt;
    auto key = percentDecode(stem);
    // Only the one spelling this encoder makes stands for a key.
    if (!key || storageKeyFileName(*key) != fileName)
        return std::nullopt;
    return key;
}

std::vector<std::string> storageKeyFileNames(const std::vector<std::string>& keys)
{
    std::vector<std::string> names;
    std::set<std::string> taken; // lower case
    for (const auto& key : keys) {
        std::string name = storageKeyFileName(key);
        std::string stem = name.substr(0, name.size() - kKeyFileExtension.size());
        for (int n = 2; taken.count(toLowerAscii(name)); ++n)
            name = stem + "~" + std::to_string(n) + std::string(kKeyFileExtension);
        taken.insert(toLowerAscii(name));
        names.push_back(std::move(name));
    }
    return names;
}

std::string storageKeyFileText(const StorageEntry& entry)
{
    Json object = Json::object();
    object[entry.key] = entry.value;
    return dumpJson(object, 2) + "\n";
}

Result<std::string> exportStorageEntries(
    const fs::path& chosenFolder, std::string_view origin, const std::vector<StorageEntry>& entries)
{
    auto failed = [](const std::string& reason) {
        return Result<std::string>::failure("Export failed: " + reason);
    };
    fs::path folder = chosenFolder / storageExportFolderName(origin);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return failed("could not create " + folder.string() + ": " + ec.message());
    std::vector<std::string> keys;
    for (const auto& entry : entries)
        keys.push_back(entry.key);
    std::vector<std::string> names = storageKeyFileNames(keys);
    for (size_t i = 0; i < entries.size(); ++i) {
        fs::path file = folder / names[i];
        if (file.parent_path() != folder)
            return failed("unsafe file name for key " + entries[i].key);
        auto written = writeFileAtomically(file, storageKeyFileText(entries[i]));
        if (!written)
            return failed(written.error());
    }
    return "Exported " + std::to_string(entries.size()) + " JSON key file(s) into "
        + folder.string() + ".";
}

std::vector<fs::path> storageImportFiles(const std::vector<fs::path>& dropped)
{
    std::vector<fs::path> files;
    for (const auto& path : dropped) {
        std::error_code ec;
        if (!fs::is_directory(path, ec)) {
            if (hasJsonExtension(path))
                files.push_back(path);
            continue;
        }
        std::vector<fs::path> found;
        fs::recursive_directory_iterator it(
            path, fs::directory_options::skip_permission_denied, ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (startsWith(fileNameOf(it->path()), ".")) {
                it.disable_recursion_pending();
                continue;
            }
            std::error_code typeError;
            if (it->is_regular_file(typeError) && !it->is_symlink(typeError)
                && hasJsonExtension(it->path()))
                found.push_back(it->path());
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

std::string storageImportProgressStatus(size_t read, size_t total)
{
    return "Reading files to import \u00B7 " + std::to_string(read) + "/" + std::to_string(total);
}

StorageImport readStorageImportFiles(
    const std::vector<fs::path>& files, const StorageImportProgress& progress)
{
    std::map<std::string, std::string> merged;
    StorageImport result;
    size_t done = 0;
    for (const auto& file : files) {
        if (progress && !progress(done++, files.size())) {
            result.entries.clear();
            result.cancelled = true;
            return result;
        }
        std::string name = fileNameOf(file);
        // The chooser may name a link, which is read as the file it points to; listing a
        // folder leaves links out.
        FileRead read = readWholeFile(file, kMaxStorageImportFileBytes, FileLinks::Follow);
        if (read.refusal == ReadRefusal::TooLarge) {
            result.lastError = name + " is larger than 16 MB.";
            continue;
        }
        if (read.status != ReadStatus::Ok) {
            result.lastError = "Could not read " + name + ": "
                + (read.status == ReadStatus::Missing ? std::string("no such file") : read.error)
                + ".";
            continue;
        }
        auto parsed = parseJson(read.contents);
        if (!parsed) {
            result.lastError = jsonDepthWithin(read.contents)
                ? name + " is not valid JSON."
                : name + " is " + jsonTooDeepText() + ".";
            continue;
        }
        if (!parsed->is_object()) {
            result.lastError = name + " does not hold a JSON object.";
            continue;
        }
        for (const auto& [key, value] : parsed->items())
            if (value.is_string())
                merged[key] = value.get<std::string>();
        result.lastError.reset();
    }
    for (auto& [key, value] : merged)
        result.entries.push_back({ key, std::move(value) });
    sortStorageEntries(result.entries);
    return result;
}

std::string storageImportedStatus(size_t count, std::string_view origin)
{
    return "Imported " + std::to_string(count) + " key(s) into " + std::string(origin) + ".";
}

std::string storageImportFailedStatus(std::string_view reason)
{
    return "Import failed: " + std::string(reason);
}

std::string storageNothingImportedStatus(const std::optional<std::string>& lastError)
{
    return lastError ? *lastError : std::string(kStorageNothingToImportStatus);
}

} // namespace qv
