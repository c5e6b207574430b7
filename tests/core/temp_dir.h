// A temporary folder for one test, removed afterwards.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include <stdlib.h>

namespace qv::test {

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quivel-core-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        m_path = made ? std::filesystem::path(made) : std::filesystem::temp_directory_path();
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

} // namespace qv::test
