// Every file the browser reads, with a named pipe or a link to an endless device in its place:
// each is refused at once with a message, never waited on or read without end.
#include "base/user_defaults.h"
#include "downloads/download_store.h"
#include "extensions/extension_manifest.h"
#include "extensions/extension_source.h"
#include "base/file_writer.h"
#include "history/history_store.h"
#include "profiles/storage_editor_rules.h"

#include "bounded_time.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

namespace qv {

namespace fs = std::filesystem;

TEST(FileReaders, APipeOrADeviceLinkInPlaceOfAFileIsRefusedWithoutWaiting)
{
    struct Reader {
        const char* name;
        // The file's name in its folder.
        const char* file;
        // What the reader reports for the folder.
        std::function<std::string(const fs::path& folder)> read;
    };
    const std::vector<Reader> readers {
        { "history", "history.json",
            [](const fs::path& folder) {
                FileWriter writer;
                auto loaded = HistoryStore(folder / "history.json", writer).load();
                return loaded ? std::string() : loaded.error();
            } },
        { "downloads", "downloads.json",
            [](const fs::path& folder) {
                FileWriter writer;
                return DownloadStore(folder / "downloads.json", writer).load().value_or("");
            } },
        { "defaults", "defaults.json",
            [](const fs::path& folder) {
                return UserDefaults(folder / "defaults.json").loadProblem().value_or("");
            } },
        { "storage import", "keys.json",
            [](const fs::path& folder) {
                return readStorageImportFiles({ folder / "keys.json" }).lastError.value_or("");
            } },
        { "manifest", "manifest.json",
            [](const fs::path& folder) {
                auto record = extensionAtDirectory(folder);
                return record ? std::string() : record.error();
            } },
        { "extension source", "page.js",
            [](const fs::path& folder) {
                return loadExtensionSourceFile(folder, folder / "page.js").editorText;
            } },
    };
    struct Intruder {
        const char* name;
        std::function<void(const fs::path&)> make;
    };
    const std::vector<Intruder> intruders {
        { "a named pipe without a writer",
            [](const fs::path& file) { ASSERT_EQ(mkfifo(file.c_str(), 0600), 0); } },
        { "a link to /dev/zero",
            [](const fs::path& file) { fs::create_symlink("/dev/zero", file); } },
    };
    for (const Reader& reader : readers) {
        for (const Intruder& intruder : intruders) {
            SCOPED_TRACE(std::string(reader.name) + ", " + intruder.name);
            test::TempDir dir;
            intruder.make(dir / reader.file);
            std::string message = test::withinSeconds(10, [&] { return reader.read(dir.path()); });
            EXPECT_FALSE(message.empty());
        }
    }
}

} // namespace qv
