// Auxiliary windows that are not built yet: their toolbar buttons and menu items do nothing.
#include "app/browser_controller.h"

namespace qv {

void BrowserController::showHistory() { }
void BrowserController::showJavaScriptEditor() { }
void BrowserController::showDownloads() { }
void BrowserController::showActivity() { }
void BrowserController::showSettings() { }
void BrowserController::activityTableDidChange() { }
void BrowserController::loadDownloads() { }

} // namespace qv
