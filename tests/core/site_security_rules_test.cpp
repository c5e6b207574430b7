// Certificate problems in words, the https upgrade of an address, the security mark.
#include "navigation/site_security_rules.h"

#include <gtest/gtest.h>

namespace qv {

TEST(CertificateProblems, EachBitHasItsWordsAndSeveralAreAllListed)
{
    struct Case {
        unsigned flags;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        { kCertificateExpired, { "The certificate has expired." } },
        { kCertificateNotYetValid, { "The certificate is not valid yet." } },
        { kCertificateUnknownIssuer, { "The certificate is issued by an unknown authority." } },
        { kCertificateWrongHost, { "The certificate belongs to another host." } },
        { kCertificateRevoked, { "The certificate has been revoked." } },
        { kCertificateInsecureAlgorithm, { "The certificate uses an insecure algorithm." } },
        { kCertificateUnknownIssuer | kCertificateExpired | kCertificateWrongHost,
            { "The certificate has expired.", "The certificate is issued by an unknown authority.",
                "The certificate belongs to another host." } },
        { 0, { "The certificate could not be checked." } },
        { kCertificateOtherError, { "The certificate could not be checked." } },
        { kCertificateRevoked | (1u << 9),
            { "The certificate has been revoked.", "The certificate could not be checked." } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(certificateProblemWords(c.flags), c.words) << c.flags;
}

TEST(CertificatePage, EscapesTheCertificatesTextsAndShowsTheFingerprint)
{
    CertificateFacts facts { "CN=<script>alert(1)</script>", "O=\"Evil\" & Co", "", "2126",
        "0a1B" };
    ErrorPageText text = certificatePageText("https://h/", "h", kCertificateExpired, facts);
    std::string page = errorPageHTML("{{points}}|{{details}}", text);
    EXPECT_EQ(page,
        "<ul class=\"points\"><li>The certificate has expired.</li></ul>|<dl class=\"details\">"
        "<dt>Subject</dt><dd>CN=&lt;script&gt;alert(1)&lt;/script&gt;</dd>"
        "<dt>Issuer</dt><dd>O=&quot;Evil&quot; &amp; Co</dd>"
        "<dt>Valid from</dt><dd>Unknown</dd><dt>Valid until</dt><dd>2126</dd>"
        "<dt>SHA-256 fingerprint</dt><dd>0A:1B</dd></dl>");
    EXPECT_EQ(fingerprintText("abc"), "");
    EXPECT_EQ(fingerprintText("zz"), "");
}

TEST(HttpsUpgrade, KeepsHostPortPathAndQuery)
{
    struct Case {
        const char* address;
        std::optional<std::string> upgraded;
    };
    const Case cases[] = {
        { "http://example.com/a/b?c=1#f", "https://example.com/a/b?c=1#f" },
        { "HTTP://127.0.0.1:8080/x", "https://127.0.0.1:8080/x" },
        { "http://example.com:80/", "https://example.com/" },
        { "http://[::1]:81/", "https://[::1]:81/" },
        { "https://example.com/", std::nullopt },
        { "file:///etc/passwd", std::nullopt },
        { "about:blank", std::nullopt },
        { "http:///nohost", std::nullopt },
        { "not an address", std::nullopt },
    };
    for (const Case& c : cases)
        EXPECT_EQ(httpsUpgradeOf(c.address), c.upgraded) << c.address;
}

TEST(PageSecurityMark, FollowsSchemeCertificateAndContent)
{
    struct Case {
        PageConnection connection;
        PageSecurity security;
    };
    const Case cases[] = {
        { { "https", true, 0, false, false }, PageSecurity::Secure },
        { { "https", true, 0, false, true }, PageSecurity::Mixed },
        { { "https", true, kCertificateUnknownIssuer, false, false }, PageSecurity::NotSecure },
        { { "https", true, 0, true, false }, PageSecurity::NotSecure },
        { { "https", false, 0, false, false }, PageSecurity::NotSecure },
        { { "http", false, 0, false, false }, PageSecurity::NotSecure },
        { { "about", false, 0, false, false }, PageSecurity::Unknown },
        { { "file", false, 0, false, true }, PageSecurity::Unknown },
    };
    for (const Case& c : cases)
        EXPECT_EQ(pageSecurity(c.connection), c.security) << c.connection.scheme;
    EXPECT_EQ(pageSecurityWords(PageSecurity::Unknown), "");
    EXPECT_EQ(pageSecurityWords(PageSecurity::NotSecure), "Not secure");
}

} // namespace qv
