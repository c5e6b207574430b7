// Manifest text from any bytes: parsing, the ID, name and permission rules, and loading a folder.
#include "extensions/extension_manifest.h"
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>

using namespace qv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto manifest = parseManifestText(text)) {
        if (auto plan = planManifest(*manifest, "folder-name")) {
            fuzz::require(isValidExtensionID(plan->id), "a planned ID is valid");
            for (const std::string& permission : plan->permissions)
                fuzz::require(isExtensionPermissionName(permission), "only known permissions");
        }
    }

    const auto folder = fuzz::freshScratchFolder("manifest") / "ext";
    std::filesystem::create_directories(folder);
    fuzz::writeBytes(folder / "manifest.json", text);
    fuzz::writeBytes(folder / "index.html", "<p>hi</p>");
    if (auto record = extensionAtDirectory(folder)) {
        fuzz::require(isValidExtensionID(record->id()), "a loaded ID is valid");
        (void)record->requestedPermissions();
        (void)record->websiteURL();
    }
    return 0;
}
