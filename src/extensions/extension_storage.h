// An extension's key-value store: one defaults dictionary of key -> JSON text.
#pragma once

#include "base/json_text.h"
#include "extensions/extension_manifest.h"

#include <string>

namespace qv {

// "QuivelExtensionStorage." followed by the ID.
std::string extensionStorageKey(const ExtensionID& id);

// The stored dictionary, or an empty one when the defaults hold anything else.
Json extensionStorageDictionary(const Json& stored);

// The value stored under key, parsed from its JSON text; null when absent or unparsable.
Json extensionStorageValue(const Json& dictionary, const std::string& key);

// Copies of the dictionary with the value's JSON text stored, or the key removed.
Json extensionStorageWithValue(const Json& dictionary, const std::string& key, const Json& value);
Json extensionStorageWithout(const Json& dictionary, const std::string& key);

} // namespace qv
