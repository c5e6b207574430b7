// The navigation service: the address field and what typing in it resolves to, the probes of
// candidate addresses, the tabs' loads as their web views report them, the error page, and
// back, forward, reload and home.
#pragma once

#include "app/web_views.h"
#include "navigation/address_resolution.h"
#include "navigation/crash_page_rules.h"
#include "navigation/site_security_rules.h"
#include "tabs/tab.h"

#include <sigc++/sigc++.h>
#include <webkit/webkit.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qv {

class AddressProbe;
class BrowserWindow;
struct Services;

class NavigationService : public sigc::trackable {
public:
    explicit NavigationService(const Services& services);
    ~NavigationService();
    NavigationService(const NavigationService&) = delete;
    NavigationService& operator=(const NavigationService&) = delete;

    // Follows a browser tab's view: its loads, title, address, new windows and policy.
    void watchWebView(WebKitWebView* webView);
    void unwatchWebView(WebKitWebView* webView);

    // Submits the address field's text as the user typed it.
    void openRequest();
    void openRequest(SubmitOrigin origin);
    // "addressBar.submit": the field resolved as if typed, but never to a local file or folder.
    void submitAddressFieldFromExtension();
    // The address field's text changed by the user: "addressBar.changed", a final "#" submits.
    void controlTextDidChange();
    // Probes the candidates at once; unless a later submission was made, the first answering
    // one (else the search for query) loads in the submitting tab as soon as it is certain.
    void resolveAddressCandidates(const std::vector<std::string>& candidates,
        const std::string& query, uint64_t generation);
    // Text typed on the command line, resolved for the tab made for it.
    void resolveTypedAddressInTab(const std::string& text, const TabID& tabID);
    // Loads into the selected tab; an address that is no URL gives the error alert.
    void loadResolvedAddress(const std::optional<std::string>& address);
    void updateAddressFieldForURL(const std::string& url);
    // Sets the address field's text without counting as a user edit.
    void setAddressFieldText(const std::string& text);
    // Shows text in the field that is neither typed nor the page's address (a completion, a
    // suggestion being chosen): no edit event, and what the user typed still counts as typed.
    void showTextInAddressField(const std::string& text);
    // The browser is setting the field's text, not the user.
    bool settingAddressField() const { return m_programmaticAddressEdits > 0; }
    uint64_t addressLookupGeneration() const { return m_addressLookupGeneration; }
    // Probes sent and not yet answered or given up.
    size_t pendingAddressProbes() const;
    // Tests stretch the time-out to show a decision never waits for it.
    void setAddressProbeTimeout(std::chrono::milliseconds timeout)
    {
        m_addressProbeTimeout = timeout;
    }
    // Tests point candidates at local servers; nullptr restores the resolver's own list.
    using AddressCandidateBuilder = std::function<std::vector<std::string>(const std::string&)>;
    void setAddressCandidateBuilder(AddressCandidateBuilder builder)
    {
        m_addressCandidateBuilder = std::move(builder);
    }

    void goBack();
    void goForward();
    void reloadPage();
    void goHome();
    void focusAddressBar();
    void updateNavigationButtons();

    // Shows our error page for a failed load of `uri` in place of the page, keeping `uri` as
    // the view's address. False when the page template cannot be read.
    bool showErrorPage(WebKitWebView* webView, const std::string& uri, const std::string& message);
    bool showingErrorPage(WebKitWebView* webView) const;
    // Shows our crash page in place of a page whose process ended, at the page's address, so
    // that reloading loads the page again. False when the tab or the template is missing.
    bool showCrashPage(WebKitWebView* webView, PageEndReason reason);
    // The unresponsive-page bar's buttons: end the page's process and show the crash page, or
    // hide the bar and give the page more time.
    void stopUnresponsivePage();
    void waitForUnresponsivePage();

    // The security of the selected page as the address field marks it.
    PageSecurity selectedPageSecurity() const;
    // The warning page a view shows, if it shows one of ours that the warning bar acts on.
    enum class SiteWarningKind { Certificate, HttpsOnly };
    std::optional<SiteWarningKind> siteWarningOf(WebKitWebView* webView) const;

private:
    // The web views' signals.
    void webViewLoadChanged(WebKitWebView* webView, WebKitLoadEvent event);
    gboolean webViewLoadFailed(
        WebKitWebView* webView, WebKitLoadEvent event, char* uri, GError* error);
    void webViewURIChanged(WebKitWebView* webView, GParamSpec*);
    void webViewTitleChanged(WebKitWebView* webView, GParamSpec*);
    void webViewProcessTerminated(
        WebKitWebView* webView, WebKitWebProcessTerminationReason reason);
    void webViewResponsivenessChanged(WebKitWebView* webView, GParamSpec*);
    // Shows the unresponsive-page bar for the selected tab once its page has not answered for
    // long enough, schedules the next look until then, or hides it.
    void updateUnresponsiveBar();
    void hideUnresponsiveBar();

