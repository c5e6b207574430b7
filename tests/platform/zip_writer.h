// Writes ZIP archives with any entry a test needs, escaping paths and links included.
#pragma once

#include <archive.h>
#include <archive_entry.h>

#include <filesystem>
#include <string>
#include <vector>

namespace qv::test {

struct ZipEntry {
    ZipEntry(std::string p, std::string c = {}, mode_t t = AE_IFREG, std::string l = {})
        : path(std::move(p))
        , contents(std::move(c))
        , type(t)
        , linkTarget(std::move(l))
    {
    }
    std::string path;
    std::string contents;
    mode_t type;
    std::string linkTarget;
};

inline bool writeZip(const std::filesystem::path& file, const std::vector<ZipEntry>& entries)
{
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    bool ok = archive_write_open_filename(a, file.c_str()) == ARCHIVE_OK;
    for (const ZipEntry& e : entries) {
        if (!ok)
            break;
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.path.c_str());
        archive_entry_set_filetype(entry, e.type);
        archive_entry_set_perm(entry, 0644);
        if (e.type == AE_IFLNK)
            archive_entry_set_symlink(entry, e.linkTarget.c_str());
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.contents.size()));
        ok = archive_write_header(a, entry) == ARCHIVE_OK;
        if (ok && !e.contents.empty())
            ok = archive_write_data(a, e.contents.data(), e.contents.size()) >= 0;
        archive_entry_free(entry);
    }
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    return ok;
}

} // namespace qv::test
