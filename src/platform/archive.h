// ZIP archives in process: unpacking into a folder and packing a folder.
#pragma once

#include "base/result.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace qv {

struct ZipExtractLimits {
    // Entries of any kind, folders included, plus each folder an entry's path implies.
    std::uint64_t maxEntries = UINT64_MAX;
    std::uint64_t maxTotalBytes = UINT64_MAX; // file sizes added up
};

enum class ZipExtractOutcome {
    Extracted,
    HoldsLink, // a symbolic or hard link, or a device, fifo or socket entry: nothing of it written
    OverLimits, // more entries or bytes than the limits allow: unpacking stopped there
};

// Unpacks `archive` into the existing folder `destination`. An entry whose path is absolute or
// climbs out with ".." fails the whole extraction; the limits are checked before each item is
// created, so an archive that expands without end, in bytes or in items, stops at them. What was written stays for the caller to
// remove. Failures carry a short description of what is wrong with the archive.
Result<ZipExtractOutcome> extractZipArchive(const std::filesystem::path& archive,
    const std::filesystem::path& destination, const ZipExtractLimits& limits = {});

// Told the items packed so far and their number after each one; false stops the packing.
using ZipProgress = std::function<bool(std::size_t packed, std::size_t total)>;

// Writes a ZIP of `folder` to `destination` whose one top-level folder is named like `folder`.
// Links inside are not followed and not stored. The file appears only when it is complete;
// stopped by the progress callback, nothing is left ("cancelled").
Result<Done> writeZipArchiveOfFolder(const std::filesystem::path& folder,
    const std::filesystem::path& destination, const ZipProgress& progress = {});

} // namespace qv
