// Content-blocker lists: the index, the compiled store, the views they are attached to and the
// per-site allowance.
#include "contentblocking/content_blocking_service.h"

#include "app/services.h"
#include "app/shell.h"
#include "base/atomic_file.h"
#include "base/user_defaults.h"
#include "base/uuid.h"
#include "contentblocking/content_blocking_button.h"
#include "contentblocking/element_hiding.h"
#include "contentblocking/element_hiding_script.h"
#include "contentblocking/filter_list_converter.h"
#include "platform/log.h"
#include "platform/storage_locations.h"
#include "profiles/profile_service.h"
#include "tabs/tab_service.h"

#include <gtkmm.h>

#include <algorithm>

namespace qv {

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kIndexFileLimit = 1024 * 1024;
// A list of the most rules the engine takes is well under this in its own format.
constexpr std::uintmax_t kEngineRulesFileLimit = 128 * 1024 * 1024;
constexpr std::uintmax_t kHidingFileLimit = 64 * 1024 * 1024;
constexpr size_t kMaxLists = 64;
constexpr size_t kMaxAllowedSitesPerProfile = 10000;
// Beyond this a page's reports are not counted: the count is the page's word, not ours.
constexpr unsigned kMaxBlockedCount = 100000;
constexpr const char* kCountingWorld = kBrowserScriptWorld;

// Reports element loads that failed without reaching the network: a load the engine blocked
// leaves no resource timing entry, one that failed at the server does.
constexpr const char* kCountingScript = R"JS((function () {
    var reported = 0;
    document.addEventListener('error', function (event) {
        var node = event.target;
        if (!(node instanceof Element) || reported >= 10000)
            return;
        var url = node.currentSrc || node.src || node.href || node.data || '';
        if (typeof url !== 'string' || !/^https?:/.test(url))
            return;
        if (performance.getEntriesByName(url).length)
            return;
        reported++;
        try { webkit.messageHandlers.qvContentBlocked.postMessage(1); } catch (e) {}
    }, true);
})();)JS";

bool isStoredHost(const std::string& host)
{
    return !host.empty() && host.size() <= 253
        && std::all_of(host.begin(), host.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-'
                   || c == ':' || c == '[' || c == ']';
           });
}

bool isListIdentifier(const std::string& identifier)
{
    return identifier.size() == 36
        && std::all_of(identifier.begin(), identifier.end(),
            [](char c) { return (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == '-'; });
}

double millisecondsSince(gint64 start)
{
    return static_cast<double>(g_get_monotonic_time() - start) / 1000.0;
}

} // namespace

ContentBlockingService::ContentBlockingService(const Services& services)
    : m_services(services)
{
}

ContentBlockingService::~ContentBlockingService()
{
    m_lifetime.end();
    if (m_hidingRead.valid())
        m_hidingRead.wait();
    for (auto& [view, state] : m_views)
        state.loadChanged.disconnect();
    m_pageScripts.clear();
}

fs::path ContentBlockingService::folder() const
{
    return dataDirectory() / kContentBlockersFolder;
}

void ContentBlockingService::start()
{
    m_services.tabs->signalWebViewCreated().connect(
        sigc::mem_fun(*this, &ContentBlockingService::webViewCreated));
    m_services.tabs->signalWebViewReleasing().connect(
        sigc::mem_fun(*this, &ContentBlockingService::webViewReleasing));
    m_services.tabs->signalSelectedViewShown().connect(
        [this](WebKitWebView*, WebKitWebView*) { m_pageStateChanged.emit(); });
    m_services.profiles->signalCurrentProfileChanged().connect(
        [this] { applyFiltersEverywhere(); });
    std::error_code ec;
    fs::create_directories(folder() / "compiled", ec);
    m_store = GObjectPtr<WebKitUserContentFilterStore>::adopt(
        webkit_user_content_filter_store_new((folder() / "compiled").c_str()));
    readIndex();
    readAllowedSites();
    if (m_lists.empty())
        return;
    // Each list's generic hiding is read off the UI thread before the list is used.
    std::vector<std::string> identifiers;
    for (const ContentBlockerListInfo& list : m_lists)
        identifiers.push_back(list.identifier);
    m_hidingRead = std::async(std::launch::async,
        [folder = folder(), identifiers, owner = m_lifetime.token(), self = this] {
            auto tables = std::make_shared<std::map<std::string, std::shared_ptr<const ElementHidingTable>>>();
            for (const std::string& identifier : identifiers) {
                FileRead read = readWholeFile(folder / (identifier + ".hiding"), kHidingFileLimit);
                if (read.status == ReadStatus::Ok)
                    (*tables)[identifier] = std::make_shared<ElementHidingTable>(
                        ElementHidingTable::fromText(read.contents));
            }
            runOnMainLoop(owner, [self, identifiers, tables] {
                for (const std::string& identifier : identifiers) {
                    auto table = tables->find(identifier);
                    self->loadOrCompile(identifier, table == tables->end() ? nullptr : table->second);
                }
            });
        });
}

