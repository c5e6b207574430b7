// Measuring what a page hands back to a read against its limit.
#include "extensions/page_read_limits.h"

#include <vector>

namespace qv {

std::optional<std::string> pageReadOverLimit(const PageReadLimit& limit, std::size_t length)
{
    if (length <= limit.maxLength)
        return std::nullopt;
    return std::string(limit.message);
}

std::size_t pageReadSize(const Json& value, std::size_t stopAfter)
{
    std::size_t total = 0;
    std::vector<const Json*> pending { &value };
    while (!pending.empty() && total <= stopAfter) {
        const Json* item = pending.back();
        pending.pop_back();
        if (item->is_string()) {
            total += item->get_ref<const std::string&>().size();
        } else if (item->is_object()) {
            for (auto it = item->begin(); it != item->end() && total <= stopAfter; ++it) {
                total += it.key().size() + 1;
                pending.push_back(&it.value());
            }
        } else if (item->is_array()) {
            for (auto it = item->begin(); it != item->end() && total <= stopAfter; ++it) {
                total += 1;
                pending.push_back(&*it);
            }
        } else {
            total += 1;
        }
    }
    return total;
}

} // namespace qv
