// Lexical path checks: which folder a path lies in, without asking the file system.
#pragma once

#include <filesystem>

namespace qv {

// Lexically normalised absolute form without a trailing slash: what "standardized" means here.
std::filesystem::path standardizedPath(const std::filesystem::path& path);

// True when path equals root or lies below it ("/a/bc" is not inside "/a/b").
bool isPathInsideOrEqual(const std::filesystem::path& path, const std::filesystem::path& root);

// True when path lies strictly below root.
bool isPathStrictlyInside(const std::filesystem::path& path, const std::filesystem::path& root);

} // namespace qv
