// Website storage editor: origins, page answers, the save decision and key files both ways.
#include "profiles/storage_editor_rules.h"

#include "base/atomic_file.h"
#include "base/json_text.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace qv {

namespace fs = std::filesystem;

struct OriginCase {
    const char* address;
    std::optional<std::string> origin;
};

class StorageOrigin : public testing::TestWithParam<OriginCase> { };

TEST_P(StorageOrigin, DropsPathQueryAndFragment)
{
    EXPECT_EQ(originForStorageURL(GetParam().address), GetParam().origin);
}

INSTANTIATE_TEST_SUITE_P(Addresses, StorageOrigin,
    testing::Values(OriginCase { "https://site.test/a/b?q=1#f", "https://site.test" },
        OriginCase { "http://site.test:8080/", "http://site.test:8080" },
        OriginCase { "https://u:p@site.test/x", "https://u:p@site.test" },
        OriginCase { "http://[::1]:3000/x", "http://[::1]:3000" },
        OriginCase { "about:blank", std::nullopt }, OriginCase { "/just/a/path", std::nullopt },
        OriginCase { "file:///tmp/x.html", std::nullopt }));

TEST(StorageWebsites, DistinctOriginsSortedIgnoringCaseAndFirstTabWins)
{
    auto choices = storageWebsiteChoices({ "https://b.test/1", "https://A.test/",
        "https://b.test/2", "about:blank", "https://c.test/" });
    EXPECT_EQ(choices,
        (std::vector<std::string> { "https://A.test", "https://b.test", "https://c.test" }));
    EXPECT_EQ(storageResetStatus({}), kStorageNoOriginsStatus);

    std::vector<StorageTab> tabs
        = { { "P", false, "", "https://b.test/" }, { "Q", true, "https://b.test/x", "" },
              { "P", true, "", "https://b.test/y" }, { "P", true, "https://b.test/z", "" } };
    EXPECT_EQ(storageTabIndex(tabs, "P", "https://b.test"), 2u);
    EXPECT_FALSE(storageTabIndex(tabs, "P", "https://c.test"));
}

TEST(StorageReadAnswer, PrototypeNamesAreOrdinaryKeys)
{
    auto entries = parseStorageReadResult(
        R"([["toString","1"],["__proto__","{\"a\":1}"],["constructor",null],["b","2"]])");
    ASSERT_TRUE(entries.ok());
    EXPECT_EQ(*entries,
        (std::vector<StorageEntry> { { "__proto__", "{\"a\":1}" }, { "b", "2" },
            { "constructor", "" }, { "toString", "1" } }));
}

struct ReadCase {
    const char* name;
    std::string json;
    bool ok;
    size_t count;
};

class StorageReadParsing : public testing::TestWithParam<ReadCase> { };