    // Certificates and HTTPS-only (navigation/site_security.cpp).
    gboolean webViewLoadFailedWithTLSErrors(WebKitWebView* webView, char* uri,
        GTlsCertificate* certificate, GTlsCertificateFlags errors);
    void webViewInsecureContentDetected(WebKitWebView* webView, WebKitInsecureContentEvent event);
    // The https address the view's main frame tries before the http `uri`, if any.
    std::optional<std::string> httpsAttemptFor(WebKitWebView* webView, const std::string& uri) const;
    // Loads the https address in place of the http one, giving up any earlier attempt.
    void startHttpsAttempt(WebKitWebView* webView, const std::string& httpURI,
        const std::string& httpsURI);
    // The main frame's load was redirected: an http target is tried over https too; true when
    // the redirect was taken over.
    bool upgradeRedirectToHttps(WebKitWebView* webView);
    // A load of the view started, committed or failed: what the security state makes of it.
    void siteSecurityLoadStarted(WebKitWebView* webView);
    void siteSecurityLoadCommitted(WebKitWebView* webView);
    // True when the failure is the https attempt's; the HTTPS-only page is then on its way.
    bool httpsUpgradeFailed(WebKitWebView* webView, const std::string& failingURI,
        const GError* error);
    // Shows the page once the failed load has ended, unless a newer load was asked for.
    void showOwnPageWhenSettled(WebKitWebView* webView, std::function<void()> show);
    void showCertificatePage(WebKitWebView* webView, const std::string& uri,
        GTlsCertificate* certificate, unsigned problems);
    void showHttpsOnlyPage(WebKitWebView* webView, const std::string& httpURI,
        const std::string& reason);
    // The warning bar's actions: they run only from the bar, a control of the browser window.
    void acceptCertificateAndContinue(WebKitWebView* webView);
    void continueToHttpSite(WebKitWebView* webView);
    void updateSiteWarningBar();
    void updateSecurityIndicator();
    PageSecurity pageSecurityOf(WebKitWebView* webView) const;
    GtkWidget* createWebViewForNavigation(WebKitWebView* webView, WebKitNavigationAction* action);
    gboolean webViewDecidePolicy(
        WebKitWebView* webView, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
    void webViewDidCommitNavigation(WebKitWebView* webView);
    void webViewDidFinishNavigation(WebKitWebView* webView);
    void webViewDidFailNavigation(WebKitWebView* webView, WebKitLoadEvent event, GError* error);
    // The tab and window titles from the page's current title (it may arrive after the load).
    void updateTitlesForWebView(WebKitWebView* webView);
    bool decideNavigationPolicy(WebKitWebView* webView, WebKitPolicyDecision* decision,
        WebKitPolicyDecisionType type);
    // Records the finished load in the history and tells extensions.
    void completeVisit(WebKitWebView* webView, const std::string& url);
    // Completes a visit still waiting for its title.
    void completePendingVisit(Tab* tab, WebKitWebView* webView);
    // True when the load event belongs to an error page, which is neither a visit nor a title.
    bool errorPageLoadChanged(WebKitWebView* webView, WebKitLoadEvent event);
    // True when the navigation is the error page's own; it is allowed without an event.
    bool decideErrorPageNavigation(WebKitWebView* webView, WebKitPolicyDecision* decision);
    // Loads a page of ours standing in for `uri` in the tab's view, outside visits and titles.
    // The template of our own pages (a failed load, a crashed page); nothing when unreadable.
    static std::optional<std::string> ownPageTemplate();
    void loadOwnPage(Tab& tab, WebKitWebView* webView, const std::string& uri,
        const std::string& html);

    // Probes the candidates at once; as soon as the outcome is certain, always on a later
    // main-loop turn, `decided` gets the first answering one in list order, or nothing, and the
    // probes still out are given up.
    void probeAddressCandidates(const std::vector<std::string>& candidates,
        std::function<void(std::optional<std::string>)> decided);
    // What typed text is decided against: the home folder, the file system, who typed it.
    RequestContext typedRequestContext(SubmitOrigin origin) const;
    // The search for the query with the engine of the profile the tab belongs to.
    std::string searchURLForTab(const TabID& tabID, const std::string& query) const;
    // Loads a resolved address into the tab that submitted it, if that tab is still open.
    void loadResolvedAddressInTab(const std::string& address, const TabID& tabID);
    std::vector<std::string> candidatesFor(const RequestDecision& decision) const;

    BrowserWindow* window() const;

    const Services& m_services;
    uint64_t m_addressLookupGeneration = 0;
    std::map<uint64_t, std::unique_ptr<AddressProbe>> m_addressProbes;
    uint64_t m_addressProbeCount = 0;
    std::chrono::milliseconds m_addressProbeTimeout = std::chrono::seconds(3);
    AddressCandidateBuilder m_addressCandidateBuilder;
    int m_programmaticAddressEdits = 0;
    bool m_addressFieldEditedByUser = false;
    sigc::connection m_unresponsiveCheck;
    // The view the unresponsive-page bar speaks of; not owned, forgotten when it goes.
    WebKitWebView* m_unresponsiveBarView = nullptr;
    struct SiteWarning {
        SiteWarningKind kind;
        std::string uri;
        std::string host;
        GObjectPtr<GTlsCertificate> certificate;
    };
    // An http load tried as https; it ends with the https page's commit or its failure.
    struct HttpsUpgrade {
        std::string httpURI;
        std::string httpsURI;
        bool timedOut = false;
        sigc::connection timeout;
        ~HttpsUpgrade() { timeout.disconnect(); }
    };
    struct ViewSecurity {
        bool insecureContent = false;
        std::optional<SiteWarning> warning;
        std::unique_ptr<HttpsUpgrade> upgrade;
    };
    // Per watched browser view; forgotten when it is unwatched.
    std::map<WebKitWebView*, ViewSecurity> m_viewSecurity;
    // For this run, per profile: hosts whose certificate the user accepted, hosts the user
    // chose to visit over http.
    std::map<ProfileID, std::set<std::string>> m_acceptedCertificateHosts;
    std::map<ProfileID, std::set<std::string>> m_httpAllowedHosts;
    // Answers from pages asked whether they still respond reach the service only while it lives.
    Lifetime m_lifetime;
};

} // namespace qv