void ContentBlockingService::readIndex()
{
    FileRead read = readWholeFile(folder() / "lists.json", kIndexFileLimit);
    if (read.status != ReadStatus::Ok)
        return;
    std::optional<Json> index = parseJson(read.contents);
    if (!index || !index->is_array())
        return;
    for (const Json& entry : *index) {
        if (!entry.is_object() || m_lists.size() >= kMaxLists)
            continue;
        ContentBlockerListInfo list;
        list.identifier = jsonString(entry, "identifier");
        list.name = jsonString(entry, "name");
        if (!isListIdentifier(list.identifier))
            continue;
        if (auto rules = entry.find("rules"); rules != entry.end() && rules->is_number_unsigned())
            list.ruleCount = rules->get<size_t>();
        if (auto skipped = entry.find("skipped"); skipped != entry.end() && skipped->is_number_unsigned())
            list.skippedCount = skipped->get<size_t>();
        m_lists.push_back(std::move(list));
    }
}

void ContentBlockingService::saveIndex()
{
    Json index = Json::array();
    for (const ContentBlockerListInfo& list : m_lists)
        index.push_back({ { "identifier", list.identifier }, { "name", list.name },
            { "rules", list.ruleCount }, { "skipped", list.skippedCount } });
    m_services.shell->fileWriter().submit(folder() / "lists.json", dumpJson(index, 2));
}

void ContentBlockingService::readAllowedSites()
{
    Json stored = m_services.shell->defaults().objectForKey(kContentBlockingAllowedSitesKey);
    if (!stored.is_object())
        return;
    for (auto it = stored.begin(); it != stored.end(); ++it) {
        if (!it.value().is_array())
            continue;
        std::set<std::string>& hosts = m_allowedSites[it.key()];
        for (const Json& host : it.value()) {
            if (host.is_string() && isStoredHost(host.get<std::string>())
                && hosts.size() < kMaxAllowedSitesPerProfile)
                hosts.insert(host.get<std::string>());
        }
    }
}

void ContentBlockingService::saveAllowedSites()
{
    Json stored = Json::object();
    for (const auto& [profile, hosts] : m_allowedSites) {
        // A private profile's sites are kept for the run only.
        if (!hosts.empty() && !m_services.profiles->isPrivateProfile(profile))
            stored[profile] = Json(std::vector<std::string>(hosts.begin(), hosts.end()));
    }
    m_services.shell->setDefaultsValue(kContentBlockingAllowedSitesKey, std::move(stored));
}

void ContentBlockingService::loadOrCompile(
    const std::string& identifier, std::shared_ptr<const ElementHidingTable> hiding)
{
    // Later launches load the compiled list; only a store without it compiles it again.
    struct Load {
        ContentBlockingService* self;
        Lifetime::Token owner;
        std::string identifier;
        gint64 start;
        std::shared_ptr<const ElementHidingTable> hiding;
    };
    auto call = AsyncCall<Load>(
        { this, m_lifetime.token(), identifier, g_get_monotonic_time(), std::move(hiding) });
    webkit_user_content_filter_store_load(m_store.get(), identifier.c_str(), nullptr,
        [](GObject* store, GAsyncResult* result, gpointer data) {
            auto load = AsyncCall<Load>::take(data);
            GError* error = nullptr;
            WebKitUserContentFilter* filter = webkit_user_content_filter_store_load_finish(
                WEBKIT_USER_CONTENT_FILTER_STORE(store), result, &error);
            if (load->owner.expired()) {
                g_clear_error(&error);
                if (filter)
                    webkit_user_content_filter_unref(filter);
                return;
            }
            if (filter) {
                load->self->m_lastLoadMilliseconds = millisecondsSince(load->start);
                if (load->hiding)
                    load->self->m_hidingTables[load->identifier] = load->hiding;
                load->self->filterReady(load->identifier, filter);
                // Compiled before generic hiding had a file of its own: the list works as it
                // is meanwhile.
                if (!load->hiding)
                    load->self->compile(load->identifier, nullptr);
            } else {
                g_clear_error(&error);
                load->self->compile(load->identifier, nullptr);
            }
        },
        call.release());
}

