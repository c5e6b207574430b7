// The permission bar of the browser window.
#include "permissions/permission_bar.h"

#include "app/view_helpers.h"

#include <utility>

namespace qv {

namespace {

const char* iconNameForKind(PermissionKind kind)
{
    switch (kind) {
    case PermissionKind::Camera:
        return "camera-web-symbolic";
    case PermissionKind::Microphone:
        return "audio-input-microphone-symbolic";
    case PermissionKind::Screen:
        return "video-display-symbolic";
    case PermissionKind::Location:
        return "find-location-symbolic";
    case PermissionKind::Notifications:
        return "preferences-system-notifications-symbolic";
    case PermissionKind::Clipboard:
        return "edit-paste-symbolic";
    case PermissionKind::PointerLock:
        return "input-mouse-symbolic";
    case PermissionKind::DeviceInfo:
    case PermissionKind::MediaKeys:
    case PermissionKind::StorageAccess:
        break;
    }
    return "dialog-information-symbolic";
}

} // namespace

PermissionBar::PermissionBar()
    : WindowBar("qv-permission-bar", nullptr)
{
    m_box.append(m_remember);

    setAccessibleLabel(m_allow, "Allow");
    setAccessibleLabel(m_deny, "Deny");
    m_allow.add_css_class("suggested-action");
    m_allow.signal_clicked().connect([this] { answer(PermissionDecision::Allow); });
    m_deny.signal_clicked().connect([this] { answer(PermissionDecision::Deny); });
    m_box.append(m_deny);
    m_box.append(m_allow);
}

void PermissionBar::showRequest(
    const std::string& text, PermissionKind kind, bool rememberable, Answer answer)
{
    m_icon.set_from_icon_name(iconNameForKind(kind));
    m_answer = std::move(answer);
    m_label.set_text(text);
    m_label.set_tooltip_text(text);
    m_remember.set_active(false);
    m_remember.set_visible(rememberable);
    set_reveal_child(true);
}

void PermissionBar::hideBar()
{
    m_answer = nullptr;
    set_reveal_child(false);
}

void PermissionBar::answer(PermissionDecision decision)
{
    // Each question is answered once: the bar forgets it first, as answering shows the next.
    bool remember = m_remember.get_visible() && m_remember.get_active();
    if (auto act = std::exchange(m_answer, nullptr))
        act(decision, remember);
}

} // namespace qv
