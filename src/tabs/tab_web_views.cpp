// The web views of browser tabs: each profile's session and user agent, the handler of the
// activity reporter, and views a page opens sharing its opener's content.
#include "tabs/tab_service.h"

#include "app/services.h"
#include "extensions/extension_service.h"
#include "profiles/profile_service.h"

namespace qv {

namespace {

// New settings holding every value of `source`, so views opened from one another can change
// their settings (the user agent above all) apart.
GObjectPtr<WebKitSettings> copiedWebSettings(WebKitSettings* source)
{
    auto copy = GObjectPtr<WebKitSettings>::adopt(webkit_settings_new());
    guint count = 0;
    GParamSpec** properties = g_object_class_list_properties(G_OBJECT_GET_CLASS(source), &count);
    for (guint i = 0; i < count; ++i) {
        GParamSpec* property = properties[i];
        bool copyable = (property->flags & G_PARAM_READWRITE) == G_PARAM_READWRITE
            && !(property->flags & (G_PARAM_CONSTRUCT_ONLY | G_PARAM_DEPRECATED));
        if (!copyable)
            continue;
        GValue value = G_VALUE_INIT;
        g_value_init(&value, property->value_type);
        g_object_get_property(G_OBJECT(source), property->name, &value);
        g_object_set_property(G_OBJECT(copy.get()), property->name, &value);
        g_value_unset(&value);
    }
    g_free(properties);
    return copy;
}

} // namespace

GObjectPtr<WebKitWebView> TabService::newBrowserWebViewWithConfiguration(
    const WebViewConfiguration* configuration)
{
    ProfileID profile = m_services.profiles->currentProfile();
    GtkWidget* widget;
    if (configuration && configuration->relatedView) {
        // A page opening a window: the engine's related view already carries the handler and
        // the activity script in its content manager, and shares its network session. The
        // settings are copied, not shared: a user agent set on one tab stays on that tab.
        WebKitWebView* related = configuration->relatedView;
        GObjectPtr<WebKitSettings> settings
            = copiedWebSettings(webkit_web_view_get_settings(related));
        widget = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", related,
            "user-content-manager", webkit_web_view_get_user_content_manager(related),
            "settings", settings.get(), nullptr));
    } else {
        WebKitUserContentManager* content = webkit_user_content_manager_new();
        webkit_user_content_manager_register_script_message_handler_with_reply(content,
            "qvUserActivity", kUserActivityWorld);
        connectSignal<&ExtensionService::userActivityMessageReceived>(content,
            "script-message-with-reply-received::qvUserActivity", m_services.extensions);
        m_services.extensions->addActivityReporterTo(content);

        WebKitSettings* settings = newBrowserWebSettings();
        webkit_settings_set_enable_fullscreen(settings, TRUE);

        widget = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session",
            m_services.profiles->websiteDataStoreForProfile(profile), "user-content-manager", content, "settings",
            settings, nullptr));
        g_object_unref(content);
        g_object_unref(settings);
    }
    auto view = GObjectPtr<WebKitWebView>::adopt(WEBKIT_WEB_VIEW(g_object_ref_sink(widget)));
    gtk_widget_set_hexpand(widget, TRUE);
    gtk_widget_set_vexpand(widget, TRUE);

    std::string agent = m_services.profiles->userAgentForProfile(profile);
    if (!agent.empty())
        webkit_settings_set_user_agent(webkit_web_view_get_settings(view.get()), agent.c_str());
    m_webViewCreated.emit(view.get());
    return view;
}

} // namespace qv
