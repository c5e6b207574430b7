// The history file: layout, timestamps, caps, repeats, background writes, read-only states,
// clearing and deleting, and the journal beside it.
#include "history/history_store.h"

#include "base/atomic_file.h"
#include "base/file_writer.h"
#include "base/text_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

namespace qv {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

HistoryClock::time_point at(
    int y, unsigned m, unsigned d, int hh, int mm, int ss, int milliseconds = 0)
{
    sys_days day = year_month_day { year { y }, month { m }, std::chrono::day { d } };
    return day + hours { hh } + minutes { mm } + seconds { ss }
    + std::chrono::milliseconds { milliseconds };
}

class HistoryStoreTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "qv-history-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        m_file = m_dir / "history.json";
    }
    void TearDown() override
    {
        std::error_code error;
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add, error);
        fs::remove_all(m_dir, error);
    }

    // What is on disk once the writer has written everything handed to it.
    std::string fileText() const
    {
        m_writer.flush();
        return readWholeFile(m_file).contents;
    }
    Json fileJson() const
    {
        auto json = parseJson(fileText());
        EXPECT_TRUE(json.has_value());
        return json.value_or(Json());
    }
    void writeText(const std::string& text) const
    {
        ASSERT_TRUE(writeFileAtomically(m_file, text));
    }
    void writeJson(const Json& json) const { writeText(json.dump(4)); }

    fs::path m_dir;
    fs::path m_file;
    mutable FileWriter m_writer;
};

Json record(const std::string& url, const std::string& time, const std::string& title = "")
{
    return Json { { "url", url }, { "title", title }, { "time", time } };
}

// For what other threads do in their own time: true once it holds, false after a minute.
bool eventually(const std::function<bool()>& condition)
{
    auto until = steady_clock::now() + minutes(1);
    while (!condition()) {
        if (steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

size_t visitLines(const fs::path& journal)
{
    std::string text = readWholeFile(journal).contents;
    size_t n = 0;
    for (size_t at = text.find("{\"n\":"); at != std::string::npos; at = text.find("{\"n\":", at + 1))
        ++n;
    return n;
}

std::vector<std::string> listedURLs(const HistoryStore& store)
{
    std::vector<std::string> urls;
    for (const HistoryEntry& entry : store.entries())
        urls.push_back(entry.url);
    return urls;
}

TEST(HistoryTime, TimestampIsISO8601UTCWithoutFraction)
{
    EXPECT_EQ(historyTimestamp(at(2026, 12, 6, 22, 22, 48, 999)), "2026-12-06T22:22:48Z");
    EXPECT_EQ(historyTimestamp(at(2026, 1, 5, 3, 4, 5)), "2026-01-05T03:04:05Z");
    EXPECT_EQ(historyTimestamp(at(1999, 12, 31, 23, 59, 59, 500)), "1999-12-31T23:59:59Z");
}

TEST(HistoryTime, DayKeysAreUnpaddedUTCKeys)
{
    HistoryDayKeys keys = historyDayKeys(at(2026, 1, 5, 0, 0, 0));
    EXPECT_EQ(keys.year, "2026");
    EXPECT_EQ(keys.yearNumber, 2026);
    EXPECT_EQ(keys.month, "Jan");
    EXPECT_EQ(keys.day, "5");
    for (unsigned m = 1; m <= 12; ++m)
        EXPECT_EQ(historyDayKeys(at(2026, m, 28, 12, 0, 0)).month, kHistoryMonthKeys[m - 1]);
    EXPECT_EQ(historyDayKeys(at(2026, 12, 31, 23, 59, 59, 999)).day, "31");
}

TEST(HistoryText, MatchesTheLibrarysPrettyPrinting)
{
    Json document = parseJson(R"({"years": {"2026": {"Dec": {"6": [
        {"url": "https://a.test/\"q\"\\", "title": "tab\there\nline \u0001 \u007f",
         "time": "2026-12-06T22:22:48Z"}, {"title": "caf\u00e9 \ud83d\ude00 </b>"}, {}, []]}},
        "x": 1},
        "now": {"year": 2026, "month": "Dec", "day": "6", "array": 3},
        "other": [1.5, -2, 1e300, true, false, null, {"a": {}}, "\u001f"]})")
                        .value();
    EXPECT_EQ(prettyHistoryText(document), document.dump(kHistoryIndent));
    EXPECT_EQ(prettyHistoryText(Json::object()), "{}");
}

TEST_F(HistoryStoreTest, MissingFileGivesEmptyWritableHistory)
{
    HistoryStore store(m_file, m_writer);
    EXPECT_TRUE(store.load());
    EXPECT_TRUE(store.entries().empty());
    EXPECT_FALSE(store.readOnly());
    EXPECT_FALSE(fs::exists(m_file));
}

TEST_F(HistoryStoreTest, FirstVisitWritesTheDocumentedLayout)
{
    HistoryStore store(m_file, m_writer);
    ASSERT_TRUE(store.load());
    ASSERT_TRUE(store.addVisit("https://site.test/a", "A page", at(2026, 12, 6, 22, 22, 48, 700)));
    Json expected = parseJson(R"({
        "years": {"2026": {"Dec": {"6": [
            {"url": "https://site.test/a", "title": "A page", "time": "2026-12-06T22:22:48Z"}]}}},
        "now": {"year": 2026, "month": "Dec", "day": "6", "array": 1}})")
                        .value();
    EXPECT_EQ(fileJson(), expected);
    EXPECT_EQ(fileText(), expected.dump(kHistoryIndent));
    EXPECT_TRUE(fileJson()["now"]["year"].is_number());
    ASSERT_EQ(store.entries().size(), 1u);
    const HistoryEntry& entry = store.entries()[0];
    EXPECT_EQ(entry.url, "https://site.test/a");
    EXPECT_EQ(entry.title, "A page");
    EXPECT_EQ(entry.time, "2026-12-06T22:22:48Z");
    EXPECT_EQ(entry.year, "2026");
    EXPECT_EQ(entry.month, "Dec");
    EXPECT_EQ(entry.day, "6");
    EXPECT_EQ(entry.index, 0u);
}

