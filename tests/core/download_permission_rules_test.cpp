// When a page's downloads start by themselves, wait for the user, or are refused.
#include "downloads/download_permission_rules.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv {

namespace {

using Clock = PageDownloadGate::Clock;
using A = DownloadAdmission;

// One step of a tab's life, at a time in seconds from its start.
struct Step {
    enum Kind { Gesture, Commit, MainDownload, FrameDownload, Allow, Block };
    Kind kind;
    int second = 0;
};

struct GateCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<A> admissions; // of the download steps, in order
    bool askingAtEnd;
};

std::vector<A> run(PageDownloadGate& gate, const std::vector<Step>& steps)
{
    Clock::time_point start {};
    std::vector<A> admissions;
    for (const Step& step : steps) {
        Clock::time_point at = start + std::chrono::seconds(step.second);
        switch (step.kind) {
        case Step::Gesture:
            gate.noteUserGesture(at);
            break;
        case Step::Commit:
            gate.pageCommitted(at);
            break;
        case Step::MainDownload:
            admissions.push_back(gate.admit(DownloadFrame::Main, at));
            break;
        case Step::FrameDownload:
            admissions.push_back(gate.admit(DownloadFrame::Sub, at));
            break;
        case Step::Allow:
            gate.answer(DownloadAnswer::Allowed);
            break;
        case Step::Block:
            gate.answer(DownloadAnswer::Blocked);
            break;
        }
    }
    return admissions;
}

} // namespace

TEST(PageDownloadGate, OnlyTheFirstDownloadOrTheUsersOwnStartsWithoutAsking)
{
    using S = Step;
    const GateCase cases[] = {
        { "FirstOfAPageStarts", { { S::MainDownload } }, { A::Start }, false },
        { "SecondWithoutGestureWaits", { { S::MainDownload }, { S::MainDownload } },
            { A::Start, A::Hold }, true },
        { "FramesBeyondTheFirstWait",
            { { S::FrameDownload }, { S::FrameDownload }, { S::FrameDownload } },
            { A::Start, A::Hold, A::Hold }, true },
        { "GestureLetsOneMainDownloadGo",
            { { S::MainDownload }, { S::Gesture, 10 }, { S::MainDownload, 11 },
                { S::MainDownload, 11 } },
            { A::Start, A::Start, A::Hold }, true },
        { "AGestureDoesNotFreeAFrame",
            { { S::MainDownload }, { S::Gesture, 1 }, { S::FrameDownload, 1 } },
            { A::Start, A::Hold }, true },
        { "AnOldGestureCountsForNothing",
            { { S::MainDownload }, { S::Gesture, 1 }, { S::MainDownload, 60 } },
            { A::Start, A::Hold }, true },
        { "AllowLetsLaterOnesGo",
            { { S::MainDownload }, { S::FrameDownload }, { S::Allow }, { S::FrameDownload } },
            { A::Start, A::Hold, A::Start }, false },
        { "BlockRefusesLaterOnes",
            { { S::MainDownload }, { S::FrameDownload }, { S::Block }, { S::FrameDownload },
                { S::Gesture, 1 }, { S::MainDownload, 1 } },
            { A::Start, A::Hold, A::Refuse, A::Refuse }, false },
        // Reloading or moving itself gives a page no fresh free download, nor escapes Block.
        { "APageThatReloadsItselfKeepsItsCount",
            { { S::FrameDownload }, { S::Commit, 1 }, { S::FrameDownload, 1 },
                { S::Commit, 2 }, { S::FrameDownload, 2 } },
            { A::Start, A::Hold, A::Hold }, true },
        { "APageThatMovesItselfStaysBlocked",
            { { S::FrameDownload }, { S::FrameDownload }, { S::Block }, { S::Commit, 1 },
                { S::FrameDownload, 1 } },
            { A::Start, A::Hold, A::Refuse }, false },
        { "APageTheUserOpensStartsAfresh",
            { { S::FrameDownload }, { S::Block }, { S::Gesture, 1 }, { S::Commit, 2 },
                { S::FrameDownload, 2 }, { S::Gesture, 3 }, { S::Commit, 4 },
                { S::FrameDownload, 4 } },
            { A::Start, A::Start, A::Start }, false },
        { "AnOldGestureStartsNoFreshPage",
            { { S::FrameDownload }, { S::Gesture, 1 }, { S::Commit, 60 },
                { S::FrameDownload, 60 } },
            { A::Start, A::Hold }, true },
        { "NavigatingAwayEndsTheQuestion",
            { { S::MainDownload }, { S::MainDownload }, { S::Commit, 1 } }, { A::Start, A::Hold },
            false },
    };
    for (const GateCase& c : cases) {
        PageDownloadGate gate;
        EXPECT_EQ(run(gate, c.steps), c.admissions) << c.name;
        EXPECT_EQ(gate.asking(), c.askingAtEnd) << c.name;
    }
}

TEST(PageDownloadGate, AFloodHoldsABoundedNumberAndRefusesTheRest)
{
    PageDownloadGate gate;
    Clock::time_point at {};
    EXPECT_EQ(gate.admit(DownloadFrame::Sub, at), A::Start);
    std::size_t held = 0, refused = 0;
    for (int i = 0; i < 500; ++i) {
        A admission = gate.admit(DownloadFrame::Sub, at);
        held += admission == A::Hold;
        refused += admission == A::Refuse;
    }
    EXPECT_EQ(held, PageDownloadGate::kMaxHeld);
    EXPECT_EQ(held + refused, 500u);
    EXPECT_TRUE(gate.asking());
}

TEST(PageDownloadGate, ADownloadIsAFramesWhenAFrameAskedForItsAddress)
{
    PageDownloadGate gate;
    gate.expectDownload("http://a/x", DownloadFrame::Main);
    gate.expectDownload("http://a/x", DownloadFrame::Sub);
    EXPECT_EQ(gate.takeFrame("http://a/x"), DownloadFrame::Sub);
    EXPECT_EQ(gate.takeFrame("http://a/x"), DownloadFrame::Main);
    EXPECT_EQ(gate.takeFrame("http://a/x"), DownloadFrame::Main);
    gate.expectDownload("http://a/y", DownloadFrame::Sub);
    EXPECT_EQ(gate.takeFrame("http://a/z"), DownloadFrame::Main);
    EXPECT_EQ(gate.takeFrame("http://a/y"), DownloadFrame::Sub);
}

TEST(PageDownloadGate, OnlyTheFirstFailureOfAPageGivesANotice)
{
    PageDownloadGate gate;
    EXPECT_TRUE(gate.noteFailure("Download failed: one"));
    EXPECT_FALSE(gate.noteFailure("Download failed: two"));
    EXPECT_EQ(gate.failureNotice(), "Download failed: one");
    gate.dismissFailureNotice();
    EXPECT_FALSE(gate.noteFailure("Download failed: three"));
    EXPECT_FALSE(gate.failureNotice());
    gate.pageCommitted(Clock::time_point {});
    EXPECT_TRUE(gate.noteFailure("Download failed: four"));
}

} // namespace qv
