// A private home and working folder for a benchmark that runs a browser in its own process.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <unistd.h>

namespace qv::bench {

// Makes a fresh temporary root with "home" and "work", points HOME and the XDG folders into it,
// keeps every network session on the loopback (the discard port refuses connections) and
// changes into "work". Nothing when the folders cannot be made.
inline std::optional<std::filesystem::path> enterBenchHome()
{
    namespace fs = std::filesystem;
    char base[] = "/tmp/quivel-bench-XXXXXX";
    if (!mkdtemp(base))
        return std::nullopt;
    fs::path root = base;
    std::error_code ec;
    fs::create_directories(root / "home/.config", ec);
    fs::create_directories(root / "work", ec);
    setenv("HOME", (root / "home").c_str(), 1);
    setenv("QV_NETWORK_PROXY", "http://127.0.0.1:9", 1);
    setenv("XDG_CONFIG_HOME", (root / "home/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root / "home/.local/share").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root / "home/.cache").c_str(), 1);
    setenv("GTK_A11Y", "none", 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    if (chdir((root / "work").c_str()) != 0)
        return std::nullopt;
    return root;
}

} // namespace qv::bench
