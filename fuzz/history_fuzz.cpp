// The history file reader on any bytes, then a visit, a deletion and a re-read of what it wrote.
#include "base/file_writer.h"
#include "fuzz_support.h"
#include "history/history_store.h"

#include <cstddef>
#include <cstdint>

using namespace qv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto folder = fuzz::freshScratchFolder("history");
    const auto file = folder / "history.json";
    fuzz::writeBytes(file, std::string_view(reinterpret_cast<const char*>(data), size));

    FileWriter writer;
    HistoryStore store(file, writer);
    auto loaded = store.load();
    fuzz::require(loaded.ok() != store.readOnly(), "a failed load leaves the store read-only");
    if (store.readOnly())
        return 0;

    const auto moment = HistoryClock::time_point(std::chrono::seconds(1767225600));
    auto added = store.addVisit("https://a.test/", "A", moment);
    std::vector<size_t> rows;
    for (size_t i = 0; i < store.entries().size() && i < 8; i += 2)
        rows.push_back(i);
    rows.push_back(size);
    (void)store.deleteEntries(rows);
    writer.flush();

    // Whatever the store wrote, it must read back itself.
    if (added) {
        HistoryStore again(file, writer);
        fuzz::require(again.load().ok(), "the store reads what it wrote");
    }
    return 0;
}
