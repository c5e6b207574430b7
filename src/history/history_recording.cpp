// Loading the history and recording finished visits.
#include "app/browser_controller.h"

#include "platform/storage_locations.h"

namespace qv {

void BrowserController::loadHistory() { m_historyFileURL = historyURL(); }

} // namespace qv
