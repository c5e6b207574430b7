// Extension storage dictionary operations.
#include "extensions/extension_storage.h"

namespace qv {

std::string extensionStorageKey(const ExtensionID& id) { return "QuivelExtensionStorage." + id; }

Json extensionStorageDictionary(const Json& stored)
{
    return stored.is_object() ? stored : Json::object();
}

Json extensionStorageValue(const Json& dictionary, const std::string& key)
{
    if (!dictionary.is_object())
        return nullptr;
    auto it = dictionary.find(key);
    if (it == dictionary.end() || !it->is_string())
        return nullptr;
    auto parsed = parseJson(it->get<std::string>());
    return parsed ? *parsed : Json(nullptr);
}

Json extensionStorageWithValue(const Json& dictionary, const std::string& key, const Json& value)
{
    Json copy = extensionStorageDictionary(dictionary);
    copy[key] = dumpJson(value);
    return copy;
}

Json extensionStorageWithout(const Json& dictionary, const std::string& key)
{
    Json copy = extensionStorageDictionary(dictionary);
    copy.erase(key);
    return copy;
}

} // namespace qv
