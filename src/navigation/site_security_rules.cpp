// Certificate problems in words, the certificate and HTTPS-only pages, the https upgrade of an
// http address, and the page's security mark.
#include "navigation/site_security_rules.h"

#include "base/text_util.h"
#include "base/url.h"

#include <array>
#include <utility>

namespace qv {

std::vector<std::string> certificateProblemWords(unsigned flags)
{
    static constexpr std::array<std::pair<unsigned, const char*>, 6> kWords { {
        { kCertificateExpired, "The certificate has expired." },
        { kCertificateNotYetValid, "The certificate is not valid yet." },
        { kCertificateUnknownIssuer, "The certificate is issued by an unknown authority." },
        { kCertificateWrongHost, "The certificate belongs to another host." },
        { kCertificateRevoked, "The certificate has been revoked." },
        { kCertificateInsecureAlgorithm, "The certificate uses an insecure algorithm." },
    } };
    std::vector<std::string> words;
    unsigned known = 0;
    for (const auto& [bit, text] : kWords) {
        known |= bit;
        if (flags & bit)
            words.emplace_back(text);
    }
    if (words.empty() || (flags & ~known))
        words.emplace_back("The certificate could not be checked.");
    return words;
}

std::string fingerprintText(std::string_view hex)
{
    if (hex.empty() || hex.size() % 2)
        return {};
    std::string out;
    out.reserve(hex.size() / 2 * 3);
    for (size_t at = 0; at < hex.size(); ++at) {
        char c = hex[at];
        if (c >= 'a' && c <= 'f')
            c = static_cast<char>(c - 'a' + 'A');
        else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return {};
        if (at && at % 2 == 0)
            out += ':';
        out += c;
    }
    return out;
}

ErrorPageText certificatePageText(
    const std::string& address, const std::string& host, unsigned flags, const CertificateFacts& facts)
{
    // The texts come from the server: bounded, and made valid UTF-8 before they are escaped.
    auto shown = [](const std::string& value) {
        constexpr size_t kMaxFactBytes = 1024;
        return value.empty() ? std::string("Unknown")
                             : sanitizeUtf8(std::string_view(value).substr(0, kMaxFactBytes));
    };
    ErrorPageText text;
    text.heading = "This connection is not secure";
    text.title = "Certificate not trusted";
    text.message = "The certificate " + shown(host) + " presented cannot be trusted, so this page was "
                   "not loaded. Someone may be trying to read or change what you send.";
    text.points = certificateProblemWords(flags);
    text.address = address;
    text.details = {
        { "Subject", shown(facts.subject) },
        { "Issuer", shown(facts.issuer) },
        { "Valid from", shown(facts.notBefore) },
        { "Valid until", shown(facts.notAfter) },
        { "SHA-256 fingerprint", shown(fingerprintText(facts.sha256Hex)) },
    };
    text.note = std::string("To load the page anyway in this profile until the browser quits, "
                            "choose \u201c") + kAcceptCertificateButton + "\u201d above the page.";
    text.buttonId = "try-again";
    return text;
}

ErrorPageText httpsOnlyPageText(const std::string& httpAddress, const std::string& reason)
{
    ErrorPageText text;
    text.heading = "This site does not offer a secure connection";
    text.title = "Secure connection not available";
    text.message = "HTTPS-only is on for this profile, and the secure address could not be "
                   "loaded: " + reason;
    text.address = httpAddress;
    text.note = std::string("Anyone on the network can read and change an http page. To load it "
                            "anyway, choose \u201c") + kContinueToHttpButton + "\u201d above the page.";
    return text;
}

std::string certificateBarMessage(const std::string& host)
{
    return "The certificate of " + host + " is not trusted.";
}

std::string httpsOnlyBarMessage(const std::string& host)
{
    return host + " cannot be reached over a secure connection.";
}

std::optional<std::string> httpsUpgradeOf(std::string_view address)
{
    auto parts = parseURL(address, URLSyntax::Loose);
    if (!parts || parts->lowerScheme() != "http" || !parts->hasAuthority || parts->host.empty())
        return std::nullopt;
    parts->scheme = "https";
    // Port 80 is http's; its https counterpart is the https default.
    if (parts->port && (parts->port->empty() || *parts->port == "80"))
        parts->port.reset();
    return parts->absoluteString();
}

PageSecurity pageSecurity(const PageConnection& connection)
{
    if (connection.scheme == "http")
        return PageSecurity::NotSecure;
    if (connection.scheme != "https")
        return PageSecurity::Unknown;
    if (!connection.hasCertificate || connection.certificateProblems
        || connection.certificateAccepted)
        return PageSecurity::NotSecure;
    return connection.insecureContent ? PageSecurity::Mixed : PageSecurity::Secure;
}

std::string pageSecurityWords(PageSecurity security)
{
    switch (security) {
    case PageSecurity::Secure:
        return "Secure connection";
    case PageSecurity::NotSecure:
        return "Not secure";
    case PageSecurity::Mixed:
        return "Not fully secure: parts of this page were loaded without encryption";
    case PageSecurity::Unknown:
        break;
    }
    return {};
}

} // namespace qv
