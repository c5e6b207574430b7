// Helper of the start-up benchmark: a real BrowserController, built the way the integration
// fixture builds it, with TABS tabs on one local address of which the first LAZY are made lazy.
// Usage: browser_tabs_probe URL TABS LAZY. Prints "READY ..." once the tabs are in place and
// then keeps the main loop running until it is killed, so its parent can read the memory.
#include "main_loop.h"

#include "app/browser_controller.h"
#include "app/shell.h"
#include "devtools/devtools_service.h"
#include "downloads/download_service.h"
#include "extensions/extension_service.h"
#include "history/history_service.h"
#include "navigation/navigation_service.h"
#include "profiles/profile_service.h"
#include "tabs/tab_service.h"
#include "app/browser_window.h"
#include "platform/alerts.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace {

using qv::bench::Clock;
using qv::bench::waitUntil;

bool loadedAddress(WebKitWebView* view, const std::string& address)
{
    const char* uri = view ? webkit_web_view_get_uri(view) : nullptr;
    return uri && address == uri && !webkit_web_view_is_loading(view);
}

} // namespace

int main(int argc, char** argv)
{
    // Run alone, it still reaches nothing but 127.0.0.1.
    setenv("QV_NETWORK_PROXY", "http://127.0.0.1:9", 0);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s URL TABS LAZY\n", argv[0]);
        return 2;
    }
    std::string url = argv[1];
    int tabs = std::atoi(argv[2]);
    int lazy = std::atoi(argv[3]);
    if (tabs < 1 || lazy < 0 || lazy >= tabs) {
        std::fprintf(stderr, "need TABS >= 1 and 0 <= LAZY < TABS\n");
        return 2;
    }
    // An alert would wait for a person; answer it and carry on.
    qv::setAlertResponder([](const qv::AlertSpec& alert) -> std::optional<int> {
        std::fprintf(stderr, "alert: %s %s\n", alert.messageText.c_str(), alert.informativeText.c_str());
        return 0;
    });

    auto application = Gtk::Application::create("org.quivel.BenchProbe",
        Gio::Application::Flags::NON_UNIQUE);
    application->register_application();
    qv::BrowserController controller(application);
    controller.extensions().loadExtensions();
    controller.installMainMenu();
    controller.applicationDidFinishLaunching();
    if (!waitUntil([&] { return controller.window() && controller.window()->get_mapped(); },
            std::chrono::seconds(30))) {
        std::fprintf(stderr, "the window was never shown\n");
        return 1;
    }

    for (int i = 0; i < tabs; ++i) {
        if (i > 0)
            controller.tabs().createNewTab(); // what Control-T does
        std::string address = url + "?n=" + std::to_string(i);
        Gtk::Entry* field = &controller.window()->requestField();
        field->set_text(address);
        g_signal_emit_by_name(field->gobj(), "activate"); // what Return does in the field
        if (!waitUntil([&] { return loadedAddress(controller.tabs().selectedWebView(), address); },
                std::chrono::seconds(30))) {
            std::fprintf(stderr, "tab %d never finished loading %s\n", i, address.c_str());
            return 1;
        }
    }
    for (int i = 0; i < lazy; ++i)
        controller.tabs().toggleLazyTabs(qv::Sender::menuItem(i));
    controller.tabs().selectBrowserTabAtIndex(static_cast<size_t>(tabs - 1));
    waitUntil([] { return false; }, std::chrono::milliseconds(200));

    int views = 0, lazyTabs = 0;
    for (const auto& tab : controller.tabs().browserTabs()) {
        views += tab.webView() ? 1 : 0;
        lazyTabs += tab.lazy() ? 1 : 0;
    }
    std::printf("READY tabs=%zu lazy=%d views=%d\n", controller.tabs().browserTabs().size(), lazyTabs, views);
    std::fflush(stdout);
    for (;;)
        g_main_context_iteration(nullptr, TRUE);
}
