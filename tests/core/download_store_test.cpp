// The downloads list: records, loading and repairing the file, removal.
#include "base/atomic_file.h"
#include "base/file_writer.h"
#include "base/url.h"
#include "downloads/download_store.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace fs = std::filesystem;

namespace {

// One writer for every store here; a file is read only after what was handed to it is on disk.
FileWriter& testWriter()
{
    static FileWriter writer;
    return writer;
}

std::string readText(const fs::path& path)
{
    testWriter().flush();
    return readWholeFile(path).contents;
}

void writeText(const fs::path& path, const std::string& text)
{
    ASSERT_TRUE(writeFileAtomically(path, text).ok());
}

DownloadClock::time_point moment(int seconds)
{
    // 2026-12-06 22:26:10 UTC plus seconds.
    return DownloadClock::time_point(std::chrono::seconds(1796595970 + seconds));
}

Json fileList(const fs::path& path)
{
    auto parsed = parseJson(readText(path));
    return parsed ? *parsed : Json();
}

} // namespace

TEST(DownloadStore, RecordsGoFirstWithPathNameSourceAndDate)
{
    test::TempDir dir;
    writeText(dir / "a.txt", "a");
    writeText(dir / "b.txt", "b");
    DownloadStore store(dir / "downloads.json", testWriter());
    auto first = store.recordCompletedDownload(dir / "a.txt", "https://example.test/a", moment(0));
    EXPECT_TRUE(first.recorded);
    EXPECT_FALSE(first.loadProblem || first.writeProblem);
    auto second
        = store.recordCompletedDownloadURL(fileURLFromPath(dir / "b.txt"), std::nullopt, moment(1));
    EXPECT_TRUE(second.recorded);

    Json list = fileList(dir / "downloads.json");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["path"], (dir / "b.txt").string());
    EXPECT_EQ(list[0]["name"], "b.txt");
    EXPECT_EQ(list[0]["source"], "");
    EXPECT_EQ(list[0]["date"], "2026-12-06 22:26:11 +0000");
    EXPECT_EQ(list[1]["source"], "https://example.test/a");
    EXPECT_EQ(store.recordAt(1).name, "a.txt");
}

TEST(DownloadStore, ARecordForThisRunOnlyIsListedButNeverWrittenEvenAfterARereadOrRemoval)
{
    test::TempDir dir;
    writeText(dir / "a.txt", "a");
    writeText(dir / "b.txt", "b");
    writeText(dir / "c.txt", "c");
    DownloadStore store(dir / "downloads.json", testWriter());
    store.recordCompletedDownload(dir / "a.txt", std::nullopt, moment(0));
    store.recordCompletedDownload(
        dir / "b.txt", std::nullopt, moment(1), DownloadStore::Keep::ThisRunOnly);
    ASSERT_EQ(store.entries().size(), 2u);
    EXPECT_EQ(fileList(dir / "downloads.json").size(), 1u);
    // Someone else's edit of the file is read again; this run's record stays listed.
    writeText(dir / "downloads.json", "[{\"path\":\"" + (dir / "c.txt").string() + "\"}]");
    store.load();
    ASSERT_EQ(store.entries().size(), 2u);
    EXPECT_EQ(store.recordAt(0).name, "b.txt");
    ASSERT_TRUE(store.removeRecords({ 1 }).ok());
    EXPECT_EQ(store.entries().size(), 1u);
    EXPECT_EQ(fileList(dir / "downloads.json"), Json::array());
}

TEST(DownloadStore, NothingIsRecordedForAMissingFileOrAFolderOrANonFileURL)
{
    test::TempDir dir;
    fs::create_directory(dir / "folder");
    DownloadStore store(dir / "downloads.json", testWriter());
    EXPECT_FALSE(store.recordCompletedDownload(dir / "gone.txt", std::nullopt, moment(0)).recorded);
    EXPECT_FALSE(store.recordCompletedDownload(dir / "folder", std::nullopt, moment(0)).recorded);
    EXPECT_FALSE(store.recordCompletedDownloadURL("https://example.test/x", std::nullopt, moment(0))
                     .recorded);
    EXPECT_FALSE(fs::exists(dir / "downloads.json"));
}

