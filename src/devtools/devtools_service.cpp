// The developer tools' windows, each made with the services it uses the first time it is shown.
#include "devtools/devtools_service.h"

#include "app/services.h"
#include "devtools/page_source_window.h"
#include "devtools/script_console_window.h"

namespace qv {

DevToolsService::DevToolsService(const Services& services)
    : m_services(services)
    , m_localCopies(*services.shell)
{
}

DevToolsService::~DevToolsService() = default;

void DevToolsService::showSourceEditor()
{
    if (!m_sourceWindow)
        m_sourceWindow = std::make_unique<PageSourceWindow>(
            *m_services.shell, *m_services.tabs, *m_services.navigation, m_localCopies);
    m_sourceWindow->showInFront();
    m_sourceWindow->refreshPageResources();
}

void DevToolsService::showJavaScriptEditor()
{
    if (!m_scriptWindow)
        m_scriptWindow = std::make_unique<ScriptConsoleWindow>(*m_services.shell, *m_services.tabs);
    m_scriptWindow->showEditor();
}

} // namespace qv
