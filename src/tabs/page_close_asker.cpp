// Asking pages before their tabs close, one question on screen at a time.
#include "tabs/page_close_asker.h"

#include "app/browser_window.h"
#include "app/services.h"
#include "app/shell.h"
#include "platform/alerts.h"
#include "tabs/tab_service.h"

#include <glibmm/main.h>

namespace qv {

void PageCloseAsker::HeldDialog::answer(bool leave)
{
    if (!dialog)
        return;
    webkit_script_dialog_confirm_set_confirmed(dialog, leave);
    webkit_script_dialog_close(dialog);
    webkit_script_dialog_unref(std::exchange(dialog, nullptr));
}

PageCloseAsker::PageCloseAsker(const Services& services, TabService& tabs)
    : m_services(services)
    , m_tabs(tabs)
{
}

PageCloseAsker::~PageCloseAsker()
{
    m_lifetime.end();
    // Whatever is still waiting stays open: the browser is going.
    m_round.reset();
    m_roundAgreed.clear();
    m_pending.clear();
}

void PageCloseAsker::watchWebView(WebKitWebView* view)
{
    connectSignal<&PageCloseAsker::webViewClose>(view, "close", this);
    connectSignal<&PageCloseAsker::webViewScriptDialog>(view, "script-dialog", this);
}

void PageCloseAsker::forgetWebView(WebKitWebView* view)
{
    g_signal_handlers_disconnect_by_data(view, this);
    for (auto& [id, pending] : m_pending) {
        if (pending.view.get() != view)
            continue;
        // Settled on a later turn: the view goes while its tab is being closed or unloaded,
        // and closing the tab now would close it inside that.
        Glib::signal_idle().connect_once(
            sigc::track_obj([this, id = id] { pageGone(id); }, *this));
    }
}

std::optional<TabID> PageCloseAsker::tabIDOf(WebKitWebView* view) const
{
    return m_tabs.tabIDForWebView(view);
}

void PageCloseAsker::closeTabs(const std::vector<TabID>& ids)
{
    // Tabs without a page go first: a page that agrees at once closes its tab, and the tab
    // selected in its place must not be one about to close, which would load it for nothing.
    for (const TabID& id : ids) {
        const Tab* tab = m_tabs.browserTabs().tabWithID(id);
        if (tab && !tab->webView())
            closeTabWithID(id);
    }
    for (const TabID& id : ids) {
        const Tab* tab = m_tabs.browserTabs().tabWithID(id);
        if (!tab || !tab->webView())
            continue;
        auto [it, added] = m_pending.try_emplace(id);
        Pending& pending = it->second;
        pending.closesTab = true;
        if (added) {
            pending.view = GObjectPtr<WebKitWebView>::retain(tab->webView());
            askPage(id);
        } else if (pending.state == State::Agreed) {
            pageAgreed(id);
        }
    }
}

void PageCloseAsker::closeAll(std::function<void()> agreed)
{
    if (agreed)
        m_roundAgreed.push_back(std::move(agreed));
    if (m_round)
        return;
    std::vector<TabID> asked;
    for (const Tab& tab : m_tabs.browserTabs())
        if (tab.webView())
            asked.push_back(tab.id());
    m_round.emplace(asked);
    for (const TabID& id : asked) {
        auto [it, added] = m_pending.try_emplace(id);
        Pending& pending = it->second;
        pending.inRound = true;
        if (added) {
            pending.view = GObjectPtr<WebKitWebView>::retain(m_tabs.browserTabForID(id));
            askPage(id);
        }
    }
    settleRound();
}

void PageCloseAsker::askPage(const TabID& id)
{
    auto it = m_pending.find(id);
    if (it == m_pending.end())
        return;
    Pending& pending = it->second;
    pending.state = State::Waiting;
    armTimeout(pending, id);
    WebKitWebView* view = pending.view.get();
    if (!webViewURI(view).empty() && webkit_web_view_get_is_web_process_responsive(view)) {
        // The engine gives the page only a moment to start its handler before closing it
        // unasked; a script's answer first means its process is awake and has the time.
        runPageScript(view, "0", { PageScriptKind::Expression, kBrowserScriptWorld, nullptr },
            m_lifetime.token(), [this, id, view](JSCValue*, const GError*) {
                auto found = m_pending.find(id);
                if (found != m_pending.end() && found->second.view.get() == view
                    && found->second.state == State::Waiting)
                    tryClosePage(view);
            });
        return;
    }
    tryClosePage(view);
}

void PageCloseAsker::tryClosePage(WebKitWebView* view)
{
    // The engine runs the page's before-unload handler, then answers with "close" or
    // "script-dialog"; a view without a running page closes at once, inside this call.
    webkit_web_view_try_close(view);
}

void PageCloseAsker::armTimeout(Pending& pending, const TabID& id)
{
    pending.timeout.disconnect();
    pending.timeout = Glib::signal_timeout().connect(
        sigc::track_obj(
            [this, id] {
                auto found = m_pending.find(id);
                if (found != m_pending.end()
                    && (found->second.state == State::Waiting
                        || found->second.state == State::Leaving))
                    pageAgreed(id);
                return false;
            },
            *this),
        static_cast<unsigned>(kPageCloseTimeout.count()));
}

void PageCloseAsker::pageAgreed(const TabID& id)
{
    auto it = m_pending.find(id);
    if (it == m_pending.end())
        return;
    Pending& pending = it->second;
    if (pending.closesTab) {
        m_pending.erase(it);
        if (m_round)
            m_round->agreed(id);
        closeTabWithID(id);
    } else if (pending.inRound) {
        pending.state = State::Agreed;
        pending.timeout.disconnect();
        if (m_round)
            m_round->agreed(id);
    } else {
        // Called off in the meantime: nothing closes.
        m_pending.erase(it);
    }
    settleRound();
}

void PageCloseAsker::pageGone(const TabID& id)
{
    auto it = m_pending.find(id);
    if (it == m_pending.end())
        return;
    const Tab* tab = m_tabs.browserTabs().tabWithID(id);
    if (tab && tab->webView() == it->second.view.get())
        return;
    // A question on screen is answered by the user; the answer settles it.
    if (it->second.state == State::OnScreen)
        return;
    std::erase(m_questions, id);
    bool closesTab = it->second.closesTab;
    m_pending.erase(it);
    if (m_round)
        m_round->agreed(id);
    // Without its view the page has nothing more to ask.
    if (closesTab && tab)
        closeTabWithID(id);
    settleRound();
}

void PageCloseAsker::webViewClose(WebKitWebView* view)
{
    auto id = tabIDOf(view);
    if (!id)
        return;
    auto it = m_pending.find(*id);
    // A page closing itself (window.close()) closes nothing the user did not ask for.
    if (it == m_pending.end() || it->second.view.get() != view)
        return;
    if (it->second.state == State::Waiting || it->second.state == State::Leaving)
        pageAgreed(*id);
}

gboolean PageCloseAsker::webViewScriptDialog(WebKitWebView* view, WebKitScriptDialog* dialog)
{
    if (webkit_script_dialog_get_dialog_type(dialog) != WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM)
        return FALSE;
    auto id = tabIDOf(view);
    if (!id)
        return FALSE;
    auto [it, added] = m_pending.try_emplace(*id);
    Pending& pending = it->second;
    if (added) {
        // The page asks before a navigation: the same question, and only the page's answer.
        pending.view = GObjectPtr<WebKitWebView>::retain(view);
        pending.navigation = true;
    } else if (pending.dialog.dialog || pending.view.get() != view) {
        return FALSE;
    }
    pending.dialog.dialog = webkit_script_dialog_ref(dialog);
    if (!pending.closesTab && !pending.inRound && !pending.navigation) {
        // Its close was called off while the page made up its mind.
        m_pending.erase(it);
        return TRUE;
    }
    pending.timeout.disconnect();
    pending.state = State::Held;
    m_questions.push_back(*id);
    showNextQuestion();
    return TRUE;
}

void PageCloseAsker::showNextQuestion()
{
    if (m_questionShown || m_questions.empty())
        return;
    TabID id = m_questions.front();
    auto it = m_pending.find(id);
    if (it == m_pending.end()) {
        m_questions.pop_front();
        showNextQuestion();
        return;
    }
    it->second.state = State::OnScreen;
    m_questionShown = true;
    // The user sees which page asks.
    selectTabWithID(id);
    Confirmation question = leavePageConfirmation(hostOfURI(webViewURI(it->second.view.get())));
    BrowserWindow* window = m_services.shell->window();
    showAlert(window ? GTK_WINDOW(window->gobj()) : nullptr,
        { question.message, question.informativeText, question.buttons },
        [this, id, question, alive = m_lifetime.token()](int answer) {
            if (alive.expired())
                return;
            questionAnswered(id, answer >= 0 && question.confirmedBy(static_cast<size_t>(answer)));
        });
}

void PageCloseAsker::questionAnswered(const TabID& id, bool leave)
{
    m_questionShown = false;
    std::erase(m_questions, id);
    auto it = m_pending.find(id);
    if (it != m_pending.end()) {
        Pending& pending = it->second;
        pending.dialog.answer(leave);
        const Tab* tab = m_tabs.browserTabs().tabWithID(id);
        bool viewGone = !tab || tab->webView() != pending.view.get();
        if (!leave) {
            if (pending.inRound && m_round)
                m_round->refused(id);
            m_pending.erase(it);
        } else if (viewGone) {
            // Without its view the page has nothing more to say: it agreed.
            pending.navigation = false;
            pageAgreed(id);
        } else if (pending.navigation) {
            // The page goes on to its next address; a close still asked for asks that page.
            pending.navigation = false;
            if (pending.closesTab || pending.inRound)
                askPage(id);
            else
                m_pending.erase(it);
        } else {
            // The engine sends "close" next; a page that dies first is not waited for.
            pending.state = State::Leaving;
            armTimeout(pending, id);
        }
    }
    settleRound();
    showNextQuestion();
}

void PageCloseAsker::settleRound()
{
    if (!m_round || !m_round->finished())
        return;
    PageCloseRound round = std::move(*m_round);
    m_round.reset();
    auto agreed = std::exchange(m_roundAgreed, {});
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        Pending& pending = it->second;
        if (!pending.inRound) {
            ++it;
            continue;
        }
        pending.inRound = false;
        bool keep = pending.closesTab || pending.navigation || pending.state == State::OnScreen;
        if (!keep && pending.state == State::Held)
            std::erase(m_questions, it->first);
        // A page still making up its mind is left to answer; its answer then closes nothing.
        if (!keep && pending.state != State::Waiting)
            it = m_pending.erase(it);
        else
            ++it;
    }
    if (round.allAgreed()) {
        Glib::signal_idle().connect_once(sigc::track_obj(
            [agreed] {
                for (const auto& run : agreed)
                    run();
            },
            *this));
    } else if (round.refusedBy()) {
        selectTabWithID(*round.refusedBy());
    }
}

void PageCloseAsker::closeTabWithID(const TabID& id)
{
    const TabList& tabs = m_tabs.browserTabs();
    if (const Tab* tab = tabs.tabWithID(id))
        if (auto index = tabs.indexOf(*tab))
            m_tabs.closeBrowserTabAtIndex(*index);
}

void PageCloseAsker::selectTabWithID(const TabID& id)
{
    const TabList& tabs = m_tabs.browserTabs();
    const Tab* tab = tabs.tabWithID(id);
    auto index = tab ? tabs.indexOf(*tab) : std::nullopt;
    if (index && m_tabs.indexOfSelectedTab() != index)
        m_tabs.selectBrowserTabAtIndex(*index);
}

} // namespace qv
