// Helpers the fuzz targets share: a private scratch folder and aborting on a broken promise.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace qv::fuzz {

// A folder of this process's own, emptied before each input (in memory when /dev/shm exists).
inline std::filesystem::path freshScratchFolder(const char* target)
{
    namespace fs = std::filesystem;
    static const fs::path root = [&] {
        std::error_code ec;
        fs::path base
            = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path(ec);
        return base / ("qv-fuzz-" + std::string(target) + "-" + std::to_string(getpid()));
    }();
    std::error_code ec;
    fs::remove_all(root, ec);
    fs::create_directories(root, ec);
    return root;
}

inline void writeBytes(const std::filesystem::path& file, std::string_view bytes)
{
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

// A property every input must keep; a break is reported like a crash.
inline void require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

} // namespace qv::fuzz