TEST_P(StorageReadParsing, HostileAnswersNeverBreakTheList)
{
    const auto& c = GetParam();
    auto entries = parseStorageReadResult(c.json);
    EXPECT_EQ(entries.ok(), c.ok) << c.name;
    if (entries.ok()) {
        EXPECT_EQ(entries->size(), c.count) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, StorageReadParsing,
    testing::Values(ReadCase { "empty", "[]", true, 0 },
        ReadCase { "malformed pairs skipped",
            R"([["a"],["b",1],[2,"x"],"c",["d","v","extra"],["e","ok"]])", true, 1 },
        ReadCase { "repeated key once", R"([["a","1"],["a","2"]])", true, 1 },
        ReadCase { "an object is no list", R"({"a":"1"})", false, 0 },
        ReadCase { "not JSON", "[[", false, 0 },
        ReadCase { "lone surrogate", R"([["\ud800","x"]])", false, 0 },
        ReadCase { "over the limit",
            "[[\"k\",\"" + std::string(kMaxStorageResultLength, 'v') + "\"]]", false, 0 }));

TEST(StorageScripts, EmbeddedTextCannotCloseTheScript)
{
    std::string hostile = "\"); alert(1); (\"</script>\u2028";
    std::string script = storageSaveScript(hostile, hostile, hostile);
    EXPECT_EQ(script.find("</script>"), std::string::npos);
    EXPECT_EQ(script.find("\u2028"), std::string::npos);
    EXPECT_NE(script.find(R"("\"); alert(1); (\"<\/script>\u2028")"), std::string::npos);
    EXPECT_NE(storageSaveScript("k", "v", std::nullopt).find("oldKey = null"), std::string::npos);
    // Pairs, not an object literal, where "__proto__" would set the prototype instead.
    std::string import = storageImportScript({ { "__proto__", "x" } });
    EXPECT_NE(import.find(R"([["__proto__","x"]])"), std::string::npos);
}

TEST(StorageSaveRequest, TrimsLineBreaksButKeepsSpaces)
{
    auto request = storageSaveRequest(true, "https://s.test", "\n key \r\n", "v", std::nullopt);
    ASSERT_TRUE(request.ok());
    EXPECT_EQ(request->key, " key ");
    EXPECT_EQ(storageSaveRequest(true, "https://s.test", "\n\n", "v", std::nullopt).error(),
        kStorageNeedKeyStatus);
    EXPECT_EQ(storageSaveRequest(false, "https://s.test", "k", "v", std::nullopt).error(),
        kStorageNeedKeyStatus);
    EXPECT_EQ(storageSaveRequest(true, std::nullopt, "k", "v", std::nullopt).error(),
        kStorageNeedKeyStatus);
    EXPECT_EQ(storageSaveRequest(true, "https://s.test", "k", "\xFF", std::nullopt).error(),
        kStorageUnreachableStatus);
}

struct ConflictCase {
    const char* key;
    std::optional<std::string> oldKey;
    bool conflict;
};

class StorageRenameConflict : public testing::TestWithParam<ConflictCase> { };

TEST_P(StorageRenameConflict, OnlyRenamesOntoAnotherExistingKeyConflict)
{
    std::vector<StorageEntry> entries = { { "a", "1" }, { "b", "2" } };
    EXPECT_EQ(
        storageRenameConflicts(entries, GetParam().key, GetParam().oldKey), GetParam().conflict);
}

INSTANTIATE_TEST_SUITE_P(Edits, StorageRenameConflict,
    testing::Values(ConflictCase { "b", "a", true }, ConflictCase { "c", "a", false },
        ConflictCase { "a", "a", false }, ConflictCase { "b", std::nullopt, false },
        ConflictCase { "b", "", false }));

struct OutcomeCase {
    const char* name;
    Result<StorageSaveAnswer> answer;
    std::string status;
    bool verified;
};

class StorageSaveOutcomes : public testing::TestWithParam<OutcomeCase> { };

TEST_P(StorageSaveOutcomes, AreTestedInOrder)
{
    const auto& c = GetParam();
    auto outcome = storageSaveOutcome(c.answer, "new", "k", "https://s.test");
    EXPECT_EQ(outcome.status, c.status) << c.name;
    EXPECT_EQ(outcome.verified, c.verified) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Answers, StorageSaveOutcomes,
    testing::Values(OutcomeCase { "conflict wins over a value", StorageSaveAnswer { true, "new" },
                        std::string(kStorageConflictStatus), false },
        OutcomeCase { "script error", Result<StorageSaveAnswer>::failure("QuotaExceededError"),
            "Could not save value: QuotaExceededError", false },
        OutcomeCase { "verified", StorageSaveAnswer { false, "new" },
            "Saved and verified k in https://s.test.", true },
        OutcomeCase { "page changed it", StorageSaveAnswer { false, "other" },
            std::string(kStorageUnconfirmedStatus), false },
        OutcomeCase { "no value", StorageSaveAnswer { false, std::nullopt },
            std::string(kStorageUnconfirmedStatus), false }));

TEST(StorageSaveAnswerParsing, ReadsConflictAndValue)
{
    EXPECT_TRUE(parseStorageSaveResult(R"({"conflict":true})")->conflict);
    EXPECT_EQ(parseStorageSaveResult(R"({"conflict":false,"value":"v"})")->value, "v");
    EXPECT_FALSE(parseStorageSaveResult(R"({"value":null})")->value);
    EXPECT_FALSE(parseStorageSaveResult("true").ok());
}

TEST(StorageDelete, KeysAreTakenWhenTheAlertOpens)
{
    std::vector<StorageEntry> entries = { { "a", "1" }, { "b", "2" }, { "c", "3" } };
    auto request = storageDeleteRequest(entries, { 2, 0, 9 }, "https://s.test");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->keys, (std::vector<std::string> { "a", "c" }));
    EXPECT_EQ(request->confirmation.message, "Delete 2 selected storage key(s)?");
    EXPECT_NE(request->script.find(R"(["a","c"])"), std::string::npos);
    EXPECT_FALSE(storageDeleteRequest(entries, { 1 }, std::nullopt));
    EXPECT_FALSE(storageDeleteRequest(entries, { 7 }, "https://s.test"));
}

struct FileNameCase {
    const char* name;
    std::string key;
    std::optional<std::string> fileName; // nothing: only checked for safety
    bool reversible;
};

class StorageKeyFileNames : public testing::TestWithParam<FileNameCase> { };

TEST_P(StorageKeyFileNames, StayOneSafeNameInsideTheFolder)
{
    const auto& c = GetParam();
    std::string name = storageKeyFileName(c.key);
    if (c.fileName) {
        EXPECT_EQ(name, *c.fileName) << c.name;
    }
    EXPECT_EQ(name.find('/'), std::string::npos) << c.name;
    EXPECT_EQ(name.find('\0'), std::string::npos) << c.name;
    EXPECT_NE(name.front(), '.') << c.name;
    EXPECT_LE(name.size(), 255u) << c.name;
    EXPECT_EQ(fs::path(name).filename().string(), name) << c.name;
    if (c.reversible) {
        EXPECT_EQ(storageKeyFromFileName(name), c.key) << c.name;
    } else {
        EXPECT_FALSE(storageKeyFromFileName(name)) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, StorageKeyFileNames,
    testing::Values(FileNameCase { "plain", "theme-v2_x.y", "theme-v2_x.y.json", true },
        FileNameCase { "parent", "../x", "%2E.%2Fx.json", true },
        FileNameCase { "slash", "/", "%2F.json", true },
        FileNameCase { "space", "a b", "a%20b.json", true },
        FileNameCase { "empty", "", "storage-key~empty.json", true },
        FileNameCase { "like the empty name", "storage-key", "storage-key.json", true },
        FileNameCase { "hidden", ".env", "%2Eenv.json", true },
        FileNameCase { "dots", "..", "%2E..json", true },
        FileNameCase { "nul", std::string("a\0b", 3), "a%00b.json", true },
        FileNameCase { "unicode", "caf\u00E9", "caf%C3%A9.json", true },
        FileNameCase { "tilde", "~", "%7E.json", true },
        FileNameCase { "very long", std::string(300, 'k'), std::nullopt, false },
        FileNameCase { "very long escaped", std::string(300, '/'), std::nullopt, false }));

TEST(StorageKeyFileNames, ForeignNamesStandForNoKey)
{
    EXPECT_FALSE(storageKeyFromFileName("a%2f.json")); // lower-case escape is not ours
    EXPECT_FALSE(storageKeyFromFileName(".env.json"));
    EXPECT_FALSE(storageKeyFromFileName("a%2.json"));
    EXPECT_FALSE(storageKeyFromFileName("x.txt"));
}

TEST(StorageKeyFileNames, BatchNamesDifferAlsoIgnoringCase)
{
    auto names
        = storageKeyFileNames({ "A", "a", std::string(300, 'k'), std::string(300, 'k') + "x" });
    EXPECT_EQ(names[0], "A.json");
    EXPECT_EQ(names[1], "a~2.json");
    EXPECT_NE(names[2], names[3]);
}

TEST(StorageExportImport, RoundTripGivesBackEveryKeyAndStaysInTheFolder)
{
    test::TempDir dir;
    std::vector<StorageEntry> entries = { { "__proto__", "p" }, { "../x", "up" }, { "/", "root" },
        { "", "empty" }, { "storage-key", "named" }, { std::string("n\0l", 3), "nul" },
        { std::string(400, 'k'), "long" }, { std::string(400, 'k') + "2", "long2" },
        { ".hidden", "h" }, { "A", "upper" }, { "a", "lower" }, { "caf\u00E9", "u" } };
    fs::path chosen = dir / "chosen";
    fs::create_directories(chosen);
    auto exported = exportStorageEntries(chosen, "https://site.test:8443", entries);
    ASSERT_TRUE(exported.ok()) << exported.error();
    fs::path folder = chosen / "https___site_test_8443";
    EXPECT_EQ(*exported, "Exported 12 JSON key file(s) into " + folder.string() + ".");

    size_t files = 0;
    for (const auto& item : fs::recursive_directory_iterator(dir.path())) {
        if (!item.is_regular_file())
            continue;
        EXPECT_EQ(item.path().parent_path(), folder);
        ++files;
    }
    EXPECT_EQ(files, entries.size());

    auto imported = readStorageImportFiles(storageImportFiles({ chosen }));
    EXPECT_FALSE(imported.lastError);
    auto expected = entries;
    sortStorageEntries(expected);
    EXPECT_EQ(imported.entries, expected);
}

TEST(StorageImport, NestedFilesMergeAndHiddenOrForeignOnesAreSkipped)
{
    test::TempDir dir;
    fs::create_directories(dir / "drop" / "nested" / ".hidden");
    ASSERT_TRUE(writeFileAtomically(dir / "drop" / "a.json", R"({"k":"first","n":5})"));
    ASSERT_TRUE(writeFileAtomically(dir / "drop" / "nested" / "b.JSON", R"({"k":"second"})"));
    ASSERT_TRUE(writeFileAtomically(dir / "drop" / ".secret.json", R"({"s":"no"})"));
    ASSERT_TRUE(
        writeFileAtomically(dir / "drop" / "nested" / ".hidden" / "c.json", R"({"h":"no"})"));
    ASSERT_TRUE(writeFileAtomically(dir / "drop" / "note.txt", R"({"t":"no"})"));
    fs::create_symlink(dir / "drop", dir / "drop" / "nested" / "loop");

    auto files = storageImportFiles({ dir / "drop" });
    auto imported = readStorageImportFiles(files);
    EXPECT_EQ(imported.entries, (std::vector<StorageEntry> { { "k", "second" } }));
    EXPECT_FALSE(imported.lastError);
}

TEST(StorageImport, TheLastFailureIsKeptUntilALaterSuccess)
{
    test::TempDir dir;
    ASSERT_TRUE(writeFileAtomically(dir / "good.json", R"({"k":"v"})"));
    ASSERT_TRUE(writeFileAtomically(dir / "bad.json", "{nope"));
    ASSERT_TRUE(writeFileAtomically(dir / "list.json", R"(["k","v"])"));
    auto failed = readStorageImportFiles({ dir / "good.json", dir / "bad.json" });
    EXPECT_EQ(failed.entries.size(), 1u);
    EXPECT_EQ(failed.lastError, "bad.json is not valid JSON.");
    auto recovered = readStorageImportFiles({ dir / "list.json", dir / "good.json" });
    EXPECT_FALSE(recovered.lastError);
    auto nothing = readStorageImportFiles({ dir / "list.json" });
    EXPECT_TRUE(nothing.entries.empty());
    EXPECT_EQ(
        storageNothingImportedStatus(nothing.lastError), "list.json does not hold a JSON object.");
    EXPECT_EQ(storageNothingImportedStatus(std::nullopt), kStorageNothingToImportStatus);
}

} // namespace qv