TEST_F(HistoryStoreTest, VisitsAroundMidnightUTCGoToDifferentDays)
{
    HistoryStore store(m_file, m_writer);
    ASSERT_TRUE(store.load());
    ASSERT_TRUE(store.addVisit("https://a.test/", "", at(2026, 3, 31, 23, 59, 59, 999)));
    ASSERT_TRUE(store.addVisit("https://b.test/", "", at(2026, 4, 1, 0, 0, 0)));
    Json years = fileJson()["years"]["2026"];
    ASSERT_EQ(years["Mar"]["31"].size(), 1u);
    EXPECT_EQ(years["Mar"]["31"][0]["time"], "2026-03-31T23:59:59Z");
    ASSERT_EQ(years["Apr"]["1"].size(), 1u);
    EXPECT_EQ(years["Apr"]["1"][0]["time"], "2026-04-01T00:00:00Z");
    EXPECT_EQ(fileJson()["now"],
        (Json { { "year", 2026 }, { "month", "Apr" }, { "day", "1" }, { "array", 1 } }));
}

TEST_F(HistoryStoreTest, RepeatedVisitsAppendOldestFirstAndListNewestFirst)
{
    HistoryStore store(m_file, m_writer);
    ASSERT_TRUE(store.load());
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(store.addVisit("https://same.test/", std::nullopt, at(2026, 5, 2, 10, i, 0)));
    Json day = fileJson()["years"]["2026"]["May"]["2"];
    ASSERT_EQ(day.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(day[i]["time"], historyTimestamp(at(2026, 5, 2, 10, i, 0)));
        EXPECT_EQ(day[i]["title"], "");
    }
    EXPECT_EQ(fileJson()["now"]["array"], 5);
    ASSERT_EQ(store.entries().size(), 5u);
    EXPECT_EQ(store.entries()[0].index, 4u);
    EXPECT_EQ(store.entries()[4].index, 0u);
    // The incrementally built text is still exactly the full pretty form.
    EXPECT_EQ(fileText(), fileJson().dump(kHistoryIndent));

    HistoryStore reloaded(m_file, m_writer);
    ASSERT_TRUE(reloaded.load());
    ASSERT_EQ(reloaded.entries().size(), 5u);
    EXPECT_EQ(reloaded.entries()[0].time, "2026-05-02T10:04:00Z");
    EXPECT_EQ(reloaded.entries()[0].index, 4u);
}

TEST_F(HistoryStoreTest, OtherKeysAreKeptWhenTheFileIsRewritten)
{
    writeJson({ { "years", Json::object() }, { "owner", { { "a", 1 } } }, { "v", 2 } });
    HistoryStore store(m_file, m_writer);
    ASSERT_TRUE(store.load());
    ASSERT_TRUE(store.addVisit("https://a.test/", "", at(2026, 1, 1, 0, 0, 0)));
    EXPECT_EQ(fileJson()["owner"], (Json { { "a", 1 } }));
    EXPECT_EQ(fileJson()["v"], 2);
}

TEST_F(HistoryStoreTest, VisitIsWrittenByTheWriterAndNotOnTheCallingThread)
{
    // A writer that would wait an hour: whatever reaches the file before the flush was written
    // on the calling thread.
    FileWriter slow(std::chrono::hours(1));
    HistoryStore store(m_file, slow);
    ASSERT_TRUE(store.load());
    ASSERT_TRUE(store.addVisit("https://a.test/", "A", at(2026, 6, 1, 8, 0, 0)));
    EXPECT_EQ(store.entries().size(), 1u);
    EXPECT_FALSE(fs::exists(m_file));
    slow.flush();
    EXPECT_EQ(fileJson()["years"]["2026"]["Jun"]["1"][0]["url"], "https://a.test/");
    EXPECT_TRUE(store.takeWriteFailures().empty());
}

TEST_F(HistoryStoreTest, ReadableFileChangedOutsideIsReplacedByTheLoadedHistory)
{
    // Memory is the history once loaded; a visit does not read the file again.
    HistoryStore store(m_file, m_writer);
    ASSERT_TRUE(store.load());
    ASSERT_TRUE(store.addVisit("https://mine.test/1", "", at(2026, 6, 1, 8, 0, 0)));
    ASSERT_FALSE(fileText().empty());
    writeJson({ { "years", Json::object() }, { "other", 1 } });
    ASSERT_TRUE(store.addVisit("https://mine.test/2", "", at(2026, 6, 1, 9, 0, 0)));
    Json day = fileJson()["years"]["2026"]["Jun"]["1"];
    ASSERT_EQ(day.size(), 2u);
    EXPECT_EQ(day[1]["url"], "https://mine.test/2");
    EXPECT_FALSE(fileJson().contains("other"));
    EXPECT_EQ(fileText(), fileJson().dump(kHistoryIndent));
    EXPECT_TRUE(store.takeWriteFailures().empty());
}

