// Closing tabs the user closes only once their pages agree: the engine runs each page's
// before-unload handler, and a page that wants to ask gets its question on screen.
#pragma once

#include "app/web_views.h"
#include "tabs/page_close_rules.h"
#include "tabs/tab.h"

#include <sigc++/sigc++.h>
#include <webkit/webkit.h>

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace qv {

struct Services;
class TabService;

class PageCloseAsker : public sigc::trackable {
public:
    PageCloseAsker(const Services& services, TabService& tabs);
    ~PageCloseAsker();
    PageCloseAsker(const PageCloseAsker&) = delete;
    PageCloseAsker& operator=(const PageCloseAsker&) = delete;

    // Each tab closes once its page agrees; a tab without a view closes at once.
    void closeTabs(const std::vector<TabID>& ids);
    // Closing the window or quitting: `agreed` runs on a later turn once every page has agreed.
    // A page whose question gets "Stay" ends the round: its tab is selected and nothing closes.
    void closeAll(std::function<void()> agreed);
    bool roundUnderWay() const { return m_round.has_value(); }
    // A page is being asked, or its question waits for the user.
    bool asking() const { return !m_pending.empty(); }

    // A tab's view from birth to release.
    void watchWebView(WebKitWebView* view);
    void forgetWebView(WebKitWebView* view);

private:
    enum class State { Waiting, Held, OnScreen, Leaving, Agreed };
    // The engine's question, held until the user answers it; unanswered it means "Stay".
    struct HeldDialog {
        WebKitScriptDialog* dialog = nullptr;
        HeldDialog() = default;
        HeldDialog(const HeldDialog&) = delete;
        HeldDialog& operator=(const HeldDialog&) = delete;
        ~HeldDialog() { answer(false); }
        void answer(bool leave);
    };
    struct Pending {
        GObjectPtr<WebKitWebView> view;
        State state = State::Waiting;
        // What the page's agreement does: closes the tab, counts in the round, or neither (a
        // question that came with a navigation, or one whose close was called off).
        bool closesTab = false;
        bool inRound = false;
        bool navigation = false;
        sigc::connection timeout;
        HeldDialog dialog;
        ~Pending() { timeout.disconnect(); }
    };

    void askPage(const TabID& id);
    void armTimeout(Pending& pending, const TabID& id);
    void tryClosePage(WebKitWebView* view);
    void pageAgreed(const TabID& id);
    void pageGone(const TabID& id);
    void showNextQuestion();
    void questionAnswered(const TabID& id, bool leave);
    void settleRound();
    void closeTabWithID(const TabID& id);
    void selectTabWithID(const TabID& id);
    std::optional<TabID> tabIDOf(WebKitWebView* view) const;

    void webViewClose(WebKitWebView* view);
    gboolean webViewScriptDialog(WebKitWebView* view, WebKitScriptDialog* dialog);

    const Services& m_services;
    TabService& m_tabs;
    std::map<TabID, Pending> m_pending;
    // Questions wait their turn: one is on screen at a time, the front one.
    std::deque<TabID> m_questions;
    bool m_questionShown = false;
    std::optional<PageCloseRound> m_round;
    std::vector<std::function<void()>> m_roundAgreed;
    Lifetime m_lifetime;
};

} // namespace qv