void ContentBlockingService::compile(const std::string& identifier,
    std::function<void(const GError*)> done)
{
    struct Split {
        std::string engineRules;
        std::shared_ptr<const ElementHidingTable> hiding;
    };
    auto split = std::make_shared<Split>();
    // The rules are read and split on the writer's thread, which writes the hiding file next.
    FileContentsMaker make = [rules = folder() / (identifier + ".json"), split]() -> Result<std::string> {
        FileRead read = readWholeFile(rules, kEngineRulesFileLimit);
        if (read.status != ReadStatus::Ok)
            return Result<std::string>::failure(
                read.status == ReadStatus::Missing ? "The rules file is missing." : read.error);
        auto parts = splitGenericHiding(read.contents);
        if (!parts)
            return Result<std::string>::failure(parts.error());
        split->engineRules = parts->engineRules;
        split->hiding = std::make_shared<ElementHidingTable>(ElementHidingTable::fromText(parts->hidingSelectors));
        return parts->hidingSelectors;
    };
    FileWriteHooks hooks;
    hooks.done = [this, owner = m_lifetime.token(), identifier, split, done](const FileWriteReport& report) {
        runOnMainLoop(owner, [this, identifier, split, done, report] {
            if (report.kind != FileWriteReport::Kind::Written) {
                logLine("content blocking: list " + identifier + " could not be prepared: " + report.message);
                if (done) {
                    GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_FAILED, report.message.c_str());
                    done(error);
                    g_error_free(error);
                }
                return;
            }
            compileEngineRules(identifier, split->engineRules, split->hiding, done);
        });
    };
    m_services.shell->fileWriter().submitMade(folder() / (identifier + ".hiding"), std::move(make),
        std::move(hooks), std::chrono::milliseconds(0));
}

void ContentBlockingService::compileEngineRules(const std::string& identifier, const std::string& rules,
    std::shared_ptr<const ElementHidingTable> hiding, std::function<void(const GError*)> done)
{
    struct Compile {
        ContentBlockingService* self;
        Lifetime::Token owner;
        std::string identifier;
        gint64 start;
        std::shared_ptr<const ElementHidingTable> hiding;
        std::function<void(const GError*)> done;
    };
    auto call = AsyncCall<Compile>({ this, m_lifetime.token(), identifier, g_get_monotonic_time(),
        std::move(hiding), std::move(done) });
    // The engine compiles on its own threads.
    GBytes* bytes = g_bytes_new(rules.data(), rules.size());
    webkit_user_content_filter_store_save(m_store.get(), identifier.c_str(), bytes, nullptr,
        [](GObject* store, GAsyncResult* result, gpointer data) {
            auto compile = AsyncCall<Compile>::take(data);
            GError* error = nullptr;
            WebKitUserContentFilter* filter = webkit_user_content_filter_store_save_finish(
                WEBKIT_USER_CONTENT_FILTER_STORE(store), result, &error);
            if (!compile->owner.expired()) {
                if (filter) {
                    compile->self->m_lastCompileMilliseconds = millisecondsSince(compile->start);
                    compile->self->m_hidingTables[compile->identifier] = compile->hiding;
                    compile->self->filterReady(compile->identifier, filter);
                    filter = nullptr;
                } else {
                    logLine("content blocking: list " + compile->identifier + " did not compile: "
                        + (error ? error->message : ""));
                }
                if (compile->done)
                    compile->done(error);
            }
            if (filter)
                webkit_user_content_filter_unref(filter);
            g_clear_error(&error);
        },
        call.release());
    g_bytes_unref(bytes);
}

void ContentBlockingService::filterReady(const std::string& identifier, WebKitUserContentFilter* filter)
{
    m_filters[identifier] = std::shared_ptr<WebKitUserContentFilter>(filter, webkit_user_content_filter_unref);
    // A list compiled again replaces itself where it is attached; the engine keys it by name.
    std::set<WebKitUserContentManager*> replaced;
    for (const auto& [view, state] : m_views) {
        if (state.attached.contains(identifier) && replaced.insert(state.content).second)
            webkit_user_content_manager_add_filter(state.content, filter);
    }
    applyFiltersEverywhere();
    m_listsChanged.emit();
}

