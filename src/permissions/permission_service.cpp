// Permission requests of browser tabs, the remembered answers and pages' notifications.
#include "permissions/permission_service.h"

#include "app/browser_window.h"
#include "app/services.h"
#include "app/shell.h"
#include "base/text_util.h"
#include "base/user_defaults.h"
#include "permissions/permission_bar.h"
#include "platform/log.h"
#include "profiles/profile_service.h"
#include "tabs/tab.h"
#include "tabs/tab_service.h"

#include <algorithm>
#include <utility>

namespace qv {

namespace {

// A page asking again and again cannot grow the queue without bound.
constexpr size_t kMaxPendingRequestsPerView = 16;
// Pages' notifications kept on the desktop at once; the oldest goes first.
constexpr size_t kMaxShownNotifications = 32;
constexpr size_t kMaxNotificationTitleBytes = 200;
constexpr size_t kMaxNotificationBodyBytes = 1000;

// The kinds a permission-state query names, as the engine spells them.
std::optional<PermissionKind> kindOfQueryName(std::string_view name)
{
    if (name == "camera")
        return PermissionKind::Camera;
    if (name == "microphone")
        return PermissionKind::Microphone;
    if (name == "geolocation")
        return PermissionKind::Location;
    if (name == "notifications")
        return PermissionKind::Notifications;
    if (name == "clipboard-read")
        return PermissionKind::Clipboard;
    if (name == "display-capture")
        return PermissionKind::Screen;
    if (name == "storage-access")
        return PermissionKind::StorageAccess;
    return std::nullopt;
}

// What a request asks for; nothing for a kind this browser does not offer.
std::vector<PermissionKind> kindsOfRequest(WebKitPermissionRequest* request)
{
    if (WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(request)) {
        auto* media = WEBKIT_USER_MEDIA_PERMISSION_REQUEST(request);
        if (webkit_user_media_permission_is_for_display_device(media))
            return { PermissionKind::Screen };
        std::vector<PermissionKind> kinds;
        if (webkit_user_media_permission_is_for_video_device(media))
            kinds.push_back(PermissionKind::Camera);
        if (webkit_user_media_permission_is_for_audio_device(media))
            kinds.push_back(PermissionKind::Microphone);
        return kinds;
    }
    if (WEBKIT_IS_GEOLOCATION_PERMISSION_REQUEST(request))
        return { PermissionKind::Location };
    if (WEBKIT_IS_NOTIFICATION_PERMISSION_REQUEST(request))
        return { PermissionKind::Notifications };
    if (WEBKIT_IS_CLIPBOARD_PERMISSION_REQUEST(request))
        return { PermissionKind::Clipboard };
    if (WEBKIT_IS_POINTER_LOCK_PERMISSION_REQUEST(request))
        return { PermissionKind::PointerLock };
    if (WEBKIT_IS_DEVICE_INFO_PERMISSION_REQUEST(request))
        return { PermissionKind::DeviceInfo };
    if (WEBKIT_IS_MEDIA_KEY_SYSTEM_PERMISSION_REQUEST(request))
        return { PermissionKind::MediaKeys };
    if (WEBKIT_IS_WEBSITE_DATA_ACCESS_PERMISSION_REQUEST(request))
        return { PermissionKind::StorageAccess };
    return {};
}

void decide(WebKitPermissionRequest* request, PermissionDecision decision)
{
    if (decision == PermissionDecision::Allow)
        webkit_permission_request_allow(request);
    else
        webkit_permission_request_deny(request);
}

bool asksFor(const std::vector<PermissionKind>& kinds, PermissionKind kind)
{
    return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}

} // namespace

PermissionService::PermissionService(const Services& services)
    : m_services(services)
    , m_store(PermissionStore::fromJson(
          services.shell->defaults().valueForKey(kSitePermissionsKey)))
{
    const auto& application = m_services.shell->application();
    m_notifier = makeApplicationNotifier(G_APPLICATION(application->gobj()));
    application->add_action_with_parameter(kNotificationClickAction, Glib::VARIANT_TYPE_STRING,
        [this](const Glib::VariantBase& target) {
            if (target.is_of_type(Glib::VARIANT_TYPE_STRING))
                notificationClicked(
                    Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(target).get());
        });

    // Every profile's tabs share the engine's one web context, and what is handed to it here
    // reaches the web processes of all profiles alike. So no remembered answer is handed over:
    // a page's notification request is answered from the profile's own answers instead.
    WebKitWebContext* context = webkit_web_context_get_default();
    gulong id = g_signal_connect(context, "initialize-notification-permissions",
        G_CALLBACK(+[](WebKitWebContext* context, gpointer) {
            webkit_web_context_initialize_notification_permissions(context, nullptr, nullptr);
        }),
        nullptr);
    m_notificationPermissionsInit = SignalConnection(context, id);

    // A deleted profile takes its remembered answers with it.
    m_services.profiles->signalCurrentProfileChanged().connect(
        sigc::mem_fun(*this, &PermissionService::forgetDeletedProfiles));
    m_services.profiles->signalPrivateProfileForgotten().connect([this](const ProfileID& profileID) {
        if (m_store.forgetProfile(profileID))
            m_rememberedChanged.emit();
    });
}

void PermissionService::forgetDeletedProfiles()
{
    // Before the profiles are read there is no list to go by.
    if (m_services.profiles->profiles().empty())
        return;
    bool forgot = false;
    for (const std::string& profileID : m_store.profileIDs()) {
        if (!m_services.profiles->profileForID(profileID))
            forgot = m_store.forgetProfile(profileID) || forgot;
    }
    if (forgot) {
        saveRemembered();
        m_rememberedChanged.emit();
    }
}

PermissionService::~PermissionService()
{
    m_lifetime.end();
    m_services.shell->application()->remove_action(kNotificationClickAction);
    for (auto& [serial, shown] : m_notifications)
        m_notifier->withdraw("page-notification-" + std::to_string(serial));
    m_notifications.clear();
    auto pending = std::exchange(m_pending, {});
    for (PendingRequest& request : pending)
        decide(request.request.get(), PermissionDecision::Deny);
}

void PermissionService::watchWebView(WebKitWebView* view)
{
    WebKitSettings* settings = webkit_web_view_get_settings(view);
    // Pages may ask for cameras and microphones: the bar guards them.
    webkit_settings_set_enable_media_stream(settings, TRUE);
    if (m_mockCaptureDevices)
        webkit_settings_set_enable_mock_capture_devices(settings, TRUE);
    connectSignal<&PermissionService::permissionRequested>(view, "permission-request", this);
    connectSignal<&PermissionService::permissionStateQueried>(
        view, "query-permission-state", this);
    connectSignal<&PermissionService::showNotification>(view, "show-notification", this);
    connectSignal<&PermissionService::loadChanged>(view, "load-changed", this);
}

void PermissionService::unwatchWebView(WebKitWebView* view)
{
    g_signal_handlers_disconnect_by_data(view, this);
    denyRequestsOfView(view);
    m_committedOrigins.erase(view);
    for (auto it = m_notifications.begin(); it != m_notifications.end();) {
        if (it->second.view == view) {
            m_notifier->withdraw("page-notification-" + std::to_string(it->first));
            it = m_notifications.erase(it);
        } else {
            ++it;
        }
    }
    showBarForSelectedTab();
}

void PermissionService::selectedViewShown(WebKitWebView*, WebKitWebView*)
{
    showBarForSelectedTab();
}

std::string PermissionService::profileOfView(WebKitWebView* view) const
{
    const Tab* tab = m_services.tabs->browserTabs().tabWithView(view);
    if (!tab)
        return {};
    return tab->profileID().empty() ? std::string(kDefaultProfileID) : tab->profileID();
}

gboolean PermissionService::permissionRequested(
    WebKitWebView* view, WebKitPermissionRequest* request)
{
    std::vector<PermissionKind> kinds = kindsOfRequest(request);
    if (kinds.empty()) {
        logLine(std::string("Denied a page's permission request the browser does not offer: ")
            + G_OBJECT_TYPE_NAME(request));
        webkit_permission_request_deny(request);
        return TRUE;
    }
    auto committed = m_committedOrigins.find(view);
    std::string profileID = profileOfView(view);
    if (committed == m_committedOrigins.end() || profileID.empty()) {
        logLine("Denied a permission request of a page without a web origin");
        webkit_permission_request_deny(request);
        return TRUE;
    }
    PendingRequest pending;
    pending.view = view;
    pending.profileID = profileID;
    pending.origin = committed->second;
    pending.shownOrigin = committed->second;
    pending.kinds = std::move(kinds);
    if (WEBKIT_IS_WEBSITE_DATA_ACCESS_PERMISSION_REQUEST(request)) {
        // The answer is about a pair of sites, so it is given each time and not kept.
        auto* access = WEBKIT_WEBSITE_DATA_ACCESS_PERMISSION_REQUEST(request);
        const char* requesting
            = webkit_website_data_access_permission_request_get_requesting_domain(access);
        pending.shownOrigin = cutUtf8(sanitizeUtf8(requesting ? requesting : ""), 200) + " (on "
            + committed->second + ")";
        pending.rememberable = false;
    } else if (auto known = m_store.decision(profileID, pending.origin, pending.kinds)) {
        decide(request, *known);
        return TRUE;
    }
    if (pendingRequestCount(view) >= kMaxPendingRequestsPerView) {
        webkit_permission_request_deny(request);
        return TRUE;
    }
    pending.serial = m_nextSerial++;
    pending.request = GObjectPtr<WebKitPermissionRequest>::retain(request);
    m_pending.push_back(std::move(pending));
    showBarForSelectedTab();
    return TRUE;
}

gboolean PermissionService::permissionStateQueried(
    WebKitWebView* view, WebKitPermissionStateQuery* query)
{
    const char* name = webkit_permission_state_query_get_name(query);
    auto kind = kindOfQueryName(name ? name : "");
    WebKitSecurityOrigin* securityOrigin = webkit_permission_state_query_get_security_origin(query);
    char* originText = securityOrigin ? webkit_security_origin_to_string(securityOrigin) : nullptr;
    auto origin = permissionOriginForURL(originText ? originText : "");
    g_free(originText);
    std::string profileID = profileOfView(view);
    WebKitPermissionState state = WEBKIT_PERMISSION_STATE_PROMPT;
    if (kind && origin && !profileID.empty()) {
        if (auto known = m_store.decision(profileID, *origin, *kind))
            state = *known == PermissionDecision::Allow ? WEBKIT_PERMISSION_STATE_GRANTED
                                                        : WEBKIT_PERMISSION_STATE_DENIED;
    }
    webkit_permission_state_query_finish(query, state);
    return TRUE;
}

void PermissionService::loadChanged(WebKitWebView* view, WebKitLoadEvent event)
{
    if (event != WEBKIT_LOAD_COMMITTED)
        return;
    // The page that asked is gone: its questions go with it.
    denyRequestsOfView(view);
    if (auto origin = permissionOriginForURL(webViewURI(view)))
        m_committedOrigins[view] = *origin;
    else
        m_committedOrigins.erase(view);
    showBarForSelectedTab();
}

size_t PermissionService::pendingRequestCount(WebKitWebView* view) const
{
    return static_cast<size_t>(std::count_if(m_pending.begin(), m_pending.end(),
        [view](const PendingRequest& pending) { return pending.view == view; }));
}

void PermissionService::denyRequestsOfView(WebKitWebView* view)
{
    std::vector<PendingRequest> denied;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->view == view) {
            denied.push_back(std::move(*it));
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
    for (PendingRequest& pending : denied)
        decide(pending.request.get(), PermissionDecision::Deny);
}

void PermissionService::answer(PendingRequest pending, PermissionDecision decision)
{
    if (decision == PermissionDecision::Allow
        && asksFor(pending.kinds, PermissionKind::Notifications))
        m_notificationsAllowedThisRun.insert(pending.profileID + "\n" + pending.origin);
    decide(pending.request.get(), decision);
}

void PermissionService::answerShownRequest(
    uint64_t serial, PermissionDecision decision, bool remember)
{
    auto it = std::find_if(m_pending.begin(), m_pending.end(),
        [serial](const PendingRequest& pending) { return pending.serial == serial; });
    if (it == m_pending.end())
        return;
    PendingRequest pending = std::move(*it);
    m_pending.erase(it);
    m_shownSerial = 0;
    if (remember && pending.rememberable) {
        bool kept = false;
        for (PermissionKind kind : pending.kinds)
            kept = m_store.remember(pending.profileID, pending.origin, kind, decision) || kept;
        if (kept) {
            saveRemembered();
            m_rememberedChanged.emit();
        }
    }
    answer(std::move(pending), decision);
    answerSettledRequests();
    showBarForSelectedTab();
}

void PermissionService::answerSettledRequests()
{
    std::vector<std::pair<PendingRequest, PermissionDecision>> settled;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        std::optional<PermissionDecision> known;
        if (it->rememberable)
            known = m_store.decision(it->profileID, it->origin, it->kinds);
        if (known) {
            settled.emplace_back(std::move(*it), *known);
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& [pending, decision] : settled)
        answer(std::move(pending), decision);
}

void PermissionService::showBarForSelectedTab()
{
    BrowserWindow* window = m_services.shell->window();
    if (!window)
        return;
    if (!m_bar) {
        m_bar = std::make_unique<PermissionBar>();
        window->addBarUnderToolbar(*m_bar);
    }
    WebKitWebView* selected = m_services.tabs->selectedWebView();
    auto it = std::find_if(m_pending.begin(), m_pending.end(),
        [selected](const PendingRequest& pending) { return selected && pending.view == selected; });
    if (it == m_pending.end()) {
        m_shownSerial = 0;
        m_bar->hideBar();
        return;
    }
    // The same question stays as it is, with the check as the user left it.
    if (it->serial == m_shownSerial && m_bar->shown())
        return;
    m_shownSerial = it->serial;
    uint64_t serial = it->serial;
    m_bar->showRequest(it->shownOrigin + " wants to " + permissionRequestText(it->kinds),
        it->kinds.front(), it->rememberable, [this, serial](PermissionDecision decision, bool remember) {
            answerShownRequest(serial, decision, remember);
        });
}

std::vector<RememberedPermission> PermissionService::rememberedPermissions(
    const std::string& profileID) const
{
    return m_store.entriesForProfile(profileID);
}

void PermissionService::revokePermission(
    const std::string& profileID, const std::string& origin, PermissionKind kind)
{
    if (!m_store.forget(profileID, origin, kind))
        return;
    if (kind == PermissionKind::Notifications)
        m_notificationsAllowedThisRun.erase(profileID + "\n" + origin);
    saveRemembered();
    m_rememberedChanged.emit();
}

void PermissionService::saveRemembered()
{
    // A private profile's answers last as long as its website data, in memory only.
    Json stored = m_store.toJson();
    for (const std::string& profileID : m_store.profileIDs()) {
        if (m_services.profiles->isPrivateProfile(profileID))
            stored.erase(profileID);
    }
    m_services.shell->setDefaultsValue(kSitePermissionsKey, stored);
}

void PermissionService::setDesktopNotifier(std::unique_ptr<DesktopNotifier> notifier)
{
    m_notifier = std::move(notifier);
}

gboolean PermissionService::showNotification(WebKitWebView* view, WebKitNotification* notification)
{
    std::string profileID = profileOfView(view);
    auto committed = m_committedOrigins.find(view);
    if (profileID.empty() || committed == m_committedOrigins.end())
        return TRUE;
    const std::string& origin = committed->second;
    // The engine shows only what was allowed; the browser holds to its own answers as well.
    bool allowed = m_store.decision(profileID, origin, PermissionKind::Notifications)
            == PermissionDecision::Allow
        || m_notificationsAllowedThisRun.count(profileID + "\n" + origin);
    if (!allowed) {
        logLine("Dropped a notification of " + origin + ", which was not allowed to show one");
        return TRUE;
    }
    const BrowserProfile* profile = m_services.profiles->profileForID(profileID);
    std::string profileName = profile ? profile->name : profileID;
    const char* title = webkit_notification_get_title(notification);
    const char* body = webkit_notification_get_body(notification);

    if (m_notifications.size() >= kMaxShownNotifications) {
        auto oldest = m_notifications.begin();
        m_notifier->withdraw("page-notification-" + std::to_string(oldest->first));
        m_notifications.erase(oldest);
    }
    uint64_t serial = m_nextNotification++;
    DesktopNotification shown;
    shown.id = "page-notification-" + std::to_string(serial);
    shown.title = cutUtf8(sanitizeUtf8(title ? title : ""), kMaxNotificationTitleBytes);
    std::string text = cutUtf8(sanitizeUtf8(body ? body : ""), kMaxNotificationBodyBytes);
    shown.body = (text.empty() ? "" : text + "\n") + origin + " \u2014 profile \u201C" + profileName
        + "\u201D";
    shown.clickAction = std::string("app.") + kNotificationClickAction;
    if (const Tab* tab = m_services.tabs->browserTabs().tabWithView(view))
        shown.clickTarget = tab->id();

    ShownNotification kept;
    kept.notification = GObjectPtr<WebKitNotification>::retain(notification);
    kept.view = view;
    gulong closedID = g_signal_connect(notification, "closed",
        G_CALLBACK(+[](WebKitNotification* closed, PermissionService* self) {
            for (auto& [serial, entry] : self->m_notifications) {
                if (entry.notification.get() == closed) {
                    self->notificationClosed(serial);
                    return;
                }
            }
        }),
        this);
    kept.closed = SignalConnection(notification, closedID);
    m_notifications.emplace(serial, std::move(kept));
    m_notifier->send(shown);
    return TRUE;
}

void PermissionService::notificationClosed(uint64_t serial)
{
    auto it = m_notifications.find(serial);
    if (it == m_notifications.end())
        return;
    m_notifier->withdraw("page-notification-" + std::to_string(serial));
    // The emission holds its own reference to the notification, so it may go now.
    m_notifications.erase(it);
}

void PermissionService::notificationClicked(const std::string& tabID)
{
    TabList& tabs = m_services.tabs->tabList();
    Tab* tab = tabs.tabWithID(tabID);
    if (!tab)
        return;
    if (auto index = tabs.indexOf(*tab))
        m_services.tabs->selectBrowserTabAtIndex(*index);
    if (BrowserWindow* window = m_services.shell->window())
        window->present();
}

} // namespace qv
