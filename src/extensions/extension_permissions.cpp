// Granted-permission look-ups and updates over the defaults dictionary.
#include "extensions/extension_permissions.h"

#include <algorithm>

namespace qv {

namespace {

bool contains(const std::vector<std::string>& names, std::string_view name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

Json dictionaryOrEmpty(const Json& dictionary)
{
    return dictionary.is_object() ? dictionary : Json::object();
}

} // namespace

std::vector<std::string> grantedPermissionsFromDefaults(
    const Json& dictionary, const ExtensionID& id)
{
    std::vector<std::string> names;
    if (!dictionary.is_object())
        return names;
    auto it = dictionary.find(id);
    if (it == dictionary.end() || !it->is_array())
        return names;
    for (const Json& item : *it) {
        if (item.is_string())
            names.push_back(item.get<std::string>());
    }
    return names;
}

bool extensionHasPermission(
    const ExtensionRecord& record, const std::vector<std::string>& granted, std::string_view name)
{
    if (!contains(granted, name))
        return false;
    auto requested = record.manifest.find("permissions");
    if (requested == record.manifest.end() || !requested->is_array())
        return false;
    return std::any_of(requested->begin(), requested->end(), [name](const Json& item) {
        return item.is_string() && item.get_ref<const std::string&>() == name;
    });
}

std::vector<std::string> missingPermissions(
    const ExtensionRecord& record, const std::vector<std::string>& granted)
{
    std::vector<std::string> missing;
    for (const std::string& name : record.requestedPermissions()) {
        if (!contains(granted, name))
            missing.push_back(name);
    }
    return missing;
}

Json withGrantedPermissions(
    const Json& dictionary, const ExtensionID& id, const std::vector<std::string>& names)
{
    std::vector<std::string> granted = grantedPermissionsFromDefaults(dictionary, id);
    for (const std::string& name : names) {
        if (!contains(granted, name))
            granted.push_back(name);
    }
    return withReplacedPermissions(dictionary, id, granted);
}

Json withReplacedPermissions(
    const Json& dictionary, const ExtensionID& id, const std::vector<std::string>& names)
{
    Json copy = dictionaryOrEmpty(dictionary);
    copy[id] = names;
    return copy;
}

Json withoutPermissions(const Json& dictionary, const ExtensionID& id)
{
    Json copy = dictionaryOrEmpty(dictionary);
    copy.erase(id);
    return copy;
}

std::string permissionPromptMessage(const std::string& extensionName)
{
    return "Allow " + extensionName + " to use browser permissions?";
}

std::string permissionPromptInformativeText(const std::vector<std::string>& missing)
{
    std::string joined;
    for (const std::string& name : missing)
        joined += (joined.empty() ? "" : ", ") + name;
    return "Requested permissions: " + joined
        + "\n\nNetwork can send requests to websites. Downloads can save files after you choose "
          "a destination. Page access can read and navigate tabs. Address Bar access can read or "
          "change the current address/search field. UI access can read the current theme and "
          "profile and change the theme or show/hide browser bars. User Activity reports "
          "interaction types and element details, but not typed text or field values.";
}

} // namespace qv
