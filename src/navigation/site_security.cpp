// Certificates and HTTPS-only: the certificate page, the https attempt of an http address, the
// bar offering the way on, and the address field's security mark.
#include "navigation/navigation_service.h"

#include "app/browser_window.h"
#include "app/services.h"
#include "app/shell.h"
#include "app/view_helpers.h"
#include "app/web_views.h"
#include "base/url.h"
#include "extensions/extension_service.h"
#include "navigation/site_warning_bar.h"
#include "profiles/profile_service.h"
#include "tabs/tab_service.h"

namespace qv {

namespace {

    std::string lowerHostOf(const std::string& uri)
    {
        auto parts = parseURL(uri, URLSyntax::Loose);
        return parts ? parts->lowerHost() : std::string();
    }

    std::string takeString(char* text)
    {
        std::string out = text ? text : "";
        g_free(text);
        return out;
    }

    std::string utcText(GDateTime* time)
    {
        if (!time)
            return {};
        GDateTime* utc = g_date_time_to_utc(time);
        g_date_time_unref(time);
        std::string out = utc ? takeString(g_date_time_format(utc, "%Y-%m-%d %H:%M:%S UTC")) : "";
        if (utc)
            g_date_time_unref(utc);
        return out;
    }

    CertificateFacts certificateFacts(GTlsCertificate* certificate)
    {
        CertificateFacts facts;
        if (!certificate)
            return facts;
        facts.subject = takeString(g_tls_certificate_get_subject_name(certificate));
        facts.issuer = takeString(g_tls_certificate_get_issuer_name(certificate));
        facts.notBefore = utcText(g_tls_certificate_get_not_valid_before(certificate));
        facts.notAfter = utcText(g_tls_certificate_get_not_valid_after(certificate));
        GByteArray* der = nullptr;
        g_object_get(certificate, "certificate", &der, nullptr);
        if (der) {
            facts.sha256Hex
                = takeString(g_compute_checksum_for_data(G_CHECKSUM_SHA256, der->data, der->len));
            g_byte_array_unref(der);
        }
        return facts;
    }

