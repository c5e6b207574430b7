// The defaults file reader on any bytes, then typed look-ups, a write and a re-read.
#include "base/user_defaults.h"
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>

using namespace qv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto folder = fuzz::freshScratchFolder("defaults");
    const auto file = folder / "defaults.json";
    fuzz::writeBytes(file, std::string_view(reinterpret_cast<const char*>(data), size));

    UserDefaults defaults(file);
    for (const char* key : { kDarkModeKey, kProfilesKey, kCurrentProfileKey, kEnabledExtensionsKey,
             kDeletedBundledExtensionsKey, kExtensionPermissionsKey }) {
        (void)defaults.boolForKey(key);
        (void)defaults.stringForKey(key);
        (void)defaults.objectForKey(key);
    }
    if (!defaults.setBool(kDarkModeKey, true))
        return 0;

    UserDefaults again(file);
    fuzz::require(!again.loadProblem(), "the defaults read what they wrote");
    fuzz::require(again.boolForKey(kDarkModeKey), "a written value reads back");
    return 0;
}
