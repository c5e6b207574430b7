// Find in page, zoom and print for the selected tab.
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
#include "app/find_bar.h"
#include "app/web_views.h"

namespace qv {

namespace {

    constexpr guint32 kFindOptions
        = WEBKIT_FIND_OPTIONS_CASE_INSENSITIVE | WEBKIT_FIND_OPTIONS_WRAP_AROUND;
    // The engine stops counting here; the bar shows at most this many.
    constexpr guint kMaxCountedMatches = 1000;

    WebKitFindController* findControllerOf(WebKitWebView* view)
    {
        return view ? webkit_web_view_get_find_controller(view) : nullptr;
    }

} // namespace

void BrowserController::findInPage()
{
    if (!m_window)
        return;
    m_window->present();
    m_window->findBar().showAndFocus();
    updateFindCloseAction();
    searchInPage(m_window->findBar().text());
}

void BrowserController::selectedViewShown(WebKitWebView* previous, WebKitWebView* shown)
{
    // An open find bar follows the selection to the new page.
    if (m_window && m_window->findBar().shown()) {
        if (previous && previous != shown)
            webkit_find_controller_search_finish(webkit_web_view_get_find_controller(previous));
        searchInPage(m_window->findBar().text());
    }
    m_downloads->refreshDownloadBar();
}

void BrowserController::searchInPage(const std::string& text)
{
    if (!m_window || !m_window->findBar().shown())
        return;
    WebKitFindController* find = findControllerOf(m_tabs->selectedWebView());
    if (!find)
        return;
    if (text.empty()) {
        webkit_find_controller_search_finish(find);
        m_window->findBar().setMatchCount(std::nullopt);
        return;
    }
    webkit_find_controller_search(find, text.c_str(), kFindOptions, kMaxCountedMatches);
    webkit_find_controller_count_matches(find, text.c_str(), kFindOptions, kMaxCountedMatches);
}

void BrowserController::findNext() { stepFindMatch(true); }

void BrowserController::findPrevious() { stepFindMatch(false); }

void BrowserController::stepFindMatch(bool forward)
{
    if (!m_window)
        return;
    if (!m_window->findBar().shown()) {
        findInPage();
        return;
    }
    WebKitFindController* find = findControllerOf(m_tabs->selectedWebView());
    if (!find || m_window->findBar().text().empty())
        return;
    // After a tab switch the view has no search of its own yet.
    if (!webkit_find_controller_get_search_text(find))
        searchInPage(m_window->findBar().text());
    else if (forward)
        webkit_find_controller_search_next(find);
    else
        webkit_find_controller_search_previous(find);
}

void BrowserController::closeFindBar()
{
    if (!m_window || !m_window->findBar().shown())
        return;
    if (WebKitFindController* find = findControllerOf(m_tabs->selectedWebView()))
        webkit_find_controller_search_finish(find);
    m_window->findBar().hideBar();
    updateFindCloseAction();
    if (m_tabs->selectedWebView())
        gtk_widget_grab_focus(GTK_WIDGET(m_tabs->selectedWebView()));
}

void BrowserController::updateFindCloseAction()
{
    // Escape belongs to the find bar only while it shows in the focused browser window;
    // otherwise the key goes to pages and other windows as usual.
    auto action
        = std::dynamic_pointer_cast<Gio::SimpleAction>(m_shell->application()->lookup_action("find-close"));
    if (action)
        action->set_enabled(m_window && m_window->findBar().shown() && m_window->is_active());
}

void BrowserController::findCountedMatches(WebKitFindController* find, guint count)
{
    if (m_window && m_window->findBar().shown()
        && webkit_find_controller_get_web_view(find) == m_tabs->selectedWebView())
        m_window->findBar().setMatchCount(count);
}

void BrowserController::findFailed(WebKitFindController* find)
{
    if (m_window && m_window->findBar().shown()
        && webkit_find_controller_get_web_view(find) == m_tabs->selectedWebView())
        m_window->findBar().setMatchCount(0u);
}

void BrowserController::setZoomOfSelectedTab(double level)
{
    auto index = m_tabs->indexOfSelectedTab();
    if (!index)
        return;
    m_tabs->tabList()[*index].setZoomLevel(level);
    webkit_web_view_set_zoom_level(m_tabs->selectedWebView(), level);
}

void BrowserController::zoomIn()
{
    if (auto index = m_tabs->indexOfSelectedTab())
        setZoomOfSelectedTab(zoomLevelIn(m_tabs->tabList()[*index].zoomLevel()));
}

void BrowserController::zoomOut()
{
    if (auto index = m_tabs->indexOfSelectedTab())
        setZoomOfSelectedTab(zoomLevelOut(m_tabs->tabList()[*index].zoomLevel()));
}

void BrowserController::resetZoom() { setZoomOfSelectedTab(kDefaultZoomLevel); }

void BrowserController::printPage()
{
    if (!m_tabs->selectedWebView() || !m_window)
        return;
    WebKitPrintOperation* operation = webkit_print_operation_new(m_tabs->selectedWebView());
    // The dialog runs until the user answers; printing then goes on by itself.
    webkit_print_operation_run_dialog(operation, GTK_WINDOW(m_window->gobj()));
    g_object_unref(operation);
}

} // namespace qv