    std::string upgradeFailureWords(const GError* error)
    {
        return error && error->message && *error->message ? error->message : "The connection failed.";
    }

} // namespace

gboolean NavigationService::webViewLoadFailedWithTLSErrors(WebKitWebView* view, char* failingURI,
    GTlsCertificate* certificate, GTlsCertificateFlags errors)
{
    // Extension pages are fenced by their own handlers.
    if (m_services.extensions->isExtensionWebView(view))
        return FALSE;
    std::string uri = failingURI && *failingURI ? failingURI : webViewURI(view);
    std::string words;
    for (const std::string& word : certificateProblemWords(static_cast<unsigned>(errors)))
        words += (words.empty() ? "" : " ") + word;
    GError* error = g_error_new_literal(
        WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_FAILED, words.c_str());
    std::unique_ptr<GError, decltype(&g_error_free)> held(error, g_error_free);
    if (httpsUpgradeFailed(view, uri, error))
        return TRUE;
    webViewDidFailNavigation(view, WEBKIT_LOAD_STARTED, error);
    auto kept = GObjectPtr<GTlsCertificate>::retain(certificate);
    unsigned problems = static_cast<unsigned>(errors);
    showOwnPageWhenSettled(view, [this, view, uri, kept, problems] {
        showCertificatePage(view, uri, kept.get(), problems);
    });
    // Handled: the engine's own failure report would show our ordinary error page instead.
    return TRUE;
}

void NavigationService::showOwnPageWhenSettled(WebKitWebView* view, std::function<void()> show)
{
    Tab* tab = m_services.tabs->tabList().tabWithView(view);
    if (!tab)
        return;
    auto held = GObjectPtr<WebKitWebView>::retain(view);
    unsigned serial = tab->loadState().serial;
    Glib::signal_idle().connect_once(sigc::track_obj(
        [this, held, serial, show] {
            const Tab* current = m_services.tabs->tabList().tabWithView(held.get());
            if (current && !webkit_web_view_is_loading(held.get())
                && current->loadState().serial == serial)
                show();
        },
        *this));
}

void NavigationService::showCertificatePage(
    WebKitWebView* view, const std::string& uri, GTlsCertificate* certificate, unsigned problems)
{
    Tab* tab = m_services.tabs->tabList().tabWithView(view);
    auto pageTemplate = ownPageTemplate();
    if (!tab || !pageTemplate || !certificate)
        return;
    std::string host = lowerHostOf(uri);
    ErrorPageText text = certificatePageText(uri, host, problems, certificateFacts(certificate));
    text.dark = m_services.shell->darkMode();
    m_viewSecurity[view].warning = SiteWarning {
        SiteWarningKind::Certificate, uri, host, GObjectPtr<GTlsCertificate>::retain(certificate)
    };
    loadOwnPage(*tab, view, uri, errorPageHTML(*pageTemplate, text));
    tab->setShownPage(text.title, uri);
    updateSiteWarningBar();
    updateSecurityIndicator();
}

void NavigationService::showHttpsOnlyPage(
    WebKitWebView* view, const std::string& httpURI, const std::string& reason)
{
    Tab* tab = m_services.tabs->tabList().tabWithView(view);
    auto pageTemplate = ownPageTemplate();
    if (!tab || !pageTemplate)
        return;
    ErrorPageText text = httpsOnlyPageText(httpURI, reason);
    text.dark = m_services.shell->darkMode();
    m_viewSecurity[view].warning
        = SiteWarning { SiteWarningKind::HttpsOnly, httpURI, lowerHostOf(httpURI), {} };
    loadOwnPage(*tab, view, httpURI, errorPageHTML(*pageTemplate, text));
    tab->setShownPage(text.title, httpURI);
    updateSiteWarningBar();
    updateSecurityIndicator();
}

std::optional<std::string> NavigationService::httpsAttemptFor(
    WebKitWebView* view, const std::string& uri) const
{
    const Tab* tab = m_services.tabs->tabList().tabWithView(view);
    const BrowserProfile* profile = tab ? m_services.profiles->profileForID(tab->profileID()) : nullptr;
    if (!profile || !profile->httpsOnly)
        return std::nullopt;
    auto https = httpsUpgradeOf(uri);
    if (!https)
        return std::nullopt;
    auto allowed = m_httpAllowedHosts.find(profile->id);
    if (allowed != m_httpAllowedHosts.end() && allowed->second.count(lowerHostOf(uri)))
        return std::nullopt;
    return https;
}

void NavigationService::startHttpsAttempt(
    WebKitWebView* view, const std::string& httpURI, const std::string& httpsURI)
{
    auto upgrade = std::make_unique<HttpsUpgrade>();
    upgrade->httpURI = httpURI;
    upgrade->httpsURI = httpsURI;
    // A server that takes the connection and never answers is given up on.
    upgrade->timeout = Glib::signal_timeout().connect_seconds(
        sigc::track_obj(
            [this, view] {
                auto found = m_viewSecurity.find(view);
                if (found != m_viewSecurity.end() && found->second.upgrade) {
                    found->second.upgrade->timedOut = true;
                    webkit_web_view_stop_loading(view);
                }
                return false;
            },
            *this),
        kHttpsUpgradeTimeoutSeconds);
    m_viewSecurity[view].upgrade = std::move(upgrade);
    webkit_web_view_load_uri(view, httpsURI.c_str());
}

bool NavigationService::upgradeRedirectToHttps(WebKitWebView* view)
{
    std::string uri = webViewURI(view);
    auto https = httpsAttemptFor(view, uri);
    if (!https)
        return false;
    ViewSecurity& security = m_viewSecurity[view];
    // An https page sending us back to its own http address would go round for ever.
    if (security.upgrade && security.upgrade->httpsURI == *https) {
        security.upgrade.reset();
        webkit_web_view_stop_loading(view);
        showOwnPageWhenSettled(view, [this, view, uri] {
            showHttpsOnlyPage(view, uri, "The secure address sends the browser back to http.");
        });
        return true;
    }
    startHttpsAttempt(view, uri, *https);
    return true;
}

bool NavigationService::httpsUpgradeFailed(
    WebKitWebView* view, const std::string& failingURI, const GError* error)
{
    auto found = m_viewSecurity.find(view);
    if (found == m_viewSecurity.end() || !found->second.upgrade
        || found->second.upgrade->httpsURI != failingURI)
        return false;
    auto upgrade = std::move(found->second.upgrade);
    bool cancelled = g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED);
    // Stopped or replaced by the user: nothing to offer.
    if (cancelled && !upgrade->timedOut)
        return false;
    std::string reason = upgrade->timedOut ? std::string("The server did not answer in time.")
                                           : upgradeFailureWords(error);
    webViewDidFailNavigation(view, WEBKIT_LOAD_STARTED, const_cast<GError*>(error));
    std::string httpURI = upgrade->httpURI;
    showOwnPageWhenSettled(view, [this, view, httpURI, reason] {
        showHttpsOnlyPage(view, httpURI, reason);
    });
    return true;
}

void NavigationService::siteSecurityLoadStarted(WebKitWebView* view)
{
    auto found = m_viewSecurity.find(view);
    if (found == m_viewSecurity.end())
        return;
    ViewSecurity& security = found->second;
    // Any other load than the https attempt's own ends that attempt.
    if (security.upgrade && webViewURI(view) != security.upgrade->httpsURI)
        security.upgrade.reset();
    if (security.warning) {
        security.warning.reset();
        updateSiteWarningBar();
    }
}

void NavigationService::siteSecurityLoadCommitted(WebKitWebView* view)
{
    ViewSecurity& security = m_viewSecurity[view];
    security.upgrade.reset();
    security.insecureContent = false;
}

