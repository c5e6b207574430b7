// GNotification sending for the desktop notifications of pages.
#include "platform/desktop_notifications.h"

#include <gio/gio.h>

namespace qv {

namespace {

class ApplicationNotifier final : public DesktopNotifier {
public:
    explicit ApplicationNotifier(GApplication* application)
        : m_application(application)
    {
    }

    void send(const DesktopNotification& notification) override
    {
        GNotification* shown = g_notification_new(notification.title.c_str());
        g_notification_set_body(shown, notification.body.c_str());
        if (!notification.clickAction.empty())
            g_notification_set_default_action_and_target(shown,
                notification.clickAction.c_str(), "s", notification.clickTarget.c_str());
        g_application_send_notification(m_application, notification.id.c_str(), shown);
        g_object_unref(shown);
    }

    void withdraw(const std::string& id) override
    {
        g_application_withdraw_notification(m_application, id.c_str());
    }

private:
    GApplication* m_application;
};

} // namespace

std::unique_ptr<DesktopNotifier> makeApplicationNotifier(GApplication* application)
{
    return std::make_unique<ApplicationNotifier>(application);
}

} // namespace qv
