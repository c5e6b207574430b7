// Unloading background tabs when the machine or the browser runs low on memory.
#include "tabs/tab_memory_guard.h"

#include "app/services.h"
#include "app/shell.h"
#include "base/user_defaults.h"
#include "downloads/download_service.h"
#include "platform/process_memory.h"
#include "tabs/memory_pressure_rules.h"
#include "tabs/tab_service.h"

#include <glibmm/main.h>

#include <thread>
#include <unistd.h>

namespace qv {

namespace {

    // True when a form field of the page holds something the user changed and has not sent.
    constexpr const char* kUnsavedFormScript = R"JS((() => {
    for (const field of document.querySelectorAll('input, textarea, select')) {
        if (field instanceof HTMLSelectElement) {
            for (const option of field.options)
                if (option.selected !== option.defaultSelected)
                    return true;
            continue;
        }
        const type = (field.type || '').toLowerCase();
        if (type === 'file') {
            if (field.files && field.files.length)
                return true;
            continue;
        }
        if (['hidden', 'submit', 'button', 'reset', 'image'].includes(type))
            continue;
        if (type === 'checkbox' || type === 'radio') {
            if (field.checked !== field.defaultChecked)
                return true;
            continue;
        }
        if (field.value !== field.defaultValue)
            return true;
    }
    return false;
})())JS";

} // namespace

TabMemoryGuard::TabMemoryGuard(const Services& services)
    : m_services(services)
    , m_machineKiB(machineMemoryKiB())
{
    m_timer = Glib::signal_timeout().connect_seconds(
        [this] {
            if (enabled()) {
                watchSystemWarnings();
                checkNow();
            }
            return true;
        },
        static_cast<unsigned>(kCheckInterval.count()));
}

void TabMemoryGuard::watchSystemWarnings()
{
    // The system's own warning (the low-memory monitor or the desktop portal), listened to only
    // once the switch is on.
    if (m_monitor)
        return;
    m_monitor = GObjectPtr<GMemoryMonitor>::adopt(g_memory_monitor_dup_default());
    if (m_monitor)
        m_lowMemoryHandler = g_signal_connect(m_monitor.get(), "low-memory-warning",
            G_CALLBACK(+[](GMemoryMonitor*, GMemoryMonitorWarningLevel, gpointer self) {
                static_cast<TabMemoryGuard*>(self)->relievePressure();
            }),
            this);
}

TabMemoryGuard::~TabMemoryGuard()
{
    m_lifetime.end();
    m_timer.disconnect();
    if (m_monitor && m_lowMemoryHandler)
        g_signal_handler_disconnect(m_monitor.get(), m_lowMemoryHandler);
}

bool TabMemoryGuard::enabled() const
{
    return m_services.shell->defaults().boolForKey(kUnloadTabsUnderMemoryPressureKey);
}

void TabMemoryGuard::checkNow()
{
    if (!enabled() || m_measuring)
        return;
    m_measuring = true;
    // A file per process is read: never on the UI thread.
    std::thread([owner = m_lifetime.token(), guard = this, root = getpid()] {
        long pss = treeMemory(root).pssKiB;
        runOnMainLoop(owner, [guard, pss] { guard->measured(pss); });
    }).detach();
}

void TabMemoryGuard::measured(long pssKiB)
{
    m_measuring = false;
    std::optional<std::int64_t> userLimit;
    Json stored = m_services.shell->defaults().objectForKey(kTabMemoryLimitKey);
    if (stored.is_number_integer())
        userLimit = stored.get<std::int64_t>();
    if (pssKiB > 0 && static_cast<std::uint64_t>(pssKiB) > tabMemoryLimitKiB(userLimit, m_machineKiB)) {
        relievePressure();
        return;
    }
    ++m_roundsFinished;
}

void TabMemoryGuard::relievePressure()
{
    // A page that never answers (its view gone mid-question) does not stop relief for good.
    if (m_asking && std::chrono::steady_clock::now() - m_askedAt > 3 * kCheckInterval)
        m_asking = false;
    if (!enabled() || m_asking) {
        if (!m_asking)
            ++m_roundsFinished;
        return;
    }
    // Every background page with a view is asked about its forms first; the choice is made
    // when all have answered, over the tabs as they are then.
    TabService& tabs = *m_services.tabs;
    m_unsavedForms.clear();
    std::vector<std::pair<TabID, WebKitWebView*>> asked;
    for (const Tab& tab : tabs.browserTabs())
        if (tab.webView() && tab.webView() != tabs.selectedWebView())
            asked.emplace_back(tab.id(), tab.webView());
    if (asked.empty()) {
        ++m_roundsFinished;
        return;
    }
    m_asking = true;
    m_askedAt = std::chrono::steady_clock::now();
    m_awaitedAnswers = asked.size();
    for (const auto& [id, view] : asked) {
        m_unsavedForms[id] = true; // until the page says otherwise
        evaluateBrowserScript(view, kUnsavedFormScript, m_lifetime.token(),
            [this, id](const ScriptAnswer& answer) {
                // Only a plain "no" lets the tab go.
                bool no = answer.ok && !answer.isString && answer.text == std::string_view("false");
                m_unsavedForms[id] = !no;
                if (--m_awaitedAnswers == 0)
                    unloadAnswered();
            });
    }
}

void TabMemoryGuard::unloadAnswered()
{
    m_asking = false;
    TabService& tabs = *m_services.tabs;
    DownloadService& downloads = *m_services.downloads;
    std::vector<MemoryPressureTab> shown;
    std::vector<TabID> ids;
    for (const Tab& tab : tabs.browserTabs()) {
        WebKitWebView* view = tab.webView();
        auto answered = m_unsavedForms.find(tab.id());
        shown.push_back({ view && view == tabs.selectedWebView(), view != nullptr,
            view && webkit_web_view_is_playing_audio(view),
            view && downloads.hasRunningDownloadFor(view),
            // A page not asked (a view made since) is not unloaded this time.
            answered == m_unsavedForms.end() || answered->second,
            tab.lastShown().time_since_epoch().count() });
        ids.push_back(tab.id());
    }
    for (std::size_t row : tabsToUnloadForMemory(shown))
        if (Tab* tab = tabs.tabList().tabWithID(ids[row]))
            tabs.unloadTabForMemory(*tab);
    ++m_roundsFinished;
}

} // namespace qv
