// Where the data files live: the working-directory rule.
#pragma once

#include <filesystem>

namespace qv {

struct HistoryLocation {
    std::filesystem::path file;
    // True when the file lies in the data directory, which must then exist.
    bool inDataDirectory = false;
};

// "CMakeLists.txt" in the working directory keeps the files there; so does an existing
// "history.json"; otherwise they go to the data directory.
HistoryLocation historyLocationFor(const std::filesystem::path& workingDirectory,
    const std::filesystem::path& dataDirectory);

} // namespace qv