void ContentBlockingService::addListFromFile(const fs::path& file,
    std::function<void(Result<ContentBlockerListInfo>)> done)
{
    if (m_lists.size() >= kMaxLists) {
        done(Result<ContentBlockerListInfo>::failure("No more lists can be added."));
        return;
    }
    auto list = std::make_shared<ContentBlockerListInfo>();
    list->identifier = makeUUIDString();
    std::transform(list->identifier.begin(), list->identifier.end(), list->identifier.begin(),
        [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c; });
    list->name = file.filename().string();
    // The file is read and converted on the writer's thread, which writes the rules next.
    FileContentsMaker make = [file, list]() -> Result<std::string> {
        FileRead read = readWholeFile(file, kMaxFilterListBytes, FileLinks::Follow);
        if (read.status != ReadStatus::Ok)
            return Result<std::string>::failure(
                read.status == ReadStatus::Missing ? "The file is missing." : read.error);
        auto converted = convertContentBlockerFile(read.contents);
        if (!converted)
            return Result<std::string>::failure(converted.error());
        list->ruleCount = converted->convertedCount;
        list->skippedCount = converted->skippedCount;
        return dumpJson(converted->rules);
    };
    FileWriteHooks hooks;
    hooks.done = [this, owner = m_lifetime.token(), list, done](const FileWriteReport& report) {
        runOnMainLoop(owner, [this, list, done, report] {
            if (report.kind != FileWriteReport::Kind::Written) {
                done(Result<ContentBlockerListInfo>::failure(report.message));
                return;
            }
            compile(list->identifier, [this, list, done](const GError* error) {
                if (error) {
                    deleteListFiles(list->identifier);
                    done(Result<ContentBlockerListInfo>::failure(
                        std::string("The rules could not be compiled: ") + error->message));
                    return;
                }
                m_lists.push_back(*list);
                saveIndex();
                m_listsChanged.emit();
                done(*list);
            });
        });
    };
    m_services.shell->fileWriter().submitMade(folder() / (list->identifier + ".json"),
        std::move(make), std::move(hooks), std::chrono::milliseconds(0));
}

void ContentBlockingService::removeList(const std::string& identifier)
{
    auto it = std::find_if(m_lists.begin(), m_lists.end(),
        [&](const ContentBlockerListInfo& list) { return list.identifier == identifier; });
    if (it == m_lists.end())
        return;
    m_lists.erase(it);
    for (const BrowserProfile& profile : m_services.profiles->profiles()) {
        if (listUsedInProfile(profile.id, identifier))
            setListUsedInProfile(profile.id, identifier, false);
    }
    m_filters.erase(identifier);
    m_hidingTables.erase(identifier);
    applyFiltersEverywhere();
    saveIndex();
    webkit_user_content_filter_store_remove(m_store.get(), identifier.c_str(), nullptr, nullptr, nullptr);
    deleteListFiles(identifier);
    m_listsChanged.emit();
}

void ContentBlockingService::deleteListFiles(const std::string& identifier)
{
    for (const char* extension : { ".json", ".hiding" }) {
        GFile* file = g_file_new_for_path((folder() / (identifier + extension)).c_str());
        g_file_delete_async(file, G_PRIORITY_DEFAULT, nullptr, nullptr, nullptr);
        g_object_unref(file);
    }
}

bool ContentBlockingService::listUsedInProfile(const ProfileID& profile, const std::string& identifier) const
{
    std::vector<std::string> used = profileLists(profile);
    return std::find(used.begin(), used.end(), identifier) != used.end();
}

std::vector<std::string> ContentBlockingService::profileLists(const ProfileID& profile) const
{
    const BrowserProfile* stored = m_services.profiles->profileForID(profile);
    return stored ? stored->contentBlockers : std::vector<std::string>();
}

void ContentBlockingService::setListUsedInProfile(
    const ProfileID& profile, const std::string& identifier, bool used)
{
    std::vector<std::string> lists = profileLists(profile);
    auto it = std::find(lists.begin(), lists.end(), identifier);
    if (used == (it != lists.end()))
        return;
    if (used)
        lists.push_back(identifier);
    else
        lists.erase(it);
    m_services.profiles->setProfileContentBlockers(profile, lists);
    applyFiltersEverywhere();
    m_listsChanged.emit();
}

