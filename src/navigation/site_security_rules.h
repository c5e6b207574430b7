// What the browser says about a connection's security: certificate problems in words, the
// certificate page and the HTTPS-only page, the https form of an http address, and the
// address field's security mark.
#pragma once

#include "navigation/error_page_rules.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// The bits of GTlsCertificateFlags, by value: the core sees no GLib header.
enum CertificateProblem : unsigned {
    kCertificateUnknownIssuer = 1u << 0,
    kCertificateWrongHost = 1u << 1,
    kCertificateNotYetValid = 1u << 2,
    kCertificateExpired = 1u << 3,
    kCertificateRevoked = 1u << 4,
    kCertificateInsecureAlgorithm = 1u << 5,
    kCertificateOtherError = 1u << 6,
};

// One sentence per problem in `flags`, in a fixed order; a bit of no known problem (or none at
// all) reads as a certificate that could not be checked.
std::vector<std::string> certificateProblemWords(unsigned flags);

// What the certificate page shows of a certificate; the texts come from the server.
struct CertificateFacts {
    std::string subject;
    std::string issuer;
    std::string notBefore;
    std::string notAfter;
    // The SHA-256 digest of its DER bytes in hex, any case.
    std::string sha256Hex;
};

// "AB:CD:..." from hex digits; "" when the text is not an even number of hex digits.
std::string fingerprintText(std::string_view hex);

// The page in place of a load that failed for its certificate, standing at `address`.
ErrorPageText certificatePageText(
    const std::string& address, const std::string& host, unsigned flags, const CertificateFacts& facts);

// The page in place of an https attempt that failed while HTTPS-only is on; `httpAddress` is
// where it stands, `reason` the failure in words.
ErrorPageText httpsOnlyPageText(const std::string& httpAddress, const std::string& reason);

// What the bars over these pages say and offer.
inline constexpr const char* kAcceptCertificateButton = "Accept the Risk and Continue";
inline constexpr const char* kContinueToHttpButton = "Continue to the http site";
std::string certificateBarMessage(const std::string& host);
std::string httpsOnlyBarMessage(const std::string& host);

// The https address an http one is tried as first (same host, port, path, query); nothing for
// any other address. An http address on the default port goes to the https default.
std::optional<std::string> httpsUpgradeOf(std::string_view address);

// How long the https attempt may take before the http site is offered.
inline constexpr unsigned kHttpsUpgradeTimeoutSeconds = 10;

enum class PageSecurity { Unknown, Secure, NotSecure, Mixed };

struct PageConnection {
    std::string scheme; // lower case
    bool hasCertificate = false;
    unsigned certificateProblems = 0;
    // The user accepted this host's certificate in the page's profile.
    bool certificateAccepted = false;
    bool insecureContent = false;
};

// https with a certificate that checked out is secure unless it loaded http content; http, or
// https with a certificate the user let through, is not secure; other schemes say nothing.
PageSecurity pageSecurity(const PageConnection& connection);
// The mark's tooltip and accessible name; "" for Unknown.
std::string pageSecurityWords(PageSecurity security);

} // namespace qv
