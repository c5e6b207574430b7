// User defaults: typed keys, bad files kept aside, atomic rewrites.
#include "base/atomic_file.h"
#include "base/file_writer.h"
#include "base/user_defaults.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace qv {

namespace {

std::string readText(const std::filesystem::path& path)
{
    FileRead read = readWholeFile(path);
    return read.contents;
}

void writeText(const std::filesystem::path& path, const std::string& text)
{
    ASSERT_TRUE(writeFileAtomically(path, text).ok());
}

} // namespace

TEST(UserDefaults, MissingFileReadsAsDefaultsWithoutComplaint)
{
    test::TempDir dir;
    UserDefaults defaults(dir / "defaults.json");
    EXPECT_FALSE(defaults.boolForKey(kDarkModeKey));
    EXPECT_EQ(defaults.stringForKey(kCurrentProfileKey), "");
    EXPECT_TRUE(defaults.objectForKey(kProfilesKey).is_null());
    EXPECT_FALSE(defaults.loadProblem().has_value());
    EXPECT_FALSE(std::filesystem::exists(dir / "defaults.json"));
}

TEST(UserDefaults, SetValuesSurviveARereadAndCreateTheFolder)
{
    test::TempDir dir;
    auto file = dir / "QuivelBrowser" / "defaults.json";
    {
        UserDefaults defaults(file);
        ASSERT_TRUE(defaults.setBool(kDarkModeKey, true).ok());
        ASSERT_TRUE(defaults.setObject(kEnabledExtensionsKey, Json::array({ "a", "b" })).ok());
        ASSERT_TRUE(defaults.setObject("QuivelExtensionStorage.tool", { { "k", 1 } }).ok());
    }
    UserDefaults again(file);
    EXPECT_TRUE(again.boolForKey(kDarkModeKey));
    EXPECT_EQ(again.objectForKey(kEnabledExtensionsKey), Json::array({ "a", "b" }));
    EXPECT_EQ(again.objectForKey("QuivelExtensionStorage.tool")["k"], 1);
    ASSERT_TRUE(again.removeObject(kDarkModeKey).ok());
    EXPECT_FALSE(UserDefaults(file).boolForKey(kDarkModeKey));
}

struct BadFileCase {
    const char* name;
    std::string contents;
};

class UserDefaultsBadFile : public ::testing::TestWithParam<BadFileCase> { };

TEST_P(UserDefaultsBadFile, StartsFromDefaultsAndKeepsTheOldFileBeforeWriting)
{
    test::TempDir dir;
    auto file = dir / "defaults.json";
    writeText(file, GetParam().contents);
    UserDefaults defaults(file);
    EXPECT_FALSE(defaults.boolForKey(kDarkModeKey));
    ASSERT_TRUE(defaults.loadProblem().has_value());
    EXPECT_EQ(defaults.badCopyPath(), dir / "defaults.json.bad");
    EXPECT_EQ(readText(dir / "defaults.json.bad"), GetParam().contents);
    ASSERT_TRUE(defaults.setBool(kDarkModeKey, true).ok());
    EXPECT_EQ(readText(dir / "defaults.json.bad"), GetParam().contents);
    EXPECT_TRUE(UserDefaults(file).boolForKey(kDarkModeKey));
}

