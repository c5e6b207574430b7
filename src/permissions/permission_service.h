// The permission service: what websites ask to do in browser tabs, the bar that asks the user,
// the answers remembered per profile ("QuivelSitePermissions") and pages' desktop notifications.
#pragma once

#include "platform/desktop_notifications.h"
#include "platform/gobject_ptr.h"
#include "app/web_views.h"
#include "permissions/permission_store.h"

#include <sigc++/sigc++.h>
#include <webkit/webkit.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qv {

class PermissionBar;
struct Services;

class PermissionService : public sigc::trackable {
public:
    explicit PermissionService(const Services& services);
    ~PermissionService();
    PermissionService(const PermissionService&) = delete;
    PermissionService& operator=(const PermissionService&) = delete;

    // The application action a notification's click runs, with the tab's ID as its target.
    static constexpr const char* kNotificationClickAction = "show-notification-tab";

    // A browser tab's view, followed from birth to release; its waiting requests are denied
    // when it goes.
    void watchWebView(WebKitWebView* view);
    void unwatchWebView(WebKitWebView* view);
    // The content area shows another tab: the bar asks that tab's first waiting request.
    void selectedViewShown(WebKitWebView* previous, WebKitWebView* shown);

    // The remembered answers of a profile, and taking one back.
    std::vector<RememberedPermission> rememberedPermissions(const std::string& profileID) const;
    void revokePermission(const std::string& profileID, const std::string& origin,
        PermissionKind kind);
    // A remembered answer was added or taken back.
    sigc::signal<void()>& signalRememberedChanged() { return m_rememberedChanged; }

    // Requests waiting for an answer, in all tabs or in one view.
    size_t pendingRequestCount() const { return m_pending.size(); }
    size_t pendingRequestCount(WebKitWebView* view) const;
    // The bar, once a request has needed it.
    PermissionBar* permissionBar() const { return m_bar.get(); }

    // Where notifications go; tests record them instead.
    void setDesktopNotifier(std::unique_ptr<DesktopNotifier> notifier);
    // A clicked notification: its tab is selected and the window brought forward.
    void notificationClicked(const std::string& tabID);
    size_t shownNotificationCount() const { return m_notifications.size(); }

    // Views made from now on get the engine's fake cameras and microphones: for tests only, so
    // real users are never handed a fake device.
    void useMockCaptureDevices() { m_mockCaptureDevices = true; }

private:
    struct PendingRequest {
        uint64_t serial = 0;
        WebKitWebView* view = nullptr;
        std::string profileID;
        std::string origin;
        // Shown in the bar instead of the origin when the request is on behalf of another site.
        std::string shownOrigin;
        std::vector<PermissionKind> kinds;
        bool rememberable = true;
        GObjectPtr<WebKitPermissionRequest> request;
    };
    struct ShownNotification {
        GObjectPtr<WebKitNotification> notification;
        WebKitWebView* view = nullptr;
        SignalConnection closed;
    };

    gboolean permissionRequested(WebKitWebView* view, WebKitPermissionRequest* request);
    gboolean permissionStateQueried(WebKitWebView* view, WebKitPermissionStateQuery* query);
    gboolean showNotification(WebKitWebView* view, WebKitNotification* notification);
    void loadChanged(WebKitWebView* view, WebKitLoadEvent event);
    void notificationClosed(uint64_t serial);

    std::string profileOfView(WebKitWebView* view) const;
    void answer(PendingRequest pending, PermissionDecision decision);
    void answerShownRequest(uint64_t serial, PermissionDecision decision, bool remember);
    // Answers every waiting request the remembered answers now settle.
    void answerSettledRequests();
    void denyRequestsOfView(WebKitWebView* view);
    void showBarForSelectedTab();
    void saveRemembered();
    void forgetDeletedProfiles();

    const Services& m_services;
    PermissionStore m_store;
    std::vector<PendingRequest> m_pending;
    uint64_t m_nextSerial = 1;
    // The request the bar asks now; 0 for none.
    uint64_t m_shownSerial = 0;
    // "profile\norigin" of pages allowed notifications this run without remembering it.
    std::set<std::string> m_notificationsAllowedThisRun;
    // The origin each view's page committed with: what a request of that page is made for.
    std::map<WebKitWebView*, std::string> m_committedOrigins;
    std::unique_ptr<PermissionBar> m_bar;
    std::unique_ptr<DesktopNotifier> m_notifier;
    std::map<uint64_t, ShownNotification> m_notifications;
    uint64_t m_nextNotification = 1;
    bool m_mockCaptureDevices = false;
    SignalConnection m_notificationPermissionsInit;
    sigc::signal<void()> m_rememberedChanged;
    Lifetime m_lifetime;
};

} // namespace qv
