// Per-profile website data and cache folders follow the XDG variables.
#include "platform/storage_locations.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace qv {

TEST(ProfileLocationsTest, DataUnderDataDirectoryAndCacheUnderCacheHome)
{
    setenv("XDG_DATA_HOME", "/tmp/qv-data", 1);
    setenv("XDG_CACHE_HOME", "/tmp/qv-cache", 1);
    const std::string id = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
    EXPECT_EQ(profileDataDirectory(id),
        std::filesystem::path("/tmp/qv-data/QuivelBrowser/Profiles") / id);
    EXPECT_EQ(profileCacheDirectory(id),
        std::filesystem::path("/tmp/qv-cache/QuivelBrowser/Profiles") / id);
    unsetenv("XDG_CACHE_HOME");
    setenv("HOME", "/tmp/qv-home", 1);
    EXPECT_EQ(profileCacheDirectory(id),
        std::filesystem::path("/tmp/qv-home/.cache/QuivelBrowser/Profiles") / id);
    unsetenv("XDG_DATA_HOME");
}

} // namespace qv