TEST_F(HistoryStoreTest, FileRemovedOutsideIsWrittenAgainFromMemory)
{
    HistoryStore store(m_file, m_writer);
    ASSERT_TRUE(store.load());
    ASSERT_TRUE(store.addVisit("https://a.test/", "", at(2026, 6, 1, 8, 0, 0)));
    ASSERT_FALSE(fileText().empty());
    fs::remove(m_file);
    ASSERT_TRUE(store.addVisit("https://b.test/", "", at(2026, 6, 1, 9, 0, 0)));
    Json day = fileJson()["years"]["2026"]["Jun"]["1"];
    ASSERT_EQ(day.size(), 2u);
    EXPECT_EQ(day[1]["url"], "https://b.test/");
}

TEST_F(HistoryStoreTest, BrokenFileMakesHistoryReadOnlyAndIsNeverOverwritten)
{
    const std::string broken = "{\"years\": {\"2026\": {\"Jan\": {\"1\": [ {\"url\": \"x\"";
    writeText(broken);
    HistoryStore store(m_file, m_writer);
    auto loaded = store.load();
    ASSERT_FALSE(loaded);
    EXPECT_TRUE(startsWith(loaded.error(), "Cannot read history file " + m_file.string() + ": "))
        << loaded.error();
    EXPECT_GT(loaded.error().size(), ("Cannot read history file " + m_file.string() + ": ").size());
    EXPECT_TRUE(store.readOnly());
    EXPECT_TRUE(store.entries().empty());

    EXPECT_FALSE(store.addVisit("https://a.test/", "", at(2026, 1, 1, 0, 0, 0)));
    auto cleared = store.clear();
    ASSERT_FALSE(cleared);
    EXPECT_EQ(cleared.error(), kHistoryReadOnlyMessage);
    auto deleted = store.deleteEntries({ 0 });
    ASSERT_FALSE(deleted);
    EXPECT_EQ(deleted.error(), kHistoryReadOnlyMessage);
    EXPECT_TRUE(store.load());
    EXPECT_TRUE(store.readOnly());
    EXPECT_EQ(fileText(), broken);
}

TEST_F(HistoryStoreTest, DeeplyNestedFileIsRefusedUnreadAndNeverWritten)
{
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::string atLaunch = "{\"years\": {}, \"other\": " + deep + "}";
    writeText(atLaunch);
    HistoryStore store(m_file, m_writer);
    auto loaded = store.load();
    ASSERT_FALSE(loaded);
    EXPECT_EQ(loaded.error(),
        "Cannot read history file " + m_file.string() + ": nested more than 64 levels deep");
    EXPECT_TRUE(store.readOnly());
    EXPECT_FALSE(store.addVisit("https://a.test/", "", at(2026, 1, 1, 0, 0, 0)));
    EXPECT_EQ(fileText(), atLaunch);

    // The same file put in place while the browser runs stops the next write.
    fs::remove(m_file);
    HistoryStore running(m_file, m_writer);
    ASSERT_TRUE(running.load());
    ASSERT_TRUE(running.addVisit("https://a.test/", "", at(2026, 1, 1, 0, 0, 0)));
    ASSERT_FALSE(fileText().empty());
    const std::string inADay
        = "{\"years\": {\"2026\": {\"Jan\": {\"1\": [{\"url\": \"x\", \"time\": \"t\", \"d\": "
        + deep + "}]}}}}";
    writeText(inADay);
    ASSERT_TRUE(running.addVisit("https://b.test/", "", at(2026, 1, 1, 0, 0, 1)));
    EXPECT_EQ(fileText(), inADay);
    auto failures = running.takeWriteFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0], "Cannot update history file: nested more than 64 levels deep");
    EXPECT_TRUE(running.readOnly());
}

TEST_F(HistoryStoreTest, WrongShapeIsReportedAsInvalidFormat)
{
    for (const char* text : { "[1, 2]", "{}", "{\"years\": []}", "\"years\"", "null" }) {
        writeText(text);
        HistoryStore store(m_file, m_writer);
        auto loaded = store.load();
        ASSERT_FALSE(loaded) << text;
        EXPECT_EQ(loaded.error(),
            "Cannot read history file " + m_file.string() + ": invalid history format");
        EXPECT_TRUE(store.readOnly());
        EXPECT_FALSE(store.addVisit("https://a.test/", "", at(2026, 1, 1, 0, 0, 0)));
        EXPECT_EQ(fileText(), text);
    }
}

TEST_F(HistoryStoreTest, FolderInPlaceOfTheFileMakesHistoryReadOnly)
{
    fs::create_directory(m_file);
    HistoryStore store(m_file, m_writer);
    auto loaded = store.load();
    ASSERT_FALSE(loaded);
    EXPECT_TRUE(startsWith(loaded.error(), "Cannot read history file "));
    EXPECT_TRUE(store.readOnly());
    EXPECT_FALSE(store.addVisit("https://a.test/", "", at(2026, 1, 1, 0, 0, 0)));
    EXPECT_TRUE(fs::is_directory(m_file));
}

TEST_F(HistoryStoreTest, FileBrokenAfterLoadingStopsTheNextVisit)
{
    HistoryStore store(m_file, m_writer);
    ASSERT_TRUE(store.load());
    ASSERT_TRUE(store.addVisit("https://a.test/", "", at(2026, 1, 1, 0, 0, 0)));
    ASSERT_FALSE(fileText().empty());
    writeText("not json at all");
    // Memory takes the visit; the writer finds the damage and leaves the file alone.
    ASSERT_TRUE(store.addVisit("https://b.test/", "", at(2026, 1, 1, 0, 0, 1)));
    ASSERT_TRUE(store.addVisit("https://c.test/", "", at(2026, 1, 1, 0, 0, 2)));
    EXPECT_EQ(fileText(), "not json at all");
    auto failures = store.takeWriteFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_TRUE(startsWith(failures[0], "Cannot update history file: ")) << failures[0];
    EXPECT_TRUE(store.readOnly());
    EXPECT_FALSE(store.addVisit("https://d.test/", "", at(2026, 1, 1, 0, 0, 3)));
    EXPECT_EQ(fileText(), "not json at all");
    EXPECT_TRUE(store.takeWriteFailures().empty());
}

