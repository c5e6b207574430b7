// Whole-file writes that replace the old file atomically, and whole-file reads.
#pragma once

#include "base/result.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace qv {

// Writes to a temporary file in the same folder, flushes it to disk and renames it over path.
// On failure the old file is untouched and the message says what went wrong.
Result<Done> writeFileAtomically(const std::filesystem::path& path, std::string_view contents);

enum class ReadStatus { Ok, Missing, Failed };

struct FileRead {
    ReadStatus status = ReadStatus::Missing;
    std::string contents;
    std::string error; // set when status is Failed
};

// Missing means exactly "no such file"; any other problem (permissions, a folder in its place,
// an I/O error) is Failed.
FileRead readWholeFile(const std::filesystem::path& path);

} // namespace qv
