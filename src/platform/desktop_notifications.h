// Desktop notifications sent through the application (GNotification), behind an interface that
// tests replace to record what would have been shown.
#pragma once

#include <memory>
#include <string>

typedef struct _GApplication GApplication;

namespace qv {

struct DesktopNotification {
    std::string id;
    std::string title;
    std::string body;
    // The application action ("app.<name>") clicking it runs, with a string target.
    std::string clickAction;
    std::string clickTarget;
};

class DesktopNotifier {
public:
    virtual ~DesktopNotifier() = default;
    // Sending again with the same ID replaces the notification shown.
    virtual void send(const DesktopNotification& notification) = 0;
    virtual void withdraw(const std::string& id) = 0;
};

// Sends through the registered application; it must outlive the notifier.
std::unique_ptr<DesktopNotifier> makeApplicationNotifier(GApplication* application);

} // namespace qv