INSTANTIATE_TEST_SUITE_P(Files, UserDefaultsBadFile,
    ::testing::Values(BadFileCase { "Empty", "" },
        BadFileCase { "NotJson", "{\"QuivelDarkMode\": tru" },
        BadFileCase { "NotAnObject", "[true]" },
        BadFileCase { "WrongType", "{\"QuivelDarkMode\": \"yes\"}" },
        // Well typed, but too deep to copy or write back.
        BadFileCase { "NestedDeep",
            "{\"QuivelExtensionPermissions\": {\"a\": " + std::string(100000, '[')
                + std::string(100000, ']') + "}}" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UserDefaults, WronglyTypedKeysFallBackWhileOtherKeysAreKept)
{
    test::TempDir dir;
    auto file = dir / "defaults.json";
    writeText(file,
        R"({"QuivelDarkMode": true, "QuivelCurrentProfile": 7, "QuivelProfiles": {},
            "QuivelExtensionPermissions": {"x": ["tabs"]}, "QuivelExtensionStorage.y": [1],
            "SomethingElse": 3})");
    UserDefaults defaults(file);
    EXPECT_TRUE(defaults.boolForKey(kDarkModeKey));
    EXPECT_EQ(defaults.stringForKey(kCurrentProfileKey), "");
    EXPECT_TRUE(defaults.objectForKey(kProfilesKey).is_null());
    EXPECT_TRUE(defaults.objectForKey("QuivelExtensionStorage.y").is_null());
    EXPECT_EQ(defaults.objectForKey(kExtensionPermissionsKey)["x"][0], "tabs");
    EXPECT_EQ(defaults.objectForKey("SomethingElse"), 3);
    ASSERT_TRUE(defaults.loadProblem().has_value());
    EXPECT_NE(defaults.loadProblem()->find("QuivelCurrentProfile"), std::string::npos);
}

TEST(UserDefaults, AnEarlierBadCopyIsNeverOverwritten)
{
    test::TempDir dir;
    auto file = dir / "defaults.json";
    writeText(dir / "defaults.json.bad", "first");
    writeText(file, "second");
    UserDefaults defaults(file);
    EXPECT_EQ(readText(dir / "defaults.json.bad"), "first");
    EXPECT_EQ(defaults.badCopyPath(), dir / "defaults.json.bad.2");
    EXPECT_EQ(readText(dir / "defaults.json.bad.2"), "second");
}

TEST(UserDefaults, FailedWriteIsReportedAndKeepsTheValueInMemory)
{
    test::TempDir dir;
    writeText(dir / "blocker", "a file where the folder should be");
    UserDefaults defaults(dir / "blocker" / "defaults.json");
    auto result = defaults.setBool(kDarkModeKey, true);
    EXPECT_FALSE(result.ok());
    EXPECT_FALSE(result.error().empty());
    EXPECT_TRUE(defaults.boolForKey(kDarkModeKey));
}

TEST(UserDefaults, AnUnreadableFileIsMovedAsideBeforeANewOneIsWritten)
{
    test::TempDir dir;
    auto file = dir / "defaults.json";
    // A folder in the file's place cannot be read, even by root.
    std::filesystem::create_directory(file);
    writeText(file / "inside", "kept");
    UserDefaults defaults(file);
    ASSERT_TRUE(defaults.loadProblem().has_value());
    EXPECT_EQ(defaults.badCopyPath(), dir / "defaults.json.bad");
    EXPECT_EQ(readText(dir / "defaults.json.bad" / "inside"), "kept");
    ASSERT_TRUE(defaults.setBool(kDarkModeKey, true).ok());
    EXPECT_TRUE(UserDefaults(file).boolForKey(kDarkModeKey));
}

TEST(UserDefaults, WrittenThroughTheWriterTheLatestValuesReachTheDiskAndFailuresComeBack)
{
    test::TempDir dir;
    auto file = dir / "QuivelBrowser" / "defaults.json";
    std::vector<std::string> failures;
    {
        FileWriter writer(std::chrono::hours(1));
        UserDefaults defaults(file);
        defaults.writeThrough(writer, [&](const std::string& message) { failures.push_back(message); });
        ASSERT_TRUE(defaults.setBool(kDarkModeKey, true).ok());
        ASSERT_TRUE(defaults.setObject(kCurrentProfileKey, "work").ok());
        // Nothing is written on the calling thread; flushing writes the latest values.
        EXPECT_FALSE(std::filesystem::exists(file));
        writer.flush();
        UserDefaults again(file);
        EXPECT_TRUE(again.boolForKey(kDarkModeKey));
        EXPECT_EQ(again.stringForKey(kCurrentProfileKey), "work");

        // A folder where the file goes: the write fails later, and says so.
        std::filesystem::remove(file);
        std::filesystem::create_directory(file);
        ASSERT_TRUE(defaults.setBool(kDarkModeKey, false).ok());
        writer.flush();
    }
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find(file.string()), std::string::npos) << failures[0];
}

TEST(AtomicFile, ReplacesWholeFileAndTellsMissingFromFailed)
{
    test::TempDir dir;
    auto file = dir / "data.json";
    ASSERT_TRUE(writeFileAtomically(file, "one").ok());
    ASSERT_TRUE(writeFileAtomically(file, "two").ok());
    EXPECT_EQ(readText(file), "two");
    EXPECT_EQ(readWholeFile(dir / "nothing").status, ReadStatus::Missing);
    std::filesystem::create_directory(dir / "folder");
    EXPECT_EQ(readWholeFile(dir / "folder").status, ReadStatus::Failed);
    // No temporary files are left behind.
    int count = 0;
    for (auto& entry : std::filesystem::directory_iterator(dir.path()))
        count += entry.path().filename().string()[0] == '.' ? 1 : 0;
    EXPECT_EQ(count, 0);
}

} // namespace qv
