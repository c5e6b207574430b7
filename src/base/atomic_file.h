// Whole-file writes that replace the old file atomically, and whole-file reads.
#pragma once

#include "base/result.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace qv {

// Writes to a temporary file ".<name>.XXXXXX.tmp" in the same folder, flushes it to disk and
// renames it over path. On failure the old file is untouched and the message says what went
// wrong. The temporary is locked while it exists, and the first write to a path in a process
// first removes that path's unlocked temporaries, left by a process killed while writing.
Result<Done> writeFileAtomically(const std::filesystem::path& path, std::string_view contents);

// A plain write for files rebuilt from their sources (a local copy of a site): no temporary and no
// flush to disk, so a crash can leave the file cut short until it is written again.
Result<Done> writeWholeFile(const std::filesystem::path& path, std::string_view contents);

// Whether a folder item's name is a temporary of writeFileAtomically for the named file.
bool isAtomicWriteTemporaryName(std::string_view item, std::string_view fileName);

// Removes the temporaries of path that no writer holds, and says how many went.
size_t removeStaleAtomicWriteTemporaries(const std::filesystem::path& path);

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
