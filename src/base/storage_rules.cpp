// The working-directory rule for "history.json" and its siblings.
#include "base/storage_rules.h"

#include <system_error>

namespace qv {

namespace fs = std::filesystem;

HistoryLocation historyLocationFor(const fs::path& workingDirectory, const fs::path& dataDirectory)
{
    std::error_code ec;
    if (fs::exists(workingDirectory / "CMakeLists.txt", ec))
        return { workingDirectory / "history.json", false };
    if (fs::exists(workingDirectory / "history.json", ec))
        return { workingDirectory / "history.json", false };
    return { dataDirectory / "history.json", true };
}

} // namespace qv
