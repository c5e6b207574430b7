// Storage locations from the XDG variables, read on every call so tests can move them.
#include "platform/storage_locations.h"

#include "base/storage_rules.h"

#include <glib.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace qv {

namespace fs = std::filesystem;

static fs::path homeDirectory()
{
    const char* home = g_getenv("HOME");
    return home && *home ? fs::path(home) : fs::path(g_get_home_dir());
}

static fs::path xdgDirectory(const char* variable, const char* fallback)
{
    const char* value = g_getenv(variable);
    if (value && *value && g_path_is_absolute(value))
        return fs::path(value);
    return homeDirectory() / fallback;
}

fs::path dataDirectory() { return xdgDirectory("XDG_DATA_HOME", ".local/share") / "QuivelBrowser"; }

fs::path historyURL()
{
    std::error_code ec;
    fs::path cwd = fs::current_path(ec);
    HistoryLocation location = historyLocationFor(cwd, dataDirectory());
    if (location.inDataDirectory)
        fs::create_directories(location.file.parent_path(), ec);
    return location.file;
}

fs::path extensionStoreURL()
{
    fs::path store = dataDirectory() / "Extensions";
    std::error_code ec;
    fs::create_directories(store, ec);
    return store;
}

fs::path profileDataDirectory(const std::string& identifier)
{
    return dataDirectory() / "Profiles" / identifier;
}

fs::path profileCacheDirectory(const std::string& identifier)
{
    return xdgDirectory("XDG_CACHE_HOME", ".cache") / "QuivelBrowser" / "Profiles" / identifier;
}

fs::path defaultsFileURL()
{
    return xdgDirectory("XDG_CONFIG_HOME", ".config") / "QuivelBrowser" / "defaults.json";
}

fs::path downloadsDirectory()
{
    const char* dir = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
    if (dir && *dir && fs::path(dir) != homeDirectory())
        return fs::path(dir);
    return homeDirectory() / "Downloads";
}

fs::path temporaryDirectory() { return fs::path(g_get_tmp_dir()); }

namespace {

    // A real folder (no link) owned by us that nobody else may enter.
    bool isPrivateFolderOfOurs(const fs::path& folder)
    {
        struct stat st {};
        return lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid()
            && (st.st_mode & 077) == 0;
    }

} // namespace

void ensureUserRuntimeDirectory(const fs::path& temporaryFolder)
{
    if (const char* set = g_getenv("XDG_RUNTIME_DIR"); set && *set) {
        struct stat st {};
        if (stat(set, &st) == 0 && S_ISDIR(st.st_mode) && access(set, W_OK | X_OK) == 0)
            return;
    }
    fs::path folder = temporaryFolder / ("quivel-runtime-" + std::to_string(geteuid()));
    if (mkdir(folder.c_str(), 0700) != 0 && !isPrivateFolderOfOurs(folder)) {
        // Taken by a link or by someone else: a fresh folder of our own instead.
        std::string pattern = (temporaryFolder / "quivel-runtime-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            return;
        folder = pattern;
    }
    g_setenv("XDG_RUNTIME_DIR", folder.c_str(), TRUE);
}

#ifndef QV_SOURCE_DIR
#define QV_SOURCE_DIR "."
#endif

std::optional<fs::path> resourcesDirectoryForExecutable(const fs::path& executable)
{
    std::error_code ec;
    // The executable's folder, or a parent for test binaries in build subfolders.
    fs::path dir = executable.parent_path();
    for (int depth = 0; depth < 3 && !dir.empty(); ++depth, dir = dir.parent_path()) {
        if (fs::exists(dir / "resources" / "qv.js", ec))
            return dir / "resources";
        if (dir == dir.root_path())
            break;
    }
    fs::path installed
        = executable.parent_path().parent_path() / "share" / "quivel-browser" / "resources";
    if (fs::exists(installed / "qv.js", ec))
        return installed;
    return std::nullopt;
}

fs::path resourcesDirectory()
{
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        if (auto found = resourcesDirectoryForExecutable(exe))
            return *found;
    }
    return fs::path(QV_SOURCE_DIR) / "resources";
}

} // namespace qv
