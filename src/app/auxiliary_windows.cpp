// Auxiliary windows that are not built yet: their toolbar buttons and menu items do nothing.
#include "app/browser_controller.h"

namespace qv {

void BrowserController::showSourceEditor() { }

} // namespace qv