TEST(DownloadStore, ASourceThatIsNotAnAddressIsRecordedAsEmpty)
{
    test::TempDir dir;
    writeText(dir / "a.txt", "a");
    DownloadStore store(dir / "downloads.json", testWriter());
    store.recordCompletedDownload(dir / "a.txt", "not an address", moment(0));
    EXPECT_EQ(store.recordAt(0).source, "");
}

TEST(DownloadStore, LoadKeepsObjectsInFileOrderWithOnlyTheirStringFields)
{
    test::TempDir dir;
    writeText(dir / "downloads.json",
        R"([{"path": "/x", "extra": [[[1]]], "date": 3}, {"name": 5}])");
    DownloadStore store(dir / "downloads.json", testWriter());
    EXPECT_FALSE(store.load());
    ASSERT_EQ(store.entries().size(), 2u);
    EXPECT_EQ(store.entries()[0], Json({ { "path", "/x" } }));
    EXPECT_EQ(store.recordAt(1).name, "download");
    EXPECT_EQ(store.recordAt(1).path, "");
}

TEST(DownloadStore, MissingFileIsAnEmptyListWithoutComplaint)
{
    test::TempDir dir;
    DownloadStore store(dir / "downloads.json", testWriter());
    EXPECT_FALSE(store.load());
    EXPECT_TRUE(store.isLoaded());
    EXPECT_TRUE(store.entries().empty());
    EXPECT_FALSE(fs::exists(dir / "downloads.json"));
}

struct BadListCase {
    const char* name;
    std::string contents;
    size_t listed;
};

class DownloadStoreBadFile : public ::testing::TestWithParam<BadListCase> { };

TEST_P(DownloadStoreBadFile, IsKeptByteForByteBeforeTheNextWriteAndReportedOnce)
{
    test::TempDir dir;
    auto file = dir / "downloads.json";
    writeText(file, GetParam().contents);
    writeText(dir / "new.txt", "n");
    DownloadStore store(file, testWriter());
    auto problem = store.load();
    ASSERT_TRUE(problem.has_value());
    EXPECT_NE(problem->find((dir / "downloads.json.bad").string()), std::string::npos);
    EXPECT_EQ(store.entries().size(), GetParam().listed);
    EXPECT_EQ(readText(dir / "downloads.json.bad"), GetParam().contents);
    // Showing the window again says nothing new and makes no second copy.
    EXPECT_FALSE(store.load());
    EXPECT_FALSE(fs::exists(dir / "downloads.json.bad.2"));

    auto recording = store.recordCompletedDownload(dir / "new.txt", std::nullopt, moment(0));
    EXPECT_TRUE(recording.recorded);
    EXPECT_FALSE(recording.loadProblem || recording.writeProblem);
    EXPECT_EQ(readText(dir / "downloads.json.bad"), GetParam().contents);
    EXPECT_EQ(fileList(file).size(), GetParam().listed + 1);
}

INSTANTIATE_TEST_SUITE_P(Files, DownloadStoreBadFile,
    ::testing::Values(BadListCase { "Empty", "", 0 }, BadListCase { "NotJson", "[{\"path\": ", 0 },
        BadListCase { "NotAnArray", "{\"path\": \"/x\"}", 0 },
        BadListCase { "NonObjectElements", "[{\"path\": \"/x\"}, 3, \"y\"]", 1 },
        BadListCase { "NotUtf8", "[\"\xff\xfe\"]", 0 },
        // A record too deep to copy or write back.
        BadListCase { "NestedDeep",
            "[{\"path\": \"/x\", \"extra\": " + std::string(100000, '[')
                + std::string(100000, ']') + "}]",
            0 }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DownloadStore, AnUnreadableFileIsMovedAsideWhole)
{
    test::TempDir dir;
    auto file = dir / "downloads.json";
    // A folder in the file's place cannot be read by anyone, root included.
    fs::create_directory(file);
    writeText(file / "inside", "kept");
    DownloadStore store(file, testWriter());
    auto problem = store.load();
    ASSERT_TRUE(problem.has_value());
    EXPECT_EQ(readText(dir / "downloads.json.bad" / "inside"), "kept");
    writeText(dir / "a.txt", "a");
    EXPECT_FALSE(
        store.recordCompletedDownload(dir / "a.txt", std::nullopt, moment(0)).writeProblem);
    EXPECT_EQ(fileList(file).size(), 1u);
}

TEST(DownloadStore, AnUnreadableFileWithoutPermissionIsMovedAside)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop root";
    test::TempDir dir;
    auto file = dir / "downloads.json";
    writeText(file, "[{\"path\": \"/x\"}]");
    chmod(file.c_str(), 0);
    DownloadStore store(file, testWriter());
    ASSERT_TRUE(store.load().has_value());
    chmod((dir / "downloads.json.bad").c_str(), 0600);
    EXPECT_EQ(readText(dir / "downloads.json.bad"), "[{\"path\": \"/x\"}]");
}

