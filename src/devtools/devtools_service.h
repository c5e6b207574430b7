// The developer tools: the JavaScript console and the page source editor with its local copy,
// both working on the selected tab.
#pragma once

#include "devtools/local_copy_scheme.h"

#include <memory>

namespace qv {

class PageSourceWindow;
class ScriptConsoleWindow;
struct Services;

class DevToolsService {
public:
    explicit DevToolsService(const Services& services);
    ~DevToolsService();
    DevToolsService(const DevToolsService&) = delete;
    DevToolsService& operator=(const DevToolsService&) = delete;

    // Shows the editor (built on first use) and lists the selected tab's files again.
    void showSourceEditor();
    // Builds the console on first use, then brings it to the front with the editor focused.
    void showJavaScriptEditor();
    PageSourceWindow* sourceWindow() const { return m_sourceWindow.get(); }
    // The local copies served to their pages, and the marks that recognise them.
    LocalCopyScheme& localCopies() { return m_localCopies; }
    ScriptConsoleWindow* scriptWindow() const { return m_scriptWindow.get(); }

private:
    const Services& m_services;
    LocalCopyScheme m_localCopies;
    std::unique_ptr<ScriptConsoleWindow> m_scriptWindow;
    std::unique_ptr<PageSourceWindow> m_sourceWindow;
};

} // namespace qv