TEST_F(HistoryStoreTest, FolderAppearingAfterLoadingStopsTheNextVisit)
{
    HistoryStore store(m_file, m_writer);
    ASSERT_TRUE(store.load());
    fs::create_directory(m_file);
    ASSERT_TRUE(store.addVisit("https://a.test/", "", at(2026, 1, 1, 0, 0, 0)));
    m_writer.flush();
    auto failures = store.takeWriteFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_TRUE(startsWith(failures[0], "Cannot update history file: ")) << failures[0];
    EXPECT_TRUE(store.readOnly());
    EXPECT_TRUE(fs::is_directory(m_file));
}

TEST_F(HistoryStoreTest, FailedWriteIsReportedAndTheNextWriteCarriesItsVisit)
{
    fs::path file = m_dir / "later" / "history.json";
    HistoryStore store(file, m_writer);
    ASSERT_TRUE(store.load());
    ASSERT_TRUE(store.addVisit("https://a.test/", "", at(2026, 1, 1, 0, 0, 0)));
    m_writer.flush();
    auto failures = store.takeWriteFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_TRUE(startsWith(failures[0], "Could not save history: ")) << failures[0];
    EXPECT_EQ(store.entries().size(), 1u);
    EXPECT_FALSE(store.readOnly());
    fs::create_directory(m_dir / "later");
    ASSERT_TRUE(store.addVisit("https://b.test/", "", at(2026, 1, 1, 0, 0, 1)));
    m_writer.flush();
    EXPECT_TRUE(store.takeWriteFailures().empty());
    auto json = parseJson(readWholeFile(file).contents);
    ASSERT_TRUE(json.has_value());
    ASSERT_EQ((*json)["years"]["2026"]["Jan"]["1"].size(), 2u);
    EXPECT_EQ((*json)["years"]["2026"]["Jan"]["1"][1]["url"], "https://b.test/");
}

TEST_F(HistoryStoreTest, PartlyBadFileListsReadableEntriesAndKeepsTheRest)
{
    writeJson({ { "years",
        { { "2026",
              { { "Feb",
                    { { "3",
                          Json::array({ record("https://ok.test/0", "2026-02-03T01:00:00Z"),
                              Json { { "url", "https://no-time.test/" } },
                              Json { { "url", 5 }, { "time", "2026-02-03T02:00:00Z" } }, "text",
                              record("https://ok.test/4", "2026-02-03T03:00:00Z", "T") }) },
                        { "4", "not a day" } } },
                  { "Mar", 7 } } },
            { "2025", "not a year" } } } });
    HistoryStore store(m_file, m_writer);
    ASSERT_TRUE(store.load());
    ASSERT_EQ(store.entries().size(), 2u);
    EXPECT_EQ(store.entries()[0].url, "https://ok.test/4");
    EXPECT_EQ(store.entries()[0].index, 4u);
    EXPECT_EQ(store.entries()[0].title, "T");
    EXPECT_EQ(store.entries()[1].url, "https://ok.test/0");
    EXPECT_EQ(store.entries()[1].index, 0u);

    ASSERT_TRUE(store.addVisit("https://new.test/", "", at(2026, 2, 3, 4, 0, 0)));
    Json day = fileJson()["years"]["2026"]["Feb"]["3"];
    ASSERT_EQ(day.size(), 6u);
    EXPECT_EQ(day[2]["url"], 5);
    EXPECT_EQ(day[3], "text");
    EXPECT_EQ(fileJson()["years"]["2026"]["Mar"], 7);
    EXPECT_EQ(fileJson()["years"]["2025"], "not a year");
    EXPECT_EQ(store.entries()[0].index, 5u);

    // Deleting by index still finds the right record after the skipped ones.
    ASSERT_TRUE(store.deleteEntries({ 1 }));
    day = fileJson()["years"]["2026"]["Feb"]["3"];
    ASSERT_EQ(day.size(), 5u);
    EXPECT_EQ(day[3], "text");
    EXPECT_EQ(day[4]["url"], "https://new.test/");
}

TEST_F(HistoryStoreTest, WrongTypesOnTheVisitsPathAreReplaced)
{
    writeJson({ { "years", { { "2026", { { "Jan", { { "1", "x" } } } } } } } });
    HistoryStore store(m_file, m_writer);
    ASSERT_TRUE(store.load());
    ASSERT_TRUE(store.addVisit("https://a.test/", "", at(2026, 1, 1, 0, 0, 0)));
    EXPECT_EQ(fileJson()["years"]["2026"]["Jan"]["1"].size(), 1u);
    writeJson({ { "years", { { "2026", 3 } } } });
    HistoryStore other(m_file, m_writer);
    ASSERT_TRUE(other.load());
    ASSERT_TRUE(other.addVisit("https://b.test/", "", at(2026, 1, 1, 0, 0, 1)));
    EXPECT_EQ(fileJson()["years"]["2026"]["Jan"]["1"][0]["url"], "https://b.test/");
}

