// ZIP extraction of any bytes: nothing lands outside the folder, no link is made, limits hold.
#include "fuzz_support.h"
#include "platform/archive.h"

#include <cstddef>
#include <cstdint>

namespace fs = std::filesystem;
using namespace qv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fs::path root = fuzz::freshScratchFolder("archive");
    const fs::path archive = root / "in.zip";
    const fs::path destination = root / "out";
    fuzz::writeBytes(archive, std::string_view(reinterpret_cast<const char*>(data), size));
    fs::create_directories(destination);

    const ZipExtractLimits limits { 64, 1024 * 1024 };
    (void)extractZipArchive(archive, destination, limits);

    std::uint64_t items = 0;
    std::uintmax_t bytes = 0;
    for (const auto& item : fs::directory_iterator(root))
        fuzz::require(item.path() == archive || item.path() == destination, "nothing beside");
    for (const auto& item : fs::recursive_directory_iterator(destination)) {
        ++items;
        fuzz::require(!item.is_symlink(), "no link is made");
        fuzz::require(item.is_directory() || item.is_regular_file(), "only files and folders");
        if (item.is_regular_file())
            bytes += item.file_size();
    }
    fuzz::require(items <= limits.maxEntries, "the entry limit holds");
    fuzz::require(bytes <= limits.maxTotalBytes, "the byte limit holds");
    return 0;
}
