// The defaults document: validation on read, atomic rewrite on every change.
#include "base/user_defaults.h"

#include "base/atomic_file.h"
#include "base/bad_file.h"
#include "base/file_writer.h"
#include "base/text_util.h"

#include <system_error>

namespace qv {

namespace fs = std::filesystem;

std::optional<DefaultsType> defaultsTypeForKey(std::string_view key)
{
    if (key == kDarkModeKey || key == kUnloadTabsUnderMemoryPressureKey
        || key == kRestoreSessionOnLaunchKey || key == kInlineCompletionKey)
        return DefaultsType::Boolean;
    if (key == kCurrentProfileKey || key == kLocalCopyMarkKey)
        return DefaultsType::String;
    if (key == kProfilesKey || key == kEnabledExtensionsKey || key == kDeletedBundledExtensionsKey)
        return DefaultsType::Array;
    if (key == kExtensionPermissionsKey || key == kContentBlockingAllowedSitesKey || key == kSitePermissionsKey
        || startsWith(key, kExtensionStoragePrefix))
        return DefaultsType::Object;
    return std::nullopt;
}

static bool hasType(const Json& value, DefaultsType type)
{
    switch (type) {
    case DefaultsType::Boolean:
        return value.is_boolean();
    case DefaultsType::String:
        return value.is_string();
    case DefaultsType::Array:
        return value.is_array();
    case DefaultsType::Object:
        return value.is_object();
    }
    return false;
}

DefaultsValidation validateDefaults(const Json& document)
{
    DefaultsValidation result;
    for (auto it = document.begin(); it != document.end(); ++it) {
        auto type = defaultsTypeForKey(it.key());
        if (type && !hasType(it.value(), *type))
            result.droppedKeys.push_back(it.key());
        else
            result.values[it.key()] = it.value();
    }
    return result;
}

UserDefaults::UserDefaults(fs::path file)
    : m_file(std::move(file))
{
    FileRead read = readWholeFile(m_file, kDefaultsFileLimit);
    if (read.status == ReadStatus::Missing)
        return;
    std::string problem;
    if (read.status == ReadStatus::Failed) {
        problem = "cannot be read (" + read.error + ")";
    } else if (auto doc = parseJson(read.contents); !doc) {
        problem = read.contents.empty() ? "is empty"
            : !jsonDepthWithin(read.contents) ? "is " + jsonTooDeepText()
                                              : "is not JSON";
    } else if (!doc->is_object()) {
        problem = "is not a JSON object";
    } else {
        DefaultsValidation v = validateDefaults(*doc);
        m_values = std::move(v.values);
        if (!v.droppedKeys.empty()) {
            problem = "has keys of the wrong type:";
            for (auto& k : v.droppedKeys)
                problem += " " + k;
        }
    }
    if (problem.empty())
        return;

    // Keep what the user had before any write replaces it; never overwrite an earlier copy.
    auto kept = keepBadFileAside(m_file, read);
    if (kept)
        m_badCopyPath = *kept;
    else
        m_unkeptFile = true;
    m_loadProblem = "Defaults file " + m_file.string() + " " + problem + "; using defaults"
        + (kept ? ", kept the old file as " + kept->string() : ", " + kept.error());
}

bool UserDefaults::boolForKey(std::string_view key) const
{
    auto it = m_values.find(key);
    return it != m_values.end() && it->is_boolean() && it->get<bool>();
}

bool UserDefaults::inlineCompletionEnabled() const
{
    auto it = m_values.find(kInlineCompletionKey);
    return it == m_values.end() || !it->is_boolean() || it->get<bool>();
}

std::string UserDefaults::stringForKey(std::string_view key) const
{
    auto it = m_values.find(key);
    return it != m_values.end() && it->is_string() ? it->get<std::string>() : std::string();
}

Json UserDefaults::objectForKey(std::string_view key) const
{
    auto it = m_values.find(key);
    return it != m_values.end() ? *it : Json();
}

const Json& UserDefaults::valueForKey(std::string_view key) const
{
    static const Json missing;
    auto it = m_values.find(key);
    return it != m_values.end() ? *it : missing;
}

Result<Done> UserDefaults::setObject(std::string_view key, Json value)
{
    m_values[std::string(key)] = std::move(value);
    return write();
}

Result<Done> UserDefaults::removeObject(std::string_view key)
{
    m_values.erase(std::string(key));
    return write();
}

Result<Done> UserDefaults::write()
{
    // A file we could neither use nor keep a copy of is the user's only record of it.
    if (m_unkeptFile)
        return Result<Done>::failure(
            "Defaults file " + m_file.string() + " was left as it is: no copy of it could be kept");
    std::string contents = dumpJson(m_values, 2) + "\n";
    if (m_writer) {
        FileWriteHooks hooks;
        hooks.done = [failed = m_writeFailed](const FileWriteReport& report) {
            if (report.kind != FileWriteReport::Kind::Written && failed)
                failed(report.message);
        };
        m_writer->submit(m_file, std::move(contents), std::move(hooks));
        return Done {};
    }
    std::error_code ec;
    fs::create_directories(m_file.parent_path(), ec);
    return writeFileAtomically(m_file, contents);
}

void UserDefaults::writeThrough(FileWriter& writer, std::function<void(const std::string&)> failed)
{
    // The writer does not make folders; this one is made once, here.
    std::error_code ec;
    fs::create_directories(m_file.parent_path(), ec);
    m_writer = &writer;
    m_writeFailed = std::move(failed);
}

} // namespace qv