TEST_F(HistoryStoreTest, InvalidUtf8TitleIsStoredRepairedAndStaysReadable)
{
    HistoryStore store(m_file, m_writer);
    ASSERT_TRUE(store.load());
    ASSERT_TRUE(
        store.addVisit("https://a.test/\xFF", "bad \xC3 title \xFF\xFE", at(2026, 1, 1, 0, 0, 0)));
    Json visit = fileJson()["years"]["2026"]["Jan"]["1"][0];
    EXPECT_EQ(visit["title"], "bad \xEF\xBF\xBD title \xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(visit["url"], "https://a.test/\xEF\xBF\xBD");
    HistoryStore reloaded(m_file, m_writer);
    ASSERT_TRUE(reloaded.load());
    ASSERT_EQ(reloaded.entries().size(), 1u);
    EXPECT_FALSE(reloaded.readOnly());
}

TEST_F(HistoryStoreTest, ClearWritesAnEmptyRootWithoutOtherKeys)
{
    writeJson({ { "years",
                    { { "2026",
                        { { "Jan",
                            { { "1",
                                Json::array({ record(
                                    "https://a.test/", "2026-01-01T00:00:00Z") }) } } } } } } },
        { "now", { { "year", 2026 } } }, { "keep", true } });
    HistoryStore store(m_file, m_writer);
    ASSERT_TRUE(store.load());
    ASSERT_EQ(store.entries().size(), 1u);
    ASSERT_TRUE(store.clear());
    EXPECT_EQ(fileJson(), (Json { { "years", Json::object() } }));
    EXPECT_TRUE(store.entries().empty());
    ASSERT_TRUE(store.addVisit("https://b.test/", "", at(2026, 1, 2, 0, 0, 0)));
    EXPECT_EQ(fileJson()["years"].size(), 1u);
}

struct CapCase {
    const char* name;
    std::string url;
    std::string title;
    bool recorded;
    std::string storedTitle;
};

class HistoryCapTest : public HistoryStoreTest, public testing::WithParamInterface<CapCase> { };

TEST_P(HistoryCapTest, AddressOverItsCapIsNotRecordedAndTitleIsCutAtACharacter)
{
    const CapCase& c = GetParam();
    HistoryStore store(m_file, m_writer);
    ASSERT_TRUE(store.load());
    EXPECT_EQ(store.addVisit(c.url, c.title, at(2026, 1, 1, 0, 0, 0)), c.recorded);
    if (!c.recorded) {
        EXPECT_TRUE(store.entries().empty());
        EXPECT_TRUE(fileText().empty());
        return;
    }
    ASSERT_EQ(store.entries().size(), 1u);
    EXPECT_EQ(store.entries()[0].url, c.url);
    EXPECT_EQ(store.entries()[0].title, c.storedTitle);
    EXPECT_EQ(fileJson()["years"]["2026"]["Jan"]["1"][0]["title"], c.storedTitle);
    EXPECT_LE(fileText().size(), kMaxHistoryURLBytes + kMaxHistoryTitleBytes + 200);
}

std::string addressOfSize(size_t bytes)
{
    std::string url = "https://a.test/";
    return url + std::string(bytes - url.size(), 'p');
}

INSTANTIATE_TEST_SUITE_P(Caps, HistoryCapTest,
    testing::Values(CapCase { "AddressAtTheCap", addressOfSize(kMaxHistoryURLBytes), "T", true, "T" },
        CapCase { "AddressOneByteOver", addressOfSize(kMaxHistoryURLBytes + 1), "T", false, "" },
        CapCase { "AddressOverOnceRepaired", addressOfSize(kMaxHistoryURLBytes - 1) + "\xFF", "T",
            false, "" },
        CapCase { "MegabyteAddress", addressOfSize(1 << 20), "T", false, "" },
        CapCase { "TitleAtTheCap", "https://a.test/", std::string(kMaxHistoryTitleBytes, 't'), true,
            std::string(kMaxHistoryTitleBytes, 't') },
        CapCase { "TitleOverTheCap", "https://a.test/", std::string(2000, 't'), true,
            std::string(kMaxHistoryTitleBytes, 't') },
        CapCase { "TwoByteCharacterAcrossTheCap", "https://a.test/",
            std::string(kMaxHistoryTitleBytes - 1, 't') + "\xC3\xA9", true,
            std::string(kMaxHistoryTitleBytes - 1, 't') },
        CapCase { "FourByteCharacterAcrossTheCap", "https://a.test/",
            std::string(kMaxHistoryTitleBytes - 2, 't') + "\xF0\x9F\x98\x80", true,
            std::string(kMaxHistoryTitleBytes - 2, 't') },
        CapCase { "RepairedByteAcrossTheCap", "https://a.test/",
            std::string(kMaxHistoryTitleBytes - 1, 't') + "\xFF", true,
            std::string(kMaxHistoryTitleBytes - 1, 't') },
        CapCase { "MegabyteTitle", "https://a.test/", std::string(1 << 20, 'x'), true,
            std::string(kMaxHistoryTitleBytes, 'x') }),
    [](const auto& info) { return std::string(info.param.name); });

struct RepeatCase {
    const char* name;
    // Address and seconds after the first visit, in the order they come.
    std::vector<std::pair<std::string, int>> visits;
    std::vector<bool> recorded;
};

class HistoryRepeatTest : public HistoryStoreTest,
                          public testing::WithParamInterface<RepeatCase> { };

TEST_P(HistoryRepeatTest, RepeatedVisitsOfOneAddressInAShortTimeAreOneVisit)
{
    const RepeatCase& c = GetParam();
    HistoryStore store(m_file, m_writer);
    ASSERT_TRUE(store.load());
    size_t expected = 0;
    for (size_t i = 0; i < c.visits.size(); ++i) {
        const auto& [url, second] = c.visits[i];
        EXPECT_EQ(store.addVisit(url, "", at(2026, 1, 1, 12, 0, 0) + seconds(second)),
            c.recorded[i])
            << "visit " << i;
        expected += c.recorded[i] ? 1 : 0;
    }
    EXPECT_EQ(store.entries().size(), expected);
    EXPECT_EQ(fileJson()["years"]["2026"]["Jan"]["1"].size(), expected);
}

INSTANTIATE_TEST_SUITE_P(Repeats, HistoryRepeatTest,
    testing::Values(
        RepeatCase { "WithinTheWindow", { { "https://a.test/", 0 }, { "https://a.test/", 9 } },
            { true, false } },
        RepeatCase { "AfterTheWindow", { { "https://a.test/", 0 }, { "https://a.test/", 10 } },
            { true, true } },
        RepeatCase { "ReloadLoopStaysOneVisit",
            { { "https://a.test/", 0 }, { "https://a.test/", 6 }, { "https://a.test/", 12 },
                { "https://a.test/", 18 } },
            { true, false, false, false } },
        RepeatCase { "AlternatingAddresses",
            { { "https://a.test/", 0 }, { "https://b.test/", 1 }, { "https://a.test/", 2 },
                { "https://b.test/", 3 } },
            { true, true, false, false } },
        RepeatCase { "ClockTurnedBack", { { "https://a.test/", 20 }, { "https://a.test/", 15 } },
            { true, false } },
        RepeatCase { "AddressesDifferingOnlyInQuery",
            { { "https://a.test/?1", 0 }, { "https://a.test/?2", 1 } }, { true, true } }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HistoryStoreTest, AfterClearingARepeatedAddressIsRecordedAgain)
{
    HistoryStore store(m_file, m_writer);
    ASSERT_TRUE(store.load());
    ASSERT_TRUE(store.addVisit("https://a.test/", "", at(2026, 1, 1, 12, 0, 0)));
    ASSERT_TRUE(store.clear());
    EXPECT_TRUE(store.addVisit("https://a.test/", "", at(2026, 1, 1, 12, 0, 1)));
    EXPECT_EQ(fileJson()["years"]["2026"]["Jan"]["1"].size(), 1u);
}

class HistoryDeleteTest : public HistoryStoreTest {
protected:
    void SetUp() override
    {
        HistoryStoreTest::SetUp();
        writeJson(parseJson(R"({"years": {
            "2025": {"Dec": {"31": [
                {"url": "https://y25.test/", "title": "", "time": "2025-12-31T10:00:00Z"}]}},
            "2026": {
                "Jan": {
                    "1": [
                        {"url": "https://d1.test/0", "title": "", "time": "2026-01-01T10:00:00Z"},
                        {"url": "https://d1.test/1", "title": "", "time": "2026-01-01T11:00:00Z"},
                        {"url": "https://d1.test/2", "title": "", "time": "2026-01-01T12:00:00Z"}],
                    "2": [
                        {"url": "https://d2.test/", "title": "", "time": "2026-01-02T10:00:00Z"}]},
                "Feb": {"5": [
                    {"url": "https://feb.test/", "title": "", "time": "2026-02-05T10:00:00Z"}]}}},
            "now": {"year": 2026, "month": "Feb", "day": "5", "array": 1}})")
                      .value());
        m_store.emplace(m_file, m_writer);
        ASSERT_TRUE(store().load());
        ASSERT_EQ(store().entries().size(), 6u);
    }

    HistoryStore& store() { return *m_store; }
    const HistoryStore& store() const { return *m_store; }

    size_t rowOf(const std::string& url) const
    {
        for (size_t i = 0; i < store().entries().size(); ++i)
            if (store().entries()[i].url == url)
                return i;
        ADD_FAILURE() << url;
        return store().entries().size();
    }

    std::optional<HistoryStore> m_store;
};