bool ContentBlockingService::siteAllowed(const ProfileID& profile, const std::string& host) const
{
    auto it = m_allowedSites.find(profile);
    return it != m_allowedSites.end() && it->second.contains(host);
}

void ContentBlockingService::setSiteAllowed(const ProfileID& profile, const std::string& host, bool allowed)
{
    if (!isStoredHost(host) || siteAllowed(profile, host) == allowed)
        return;
    std::set<std::string>& hosts = m_allowedSites[profile];
    if (allowed && hosts.size() >= kMaxAllowedSitesPerProfile)
        return;
    if (allowed)
        hosts.insert(host);
    else
        hosts.erase(host);
    saveAllowedSites();
    applyFiltersEverywhere();
    // The page loaded under the old rules; loading it again shows the change.
    WebKitWebView* selected = m_services.tabs->selectedWebView();
    if (auto it = m_views.find(selected); it != m_views.end() && it->second.profile == profile
        && it->second.host == host)
        webkit_web_view_reload(selected);
    m_pageStateChanged.emit();
}

ProfileID ContentBlockingService::profileOfWebView(WebKitWebView* view) const
{
    WebKitNetworkSession* session = webkit_web_view_get_network_session(view);
    for (const auto& [profile, store] : m_services.profiles->profileDataStores()) {
        if (store.get() == session)
            return profile;
    }
    return std::string(kBuiltInProfileID);
}

// The scripts of a page with lists: the blocked-load count and the generic element hiding,
// in one world of their own. A page without lists gets neither.
struct ContentBlockingService::PageScripts {
    PageScripts(ContentBlockingService& service, WebKitUserContentManager* manager)
        : content(GObjectPtr<WebKitUserContentManager>::retain(manager))
    {
        webkit_user_content_manager_register_script_message_handler(manager, "qvContentBlocked", kCountingWorld);
        counting = webkit_user_script_new_for_world(kCountingScript, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
            WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kCountingWorld, nullptr, nullptr);
        webkit_user_content_manager_add_script(manager, counting);
        counted = SignalConnection(manager,
            connectSignal<&ContentBlockingService::blockedLoadReported>(
                manager, "script-message-received::qvContentBlocked", &service));
        hiding = std::make_unique<ElementHidingScript>(manager, kCountingWorld,
            [&service](WebKitUserContentManager* content, const std::vector<std::string>& tokens) {
                return service.hidingStyleFor(content, tokens);
            });
    }
    ~PageScripts()
    {
        hiding.reset();
        counted.disconnect();
        webkit_user_content_manager_remove_script(content.get(), counting);
        webkit_user_script_unref(counting);
        webkit_user_content_manager_unregister_script_message_handler(
            content.get(), "qvContentBlocked", kCountingWorld);
    }
    PageScripts(const PageScripts&) = delete;
    PageScripts& operator=(const PageScripts&) = delete;

    GObjectPtr<WebKitUserContentManager> content;
    WebKitUserScript* counting = nullptr;
    SignalConnection counted;
    std::unique_ptr<ElementHidingScript> hiding;
};

void ContentBlockingService::webViewCreated(WebKitWebView* view)
{
    ViewState state;
    state.profile = profileOfWebView(view);
    state.content = webkit_web_view_get_user_content_manager(view);
    state.loadChanged = SignalConnection(view,
        connectSignal<&ContentBlockingService::webViewLoadChanged>(view, "load-changed", this));
    // A view a page opened shares its opener's content manager, and with it the filters.
    for (const auto& [other, otherState] : m_views) {
        if (otherState.content == state.content)
            state.attached = otherState.attached;
    }
    applyFilters(m_views[view] = std::move(state));
}

void ContentBlockingService::webViewReleasing(WebKitWebView* view)
{
    auto it = m_views.find(view);
    if (it == m_views.end())
        return;
    WebKitUserContentManager* content = it->second.content;
    it->second.loadChanged.disconnect();
    m_views.erase(it);
    bool stillUsed = std::any_of(m_views.begin(), m_views.end(),
        [&](const auto& entry) { return entry.second.content == content; });
    if (!stillUsed)
        m_pageScripts.erase(content);
}

