// Granted permissions ("QuivelExtensionPermissions") and the questions asked about them.
#pragma once

#include "base/json_text.h"
#include "extensions/extension_manifest.h"

#include <string>
#include <string_view>
#include <vector>

namespace qv {

// The granted names stored for an ID in the "QuivelExtensionPermissions" dictionary; empty when
// the dictionary or the entry is not what it should be.
std::vector<std::string> grantedPermissionsFromDefaults(
    const Json& dictionary, const ExtensionID& id);

// True only when the manifest requests the name and the user granted it.
bool extensionHasPermission(
    const ExtensionRecord& record, const std::vector<std::string>& granted, std::string_view name);

// Requested names not yet granted, in manifest order (a name listed twice stays twice).
std::vector<std::string> missingPermissions(
    const ExtensionRecord& record, const std::vector<std::string>& granted);

// The dictionary with `names` added to the ID's granted list (each name once).
Json withGrantedPermissions(
    const Json& dictionary, const ExtensionID& id, const std::vector<std::string>& names);

// The dictionary with the ID's list replaced (installation) or removed (deletion).
Json withReplacedPermissions(
    const Json& dictionary, const ExtensionID& id, const std::vector<std::string>& names);
Json withoutPermissions(const Json& dictionary, const ExtensionID& id);

// The prompt's message and informative texts; its buttons are "Deny" (default) and "Allow".
std::string permissionPromptMessage(const std::string& extensionName);
std::string permissionPromptInformativeText(const std::vector<std::string>& missing);

} // namespace qv
