// A folder this process made and holds open: what goes inside is created through its descriptor.
#pragma once

#include "base/result.h"

#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Everything inside is reached from the folder's own descriptor one name at a time and never
// through a link, so a link that shows up inside (or a folder of the same name swapped in
// elsewhere) cannot lead a write out of it. Only files this object created may be replaced.
class NewFolder {
public:
    // Makes a folder that did not exist inside `parent`: `name`, else "name-2", "name-3", ...
    // The name must be one plain file name. Failures name the folder and what went wrong.
    static Result<NewFolder> createInside(
        const std::filesystem::path& parent, std::string_view name);

    NewFolder(NewFolder&& other) noexcept;
    NewFolder& operator=(NewFolder&& other) noexcept;
    NewFolder(const NewFolder&) = delete;
    NewFolder& operator=(const NewFolder&) = delete;
    ~NewFolder();

    const std::filesystem::path& path() const { return m_path; }

    // Writes the file at `names` (folders, then the file's name), making the folders it needs.
    // Refused: a name that is empty, ".", ".." or holds "/" or NUL; a link anywhere on the way;
    // an existing file this object did not create; a folder where the file goes.
    Result<Done> writeFile(const std::vector<std::string>& names, std::string_view contents);

private:
    NewFolder(int fd, std::filesystem::path path);

    int m_fd = -1;
    std::filesystem::path m_path;
    std::set<std::vector<std::string>> m_created;
};

// One name inside a folder: not empty, not "." or "..", no "/" and no NUL.
bool isPlainFileName(std::string_view name);

} // namespace qv