void NavigationService::webViewInsecureContentDetected(
    WebKitWebView* view, WebKitInsecureContentEvent)
{
    m_viewSecurity[view].insecureContent = true;
    if (view == m_services.tabs->selectedWebView())
        updateSecurityIndicator();
}

void NavigationService::acceptCertificateAndContinue(WebKitWebView* view)
{
    Tab* tab = m_services.tabs->tabList().tabWithView(view);
    auto found = m_viewSecurity.find(view);
    if (!tab || found == m_viewSecurity.end() || !found->second.warning
        || found->second.warning->kind != SiteWarningKind::Certificate)
        return;
    SiteWarning warning = std::move(*found->second.warning);
    found->second.warning.reset();
    // The tab's own session is its profile's: the exception holds there, and only until quit.
    webkit_network_session_allow_tls_certificate_for_host(
        webkit_web_view_get_network_session(view), warning.certificate.get(), warning.host.c_str());
    m_acceptedCertificateHosts[tab->profileID()].insert(warning.host);
    updateSiteWarningBar();
    webkit_web_view_load_uri(view, warning.uri.c_str());
}

void NavigationService::continueToHttpSite(WebKitWebView* view)
{
    Tab* tab = m_services.tabs->tabList().tabWithView(view);
    auto found = m_viewSecurity.find(view);
    if (!tab || found == m_viewSecurity.end() || !found->second.warning
        || found->second.warning->kind != SiteWarningKind::HttpsOnly)
        return;
    SiteWarning warning = std::move(*found->second.warning);
    found->second.warning.reset();
    m_httpAllowedHosts[tab->profileID()].insert(warning.host);
    updateSiteWarningBar();
    webkit_web_view_load_uri(view, warning.uri.c_str());
}

std::optional<NavigationService::SiteWarningKind> NavigationService::siteWarningOf(
    WebKitWebView* view) const
{
    auto found = m_viewSecurity.find(view);
    if (found == m_viewSecurity.end() || !found->second.warning)
        return std::nullopt;
    return found->second.warning->kind;
}

void NavigationService::updateSiteWarningBar()
{
    if (!window())
        return;
    SiteWarningBar& bar = window()->siteWarningBar();
    WebKitWebView* view = m_services.tabs->selectedWebView();
    auto found = view ? m_viewSecurity.find(view) : m_viewSecurity.end();
    if (found == m_viewSecurity.end() || !found->second.warning) {
        bar.hideBar();
        return;
    }
    const SiteWarning& warning = *found->second.warning;
    // The action names its view; it does nothing once that view has moved on or gone.
    if (warning.kind == SiteWarningKind::Certificate)
        bar.showWarning(certificateBarMessage(warning.host), kAcceptCertificateButton,
            [this, view] { acceptCertificateAndContinue(view); });
    else
        bar.showWarning(httpsOnlyBarMessage(warning.host), kContinueToHttpButton,
            [this, view] { continueToHttpSite(view); });
}

PageSecurity NavigationService::pageSecurityOf(WebKitWebView* view) const
{
    const Tab* tab = view ? m_services.tabs->tabList().tabWithView(view) : nullptr;
    if (!tab)
        return PageSecurity::Unknown;
    auto found = m_viewSecurity.find(view);
    if (tab->loadState().errorPage != ErrorPageState::None)
        return found != m_viewSecurity.end() && found->second.warning ? PageSecurity::NotSecure
                                                                      : PageSecurity::Unknown;
    std::string uri = webViewURI(view);
    auto parts = parseURL(uri, URLSyntax::Loose);
    if (!parts)
        return PageSecurity::Unknown;
    PageConnection connection;
    connection.scheme = parts->lowerScheme();
    GTlsCertificate* certificate = nullptr;
    GTlsCertificateFlags errors = static_cast<GTlsCertificateFlags>(0);
    connection.hasCertificate = webkit_web_view_get_tls_info(view, &certificate, &errors) && certificate;
    connection.certificateProblems = static_cast<unsigned>(errors);
    auto accepted = m_acceptedCertificateHosts.find(tab->profileID());
    connection.certificateAccepted
        = accepted != m_acceptedCertificateHosts.end() && accepted->second.count(parts->lowerHost());
    connection.insecureContent = found != m_viewSecurity.end() && found->second.insecureContent;
    return pageSecurity(connection);
}

PageSecurity NavigationService::selectedPageSecurity() const
{
    return pageSecurityOf(m_services.tabs->selectedWebView());
}

void NavigationService::updateSecurityIndicator()
{
    if (!window())
        return;
    Gtk::Image& icon = window()->securityIcon();
    PageSecurity security = selectedPageSecurity();
    const char* name = security == PageSecurity::Secure ? "channel-secure-symbolic"
        : security == PageSecurity::Mixed               ? "dialog-warning-symbolic"
                                                        : "channel-insecure-symbolic";
    std::string words = pageSecurityWords(security);
    icon.set_visible(security != PageSecurity::Unknown);
    setIconName(icon, name);
    setTooltipAndLabel(icon, words);
}

} // namespace qv
