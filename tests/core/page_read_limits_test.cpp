// Measuring a page's answer against a read's limit.
#include "extensions/page_read_limits.h"

#include <gtest/gtest.h>

namespace qv {

TEST(PageReadLimits, SizeCountsUTF8BytesOfKeysAndValues)
{
    struct Case {
        Json value;
        std::size_t size;
    };
    const Case cases[] = {
        { Json("h\xC3\xA9llo"), 6 },
        { Json(""), 0 },
        { Json(nullptr), 1 },
        { Json(12345), 1 },
        { Json { { "ab", "c" } }, 4 },
        { Json::array({ "a", 1 }), 4 },
        { Json { { "k", Json::array({ "xy" }) } }, 5 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(pageReadSize(c.value, 1000), c.size) << c.value;
}

TEST(PageReadLimits, CountingStopsSoonAfterTheLimit)
{
    Json many = Json::array();
    for (int i = 0; i < 100000; ++i)
        many.push_back("abc");
    std::size_t size = pageReadSize(many, 10);
    EXPECT_GT(size, 10u);
    EXPECT_LT(size, 20u);
}

TEST(PageReadLimits, OneUnitPastTheLimitFails)
{
    PageReadLimit limit { 8, "Too big" };
    EXPECT_FALSE(pageReadOverLimit(limit, 8));
    EXPECT_EQ(pageReadOverLimit(limit, 9), "Too big");
}

} // namespace qv