TEST_F(HistoryDeleteTest, DeletingTheLastVisitOfADayRemovesTheDay)
{
    ASSERT_TRUE(store().deleteEntries({ rowOf("https://d2.test/") }));
    Json jan = fileJson()["years"]["2026"]["Jan"];
    EXPECT_FALSE(jan.contains("2"));
    EXPECT_EQ(jan["1"].size(), 3u);
    EXPECT_EQ(store().entries().size(), 5u);
}

TEST_F(HistoryDeleteTest, DeletingTheLastVisitOfAMonthRemovesTheMonth)
{
    ASSERT_TRUE(store().deleteEntries({ rowOf("https://feb.test/") }));
    Json year = fileJson()["years"]["2026"];
    EXPECT_FALSE(year.contains("Feb"));
    EXPECT_TRUE(year.contains("Jan"));
    // "now" is left pointing where it pointed.
    EXPECT_EQ(fileJson()["now"]["month"], "Feb");
}

TEST_F(HistoryDeleteTest, DeletingTheLastVisitOfAYearRemovesTheYear)
{
    ASSERT_TRUE(store().deleteEntries({ rowOf("https://y25.test/") }));
    EXPECT_FALSE(fileJson()["years"].contains("2025"));
    EXPECT_TRUE(fileJson()["years"].contains("2026"));
}

TEST_F(HistoryDeleteTest, DeletingEverythingLeavesEmptyYears)
{
    ASSERT_TRUE(store().deleteEntries({ 0, 1, 2, 3, 4, 5, 99 }));
    EXPECT_EQ(fileJson()["years"], Json::object());
    EXPECT_TRUE(store().entries().empty());
    EXPECT_EQ(fileText(), fileJson().dump(kHistoryIndent));
}

