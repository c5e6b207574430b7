// The working-directory rule for the data files.
#include "base/atomic_file.h"
#include "base/storage_rules.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace qv {

TEST(StorageRules, CMakeListsInWorkingDirectoryKeepsFilesThere)
{
    test::TempDir work, data;
    ASSERT_TRUE(writeFileAtomically(work / "CMakeLists.txt", "project(x)").ok());
    auto location = historyLocationFor(work.path(), data.path() / "QuivelBrowser");
    EXPECT_EQ(location.file, work / "history.json");
    EXPECT_FALSE(location.inDataDirectory);
}

TEST(StorageRules, ExistingHistoryInWorkingDirectoryIsUsed)
{
    test::TempDir work, data;
    ASSERT_TRUE(writeFileAtomically(work / "history.json", "{}").ok());
    auto location = historyLocationFor(work.path(), data.path() / "QuivelBrowser");
    EXPECT_EQ(location.file, work / "history.json");
    EXPECT_FALSE(location.inDataDirectory);
}

TEST(StorageRules, OtherwiseTheDataDirectoryHoldsTheHistory)
{
    test::TempDir work, data;
    ASSERT_TRUE(writeFileAtomically(work / "downloads.json", "[]").ok());
    auto location = historyLocationFor(work.path(), data.path() / "QuivelBrowser");
    EXPECT_EQ(location.file, data.path() / "QuivelBrowser" / "history.json");
    EXPECT_TRUE(location.inDataDirectory);
}

} // namespace qv
