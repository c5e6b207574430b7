// The per-tab budget of user-activity reports.
#include "extensions/user_activity_limiter.h"

#include <gtest/gtest.h>

namespace qv {

using namespace std::chrono_literals;
using Limiter = UserActivityRateLimiter;

TEST(UserActivityLimiter, ABurstPassesThenOnePerInterval)
{
    Limiter limiter;
    Limiter::Clock::time_point t0 {};
    for (int i = 0; i < Limiter::kBurst; ++i)
        EXPECT_TRUE(limiter.allow("A", t0)) << i;
    EXPECT_FALSE(limiter.allow("A", t0));
    EXPECT_FALSE(limiter.allow("A", t0 + Limiter::kInterval - 1ms));
    EXPECT_TRUE(limiter.allow("A", t0 + Limiter::kInterval));
    EXPECT_FALSE(limiter.allow("A", t0 + Limiter::kInterval));
    // Another tab has its own budget.
    EXPECT_TRUE(limiter.allow("B", t0));
}

TEST(UserActivityLimiter, AFloodGetsNoMoreThanTheRate)
{
    Limiter limiter;
    Limiter::Clock::time_point t0 {};
    int allowed = 0;
    for (int i = 0; i < 100000; ++i)
        allowed += limiter.allow("A", t0 + std::chrono::microseconds(i * 10)) ? 1 : 0;
    // One second of reports.
    EXPECT_EQ(allowed, Limiter::kBurst + 1s / Limiter::kInterval - 1);
}

TEST(UserActivityLimiter, QuietTabsRegainTheirBurstAmongManyTabs)
{
    Limiter limiter;
    Limiter::Clock::time_point t0 {};
    for (int tab = 0; tab < 1000; ++tab)
        for (int i = 0; i < Limiter::kBurst; ++i)
            limiter.allow(std::to_string(tab), t0);
    Limiter::Clock::time_point later = t0 + Limiter::kBurst * Limiter::kInterval;
    for (int i = 0; i < Limiter::kBurst; ++i)
        EXPECT_TRUE(limiter.allow("0", later)) << i;
    EXPECT_FALSE(limiter.allow("0", later));
}

} // namespace qv