TEST_F(HistoryDeleteTest, DeletingSeveralVisitsOfOneDayRenumbersTheRest)
{
    ASSERT_TRUE(store().deleteEntries({ rowOf("https://d1.test/0"), rowOf("https://d1.test/1") }));
    Json day = fileJson()["years"]["2026"]["Jan"]["1"];
    ASSERT_EQ(day.size(), 1u);
    EXPECT_EQ(day[0]["url"], "https://d1.test/2");
    EXPECT_EQ(store().entries()[rowOf("https://d1.test/2")].index, 0u);
    // The renumbered entry can be deleted in turn.
    ASSERT_TRUE(store().deleteEntries({ rowOf("https://d1.test/2") }));
    EXPECT_FALSE(fileJson()["years"]["2026"]["Jan"].contains("1"));
}

TEST_F(HistoryDeleteTest, DeletingWorksOnTheLoadedHistoryAndLeavesADamagedFileAlone)
{
    writeText("broken");
    ASSERT_TRUE(store().deleteEntries({ rowOf("https://d2.test/") }));
    EXPECT_EQ(store().entries().size(), 5u);
    EXPECT_EQ(fileText(), "broken");
    auto failures = store().takeWriteFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_TRUE(startsWith(failures[0], "Cannot update history file: ")) << failures[0];
    EXPECT_TRUE(store().readOnly());
    auto again = store().deleteEntries({ 0 });
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error(), kHistoryReadOnlyMessage);
}

TEST_F(HistoryDeleteTest, VisitAddedThisSessionCanBeDeleted)
{
    ASSERT_TRUE(store().addVisit("https://new.test/", "", at(2026, 1, 1, 23, 0, 0)));
    ASSERT_TRUE(store().deleteEntries({ 0 }));
    EXPECT_EQ(fileJson()["years"]["2026"]["Jan"]["1"].size(), 3u);
    EXPECT_EQ(store().entries().size(), 6u);
}


TEST_F(HistoryStoreTest, VisitCostsTheJournalTheSameBytesWhateverTheHistorysSize)
{
    std::vector<std::uintmax_t> perVisit;
    for (size_t held : { 0, 3000 }) {
        Json days = Json::object();
        for (size_t i = 0; i < held; ++i)
            days[std::to_string(1 + i / 100)].push_back(record(
                "https://held.test/" + std::to_string(i), historyTimestamp(at(2025, 3, 1, 0, 0, 0)
                    + seconds(static_cast<long>(i)))));
        writeJson({ { "years", { { "2025", { { "Mar", days } } } } } });
        fs::remove(historyJournalPath(m_file));
        // Folds come once an hour here, so only the first visit reaches the file before the
        // flush.
        HistoryStore store(m_file, m_writer, {}, hours(1));
        ASSERT_TRUE(store.load());
        ASSERT_TRUE(store.addVisit("https://new.test/0", "T", at(2026, 1, 1, 0, 0, 0)));
        ASSERT_TRUE(eventually([&] {
            return readWholeFile(m_file).contents.find("new.test/0") != std::string::npos;
        }));
        ASSERT_TRUE(eventually([&] { return visitLines(historyJournalPath(m_file)) == 0; }));
        std::string file = readWholeFile(m_file).contents;
        std::uintmax_t before = fs::file_size(historyJournalPath(m_file));
        for (int i = 1; i <= 5; ++i)
            ASSERT_TRUE(store.addVisit(
                "https://new.test/" + std::to_string(i), "T", at(2026, 1, 1, 0, i, 0)));
        ASSERT_TRUE(eventually([&] { return visitLines(historyJournalPath(m_file)) == 5; }));
        perVisit.push_back((fs::file_size(historyJournalPath(m_file)) - before) / 5);
        EXPECT_EQ(readWholeFile(m_file).contents, file);
        EXPECT_EQ(fileJson()["years"]["2026"]["Jan"]["1"].size(), 6u);
        EXPECT_EQ(fileJson()["years"]["2025"]["Mar"].size(), (held + 99) / 100);
    }
    EXPECT_EQ(perVisit[0], perVisit[1]);
    EXPECT_LT(perVisit[0], 200u);
}

TEST_F(HistoryStoreTest, JournalOfAKilledRunIsReplayedAndItsCutLineSkipped)
{
    // A writer that never writes until flushed: the visits are only in the journal.
    FileWriter slow(hours(1));
    HistoryStore store(m_file, slow);
    writeJson({ { "years", { { "2025", { { "Dec", { { "1", Json::array({ record("https://old.test/", "2025-12-01T00:00:00Z") }) } } } } } } } });
    ASSERT_TRUE(store.load());
    ASSERT_TRUE(store.addVisit("https://a.test/", "A", at(2026, 1, 1, 0, 0, 0)));
    ASSERT_TRUE(store.addVisit("https://b.test/", "B", at(2026, 1, 2, 0, 0, 0)));
    ASSERT_TRUE(eventually([&] { return visitLines(historyJournalPath(m_file)) == 2; }));

    // What a kill now leaves, with a line cut short by it.
    fs::path killed = m_dir / "killed";
    fs::create_directory(killed);
    fs::copy_file(m_file, killed / "history.json");
    fs::copy_file(historyJournalPath(m_file), historyJournalPath(killed / "history.json"));
    std::string cut = historyJournalVisitLine({ 99, "https://cut.test/", "", "2026-01-03T00:00:00Z" });
    std::ofstream(historyJournalPath(killed / "history.json"), std::ios::app)
        << cut.substr(0, cut.size() / 2);

    HistoryStore reloaded(killed / "history.json", m_writer);
    ASSERT_TRUE(reloaded.load());
    EXPECT_FALSE(reloaded.readOnly());
    using Urls = std::vector<std::string>;
    EXPECT_EQ(listedURLs(reloaded), (Urls { "https://b.test/", "https://a.test/", "https://old.test/" }));
    EXPECT_EQ(reloaded.entries()[0].index, 0u);
    // The next visit goes on a line of its own, and the file gets everything once folded.
    ASSERT_TRUE(reloaded.addVisit("https://c.test/", "C", at(2026, 1, 3, 0, 0, 0)));
    m_writer.flush();
    HistoryStore again(killed / "history.json", m_writer);
    ASSERT_TRUE(again.load());
    EXPECT_EQ(listedURLs(again),
        (Urls { "https://c.test/", "https://b.test/", "https://a.test/", "https://old.test/" }));
    Json file = parseJson(readWholeFile(killed / "history.json").contents).value_or(Json());
    EXPECT_EQ(file["years"]["2026"]["Jan"]["2"][0]["title"], "B");
    EXPECT_EQ(file["now"]["day"], "3");
}