TEST(DownloadStore, AFileEditedToGarbageWhileRunningIsKeptBeforeRecording)
{
    test::TempDir dir;
    auto file = dir / "downloads.json";
    writeText(dir / "a.txt", "a");
    DownloadStore store(file, testWriter());
    store.recordCompletedDownload(dir / "a.txt", std::nullopt, moment(0));
    testWriter().flush();
    writeText(file, "user's half-edited list [");
    auto recording = store.recordCompletedDownload(dir / "a.txt", std::nullopt, moment(1));
    EXPECT_TRUE(recording.loadProblem.has_value());
    EXPECT_EQ(readText(dir / "downloads.json.bad"), "user's half-edited list [");
    EXPECT_EQ(fileList(file).size(), 1u);
}

TEST(DownloadStore, RecordingReadsAListChangedOnDiskInsteadOfWritingOverIt)
{
    test::TempDir dir;
    auto file = dir / "downloads.json";
    writeText(dir / "a.txt", "a");
    DownloadStore store(file, testWriter());
    store.load();
    writeText(file, R"([{"path": "/elsewhere", "name": "e"}])");
    store.recordCompletedDownload(dir / "a.txt", std::nullopt, moment(0));
    Json list = fileList(file);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1]["name"], "e");
}

TEST(DownloadStore, RemovingRowsZeroAndTwoOfFiveRemovesExactlyThose)
{
    test::TempDir dir;
    auto file = dir / "downloads.json";
    writeText(
        file, R"([{"name": "0"}, {"name": "1"}, {"name": "2"}, {"name": "3"}, {"name": "4"}])");
    DownloadStore store(file, testWriter());
    store.load();
    ASSERT_TRUE(store.removeRecords({ 2, 0, 9, 2 }).ok());
    Json list = fileList(file);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]["name"], "1");
    EXPECT_EQ(list[1]["name"], "3");
    EXPECT_EQ(list[2]["name"], "4");
    EXPECT_EQ(store.entries().size(), 3u);
}

TEST(DownloadStore, FailedWritesComeBackFromTheWriterAndARemovalSaysSo)
{
    test::TempDir dir;
    const fs::path file = dir / "blocker" / "downloads.json";
    DownloadStore store(file, testWriter());
    EXPECT_FALSE(store.load());
    // Its folder cannot be made once a file takes its name.
    writeText(dir / "blocker", "a file where the folder should be");
    writeText(dir / "a.txt", "a");
    auto recording = store.recordCompletedDownload(dir / "a.txt", std::nullopt, moment(0));
    EXPECT_TRUE(recording.recorded && !recording.writeProblem);
    testWriter().flush();
    auto failures = store.takeWriteFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_FALSE(failures[0].removal);
    ASSERT_TRUE(store.removeRecords({ 0 }).ok());
    testWriter().flush();
    failures = store.takeWriteFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_TRUE(failures[0].removal);
    EXPECT_EQ(failures[0].message.rfind("Could not update the Downloads list: ", 0), 0u);

    // A list that can neither be read nor kept aside stops writing at once.
    DownloadStore blocked(file, testWriter());
    ASSERT_TRUE(blocked.load().has_value());
    EXPECT_TRUE(
        blocked.recordCompletedDownload(dir / "a.txt", std::nullopt, moment(1)).writeProblem);
    auto removed = blocked.removeRecords({ 0 });
    ASSERT_FALSE(removed.ok());
    EXPECT_EQ(removed.error().rfind("Could not update the Downloads list: ", 0), 0u);
    EXPECT_EQ(blocked.entries().size(), 1u);
}

