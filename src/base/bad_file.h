// Keeping a data file that could not be used aside before anything new replaces it.
#pragma once

#include "base/atomic_file.h"
#include "base/result.h"

#include <filesystem>

namespace qv {

// Keeps the file as "<file>.bad", or "<file>.bad.2", ".bad.3", ... so that an earlier copy is
// never overwritten. Contents that were read are written to the copy byte for byte and the file
// stays where it is; a file that could not be read is moved aside instead, which needs no read
// access. The value is the copy's path; the failure says why no copy could be kept.
Result<std::filesystem::path> keepBadFileAside(
    const std::filesystem::path& file, const FileRead& read);

} // namespace qv