struct CrashCase {
    const char* name;
    // Which file a kill left in place: before or after the deletion or clearing was written.
    const char* file;
    std::vector<std::string> listed;
};

class HistoryCrashOrderTest : public HistoryStoreTest,
                              public testing::WithParamInterface<CrashCase> { };

TEST_P(HistoryCrashOrderTest, JournalAgreesWithWhicheverFileAKillLeft)
{
    // a and b were recorded and folded, then b was deleted (or all cleared), then c recorded:
    // the journal as a kill leaves it before its older lines are dropped.
    std::map<std::string, std::string> files;
    {
        HistoryStore store(m_file, m_writer);
        ASSERT_TRUE(store.load());
        ASSERT_TRUE(store.addVisit("https://a.test/", "", at(2026, 1, 1, 0, 0, 0)));
        ASSERT_TRUE(store.addVisit("https://b.test/", "", at(2026, 1, 1, 0, 0, 1)));
        files["before"] = fileText();
        ASSERT_TRUE(store.deleteEntries({ 0 }));
        files["deleted"] = fileText();
        ASSERT_TRUE(store.clear());
        files["cleared"] = fileText();
    }
    ASSERT_EQ(files["deleted"].find("b.test"), std::string::npos);
    auto visit = [](std::uint64_t n, const char* url, int second) {
        return historyJournalVisitLine(
            { n, url, "", historyTimestamp(at(2026, 1, 1, 0, 0, second)) });
    };
    std::string journal = "{\"quivel-history-journal\":1}\n" + historyJournalBaseLine(files["before"], 0)
        + visit(1, "https://a.test/", 0) + visit(2, "https://b.test/", 1)
        + historyJournalBaseLine(files["before"], 2) + historyJournalBaseLine(files["deleted"], 3)
        + historyJournalBaseLine(files["cleared"], 4) + visit(5, "https://c.test/", 2);
    writeText(files[GetParam().file]);
    ASSERT_TRUE(writeFileAtomically(historyJournalPath(m_file), journal));
    HistoryStore reloaded(m_file, m_writer);
    ASSERT_TRUE(reloaded.load());
    EXPECT_EQ(listedURLs(reloaded), GetParam().listed);
}

INSTANTIATE_TEST_SUITE_P(Kills, HistoryCrashOrderTest,
    testing::Values(
        CrashCase { "BeforeTheDeletionWasWritten", "before",
            { "https://c.test/", "https://b.test/", "https://a.test/" } },
        CrashCase { "AfterTheDeletionWasWritten", "deleted", { "https://c.test/", "https://a.test/" } },
        CrashCase { "AfterTheClearingWasWritten", "cleared", { "https://c.test/" } }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HistoryStoreTest, JournalThatIsNotOursIsKeptAsideAndNeverFollowed)
{
    const std::string theirs
        = historyJournalVisitLine({ 1, "https://theirs.test/", "", "2026-01-01T00:00:00Z" });
    for (bool link : { true, false }) {
        fs::path dir = m_dir / (link ? "link" : "copy");
        fs::create_directory(dir);
        fs::path file = dir / "history.json";
        fs::path journal = historyJournalPath(file);
        fs::path aside = journal;
        aside += ".bad";
        fs::path target = dir / "target";
        ASSERT_TRUE(writeFileAtomically(target, theirs));
        if (link)
            fs::create_symlink(target, journal);
        else
            fs::copy_file(target, journal);
        HistoryStore store(file, m_writer);
        ASSERT_TRUE(store.load());
        EXPECT_TRUE(store.entries().empty());
        ASSERT_TRUE(store.addVisit("https://mine.test/", "", at(2026, 1, 1, 0, 0, 0)));
        m_writer.flush();
        EXPECT_TRUE(store.takeWriteFailures().empty());
        EXPECT_EQ(readWholeFile(target).contents, theirs);
        EXPECT_EQ(fs::is_symlink(aside), link);
        EXPECT_EQ(readWholeFile(aside, kHistoryFileLimit, FileLinks::Follow).contents, theirs);
        EXPECT_FALSE(fs::is_symlink(journal));
        HistoryStore reloaded(file, m_writer);
        ASSERT_TRUE(reloaded.load());
        EXPECT_EQ(listedURLs(reloaded), std::vector<std::string> { "https://mine.test/" });
    }
}

} // namespace

} // namespace qv
