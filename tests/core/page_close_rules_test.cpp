// The question before a tab closes and the round of closing the window or quitting.
#include "tabs/page_close_rules.h"

#include <gtest/gtest.h>

namespace qv {

TEST(PageCloseRules, QuestionNamesTheHostAndLeaveGoesAhead)
{
    Confirmation named = leavePageConfirmation("example.org");
    EXPECT_EQ(named.message, "Leave this page?");
    EXPECT_EQ(named.informativeText, "example.org may not save the changes you made.");
    EXPECT_EQ(named.buttons, (std::vector<std::string> { "Leave", "Stay" }));
    EXPECT_TRUE(named.confirmedBy(0));
    EXPECT_FALSE(named.confirmedBy(1));
    EXPECT_EQ(leavePageConfirmation("").informativeText,
        "This page may not save the changes you made.");
}

TEST(PageCloseRules, RoundAgreesOnlyWhenEveryPageAgreesAndTheFirstStayEndsIt)
{
    PageCloseRound round({ "a", "b", "c" });
    round.agreed("a");
    round.agreed("x"); // not asked: changes nothing
    EXPECT_FALSE(round.finished());
    round.refused("b");
    round.refused("c");
    EXPECT_TRUE(round.finished());
    EXPECT_FALSE(round.allAgreed());
    EXPECT_EQ(round.refusedBy(), "b");

    PageCloseRound agreeing({ "a", "b" });
    agreeing.agreed("b");
    agreeing.agreed("a");
    EXPECT_TRUE(agreeing.allAgreed());
    EXPECT_EQ(PageCloseRound({}).allAgreed(), true);
}

} // namespace qv