TEST(DownloadStore, RecordsWaitingForTheWriterSurviveALoadAndLandTogether)
{
    test::TempDir dir;
    writeText(dir / "a.txt", "a");
    writeText(dir / "b.txt", "b");
    FileWriter slow(std::chrono::hours(1));
    DownloadStore store(dir / "downloads.json", slow);
    store.recordCompletedDownload(dir / "a.txt", std::nullopt, moment(0));
    store.recordCompletedDownload(dir / "b.txt", std::nullopt, moment(1));
    // The file is still missing: the list in memory is the newer one.
    EXPECT_FALSE(store.load());
    EXPECT_EQ(store.entries().size(), 2u);
    slow.flush();
    EXPECT_EQ(fileList(dir / "downloads.json").size(), 2u);
    EXPECT_TRUE(store.takeWriteFailures().empty());
}

TEST(DownloadStore, RevealNeedsARowInRange)
{
    test::TempDir dir;
    writeText(dir / "a.txt", "a");
    DownloadStore store(dir / "downloads.json", testWriter());
    store.recordCompletedDownload(dir / "a.txt", std::nullopt, moment(0));
    EXPECT_EQ(store.revealablePath(0, dir.path()).value(), fs::canonical(dir / "a.txt"));
    EXPECT_FALSE(store.revealablePath(-1, dir.path()));
    EXPECT_FALSE(store.revealablePath(1, dir.path()));
}

// A record's path is whatever downloads.json holds: only files inside the Downloads folder are
// ever revealed.
TEST(DownloadStore, RevealActsOnlyOnAbsolutePathsInsideTheDownloadsFolder)
{
    test::TempDir temp;
    const fs::path dir = fs::canonical(temp.path());
    fs::path downloads = dir / "Downloads";
    fs::create_directories(downloads / "sub");
    fs::create_directories(dir / "elsewhere");
    writeText(downloads / "a.txt", "a");
    writeText(downloads / "sub" / "b.txt", "b");
    writeText(dir / "elsewhere" / "secret.txt", "s");
    fs::create_symlink(dir / "elsewhere" / "secret.txt", downloads / "link.txt");
    fs::create_symlink(dir / "elsewhere", downloads / "folder-link");
    fs::create_symlink(downloads / "a.txt", downloads / "inner-link.txt");
    const std::string in = downloads.string();
    const std::string missing(kDownloadFileMissingMessage);
    const std::string outside(kDownloadOutsideFolderMessage);
    struct Case {
        std::string path;
        std::string expected; // the revealed path, or the failure
    };
    const Case cases[] = {
        { in + "/a.txt", in + "/a.txt" },
        { in + "/sub/b.txt", in + "/sub/b.txt" },
        { in + "//a.txt", in + "/a.txt" },
        { in + "/inner-link.txt", in + "/a.txt" },
        { in + "/gone.txt", missing },
        { (dir / "elsewhere" / "secret.txt").string(), outside },
        { in + "/../elsewhere/secret.txt", outside },
        { in + "/sub/../a.txt", outside },
        { in + "/./a.txt", outside },
        { in + "/link.txt", outside },
        { in + "/folder-link/secret.txt", outside },
        { in, outside },
        { in + "/", outside },
        { in + "-other/a.txt", outside },
        { "a.txt", outside },
        { "Downloads/a.txt", outside },
        { "", outside },
        { "/etc/passwd", outside },
        { in + std::string("/a.txt\0/x", 9), outside },
    };
    for (const Case& c : cases) {
        auto revealed = revealableDownloadPath(c.path, downloads);
        EXPECT_EQ(revealed ? revealed.value().string() : revealed.error(), c.expected) << c.path;
    }
    // A Downloads folder reached through a link is still itself.
    fs::create_symlink(downloads, dir / "dl-link");
    auto throughLink = revealableDownloadPath((dir / "dl-link" / "a.txt").string(), dir / "dl-link");
    EXPECT_EQ(throughLink ? throughLink.value().string() : throughLink.error(), in + "/a.txt");
}

} // namespace qv