std::string ContentBlockingService::hidingStyleFor(
    WebKitUserContentManager* content, const std::vector<std::string>& tokens) const
{
    // Views sharing a manager share what is attached to it, so any of them answers.
    auto view = std::find_if(m_views.begin(), m_views.end(),
        [&](const auto& entry) { return entry.second.content == content; });
    if (view == m_views.end())
        return {};
    std::vector<std::string_view> selectors;
    for (const std::string& identifier : view->second.attached) {
        if (auto table = m_hidingTables.find(identifier); table != m_hidingTables.end() && table->second)
            table->second->appendSelectorsFor(tokens, selectors);
    }
    return elementHidingStyle(selectors);
}

void ContentBlockingService::webViewLoadChanged(WebKitWebView* view, WebKitLoadEvent event)
{
    auto it = m_views.find(view);
    if (it == m_views.end() || event == WEBKIT_LOAD_FINISHED)
        return;
    ViewState& state = it->second;
    // The filters follow the host before its page's subresources are requested.
    state.host = hostOfURI(webViewURI(view));
    if (event == WEBKIT_LOAD_COMMITTED)
        state.blocked = 0;
    applyFilters(state);
    if (view == m_services.tabs->selectedWebView())
        m_pageStateChanged.emit();
}

void ContentBlockingService::blockedLoadReported(WebKitUserContentManager* content, JSCValue*)
{
    // The report only counts for a page with lists attached, and the count stays bounded.
    for (auto& [view, state] : m_views) {
        if (state.content != content)
            continue;
        if (state.attached.empty() || state.blocked >= kMaxBlockedCount)
            return;
        ++state.blocked;
        if (view == m_services.tabs->selectedWebView())
            m_pageStateChanged.emit();
        return;
    }
}

void ContentBlockingService::applyFilters(ViewState& state)
{
    std::set<std::string> wanted;
    if (!siteAllowed(state.profile, state.host)) {
        for (const std::string& identifier : profileLists(state.profile)) {
            if (m_filters.contains(identifier))
                wanted.insert(identifier);
        }
    }
    if (wanted == state.attached)
        return;
    for (const std::string& identifier : state.attached) {
        if (!wanted.contains(identifier))
            webkit_user_content_manager_remove_filter_by_id(state.content, identifier.c_str());
    }
    for (const std::string& identifier : wanted) {
        if (!state.attached.contains(identifier))
            webkit_user_content_manager_add_filter(state.content, m_filters[identifier].get());
    }
    if (wanted.empty())
        m_pageScripts.erase(state.content);
    else if (!m_pageScripts.contains(state.content))
        m_pageScripts.emplace(state.content, std::make_unique<PageScripts>(*this, state.content));
    // Views sharing the content manager share what is attached.
    for (auto& [view, other] : m_views) {
        if (other.content == state.content)
            other.attached = wanted;
    }
    state.attached = std::move(wanted);
}

void ContentBlockingService::applyFiltersEverywhere()
{
    for (auto& [view, state] : m_views)
        applyFilters(state);
    m_pageStateChanged.emit();
}

BlockingPageState ContentBlockingService::selectedPageState() const
{
    BlockingPageState page;
    auto it = m_views.find(m_services.tabs->selectedWebView());
    if (it == m_views.end())
        return page;
    const ViewState& state = it->second;
    std::vector<std::string> used = profileLists(state.profile);
    page.shown = !state.host.empty()
        && std::any_of(used.begin(), used.end(), [&](const std::string& id) { return m_filters.contains(id); });
    page.profile = state.profile;
    page.host = state.host;
    page.allowed = siteAllowed(state.profile, state.host);
    page.blocked = state.blocked;
    return page;
}

unsigned ContentBlockingService::blockedCountForWebView(WebKitWebView* view) const
{
    auto it = m_views.find(view);
    return it == m_views.end() ? 0 : it->second.blocked;
}

std::set<std::string> ContentBlockingService::attachedLists(WebKitWebView* view) const
{
    auto it = m_views.find(view);
    return it == m_views.end() ? std::set<std::string>() : it->second.attached;
}

Gtk::Widget& ContentBlockingService::shieldButton()
{
    if (!m_button)
        m_button = Gtk::make_managed<ContentBlockingButton>(*this, [this] { m_button = nullptr; });
    return *m_button;
}

} // namespace qv
