// Submitting the address field and the profile's search and home addresses.
#include "app/browser_controller.h"

#include "app/text_util.h"

namespace qv {

std::string BrowserController::normalizedAddressForTab(const std::string& address) const
{
    return trim(address);
}

void BrowserController::openRequest()
{
    if (!m_requestField || !m_webView)
        return;
    std::string text = trim(m_requestField->get_text().raw());
    if (startsWith(text, "http://") || startsWith(text, "https://") || startsWith(text, "file://"))
        webkit_web_view_load_uri(m_webView, text.c_str());
}

std::string BrowserController::searchURLForProfile(const ProfileID&, const std::string& text) const
{
    char* escaped = g_uri_escape_string(text.c_str(), nullptr, FALSE);
    std::string url = std::string("https://www.google.com/search?q=") + escaped;
    g_free(escaped);
    return url;
}

std::string BrowserController::homePageURLForProfile(const ProfileID& profileID) const
{
    return searchURLForProfile(profileID, "");
}

} // namespace qv
