// The website storage editor's import on any bytes: the key file reader, the script that sets
// the keys, and a round trip through the exported file form.
#include "fuzz_support.h"
#include "profiles/storage_editor_rules.h"

#include <cstddef>
#include <cstdint>

using namespace qv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto folder = fuzz::freshScratchFolder("storage_import");
    const auto file = folder / "keys.json";
    fuzz::writeBytes(file, std::string_view(reinterpret_cast<const char*>(data), size));

    StorageImport import = readStorageImportFiles(storageImportFiles({ folder }));
    fuzz::require(import.entries.empty() || !import.lastError, "a read file leaves no error");
    for (size_t i = 1; i < import.entries.size(); ++i)
        fuzz::require(import.entries[i - 1].key != import.entries[i].key, "keys are distinct");
    (void)storageImportScript(import.entries);
    (void)storageNothingImportedStatus(import.lastError);

    // Each imported key, written out as the editor exports it, reads back unchanged.
    for (const StorageEntry& entry : import.entries) {
        const auto exported = folder / "exported.json";
        fuzz::writeBytes(exported, storageKeyFileText(entry));
        StorageImport again = readStorageImportFiles({ exported });
        fuzz::require(again.entries.size() == 1 && again.entries[0].key == entry.key
                && again.entries[0].value == entry.value,
            "an exported key imports unchanged");
    }
    return 0;
}
