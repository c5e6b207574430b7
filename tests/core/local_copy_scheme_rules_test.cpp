// The served copy's request checks, types and marked folders.
#include "devtools/local_copy_scheme_rules.h"

#include <gtest/gtest.h>

namespace qv {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

TEST(LocalCopyScheme, RequestsNameOnlyPlainFilesOfTheCopy)
{
    const std::string token = "0123456789abcdef0123456789abcdef";
    const std::string base = "quivel-copy://" + token;
    struct Case {
        std::string uri;
        std::optional<Names> names; // nothing: refused
        std::string_view type;
    };
    const Case cases[] = {
        { base + "/index.html", Names { "index.html" }, "text/html" },
        { base + "/mod/js/main.js?v=1#x", Names { "mod", "js", "main.js" }, "text/javascript" },
        { base + "/a/lib.MJS", Names { "a", "lib.MJS" }, "text/javascript" },
        { base + "/site.css", Names { "site.css" }, "text/css" },
        { base + "/data.json", Names { "data.json" }, "application/json" },
        { base + "/i.svg", Names { "i.svg" }, "image/svg+xml" },
        { base + "/f.woff2", Names { "f.woff2" }, "font/woff2" },
        { base + "/unknown.bin", Names { "unknown.bin" }, "application/octet-stream" },
        // The copy's inert names are files named with "%2E": decoded once, they are served.
        { base + "/%252Ebashrc", Names { "%2Ebashrc" }, "application/octet-stream" },
        { "QUIVEL-COPY://" + token + "/a%20b.png", Names { "a b.png" }, "image/png" },
        // Out of the copy, folders, hidden names, the mark, links in the name and bad tokens.
        { base + "/../etc/passwd", std::nullopt, "" },
        { base + "/a/%2e%2e/%2E%2E/x.js", std::nullopt, "" },
        { base + "/a/./x.js", std::nullopt, "" },
        { base + "/a%2F..%2F..%2Fx.js", std::nullopt, "" },
        { base + "/a%5C..%5Cx.js", std::nullopt, "" },
        { base + "/a%00.js", std::nullopt, "" },
        { base + "/a//x.js", std::nullopt, "" },
        { base + "/", std::nullopt, "" },
        { base + "/mod/", std::nullopt, "" },
        { base, std::nullopt, "" },
        { base + "/.quivel-local-copy", std::nullopt, "" },
        { base + "/%2Egit/config", std::nullopt, "" },
        { base + "/bad%zz.js", std::nullopt, "" },
        { "quivel-copy://0123456789ABCDEF0123456789ABCDEF/a.js", std::nullopt, "" },
        { "quivel-copy://0123456789abcdef/a.js", std::nullopt, "" },
        { "quivel-copy://u@" + token + "/a.js", std::nullopt, "" },
        { "quivel-copy://" + token + ":80/a.js", std::nullopt, "" },
        { "file:///" + token + "/a.js", std::nullopt, "" },
        { "https://" + token + "/a.js", std::nullopt, "" },
    };
    for (const Case& c : cases) {
        auto request = parseLocalCopyRequest(c.uri);
        ASSERT_EQ(request.has_value(), c.names.has_value()) << c.uri;
        if (!request)
            continue;
        EXPECT_EQ(request->token, token) << c.uri;
        EXPECT_EQ(request->names, *c.names) << c.uri;
        EXPECT_EQ(localCopyMimeType(request->names.back()), c.type) << c.uri;
        // The address a file is given comes back to the same names.
        auto again = parseLocalCopyRequest(localCopySchemeURL(token, request->names));
        ASSERT_TRUE(again) << c.uri;
        EXPECT_EQ(again->names, request->names) << c.uri;
    }

    // The nearest marked folder is the root; a file is served only by plain names below it.
    auto marked = [](const fs::path& folder) { return folder == "/h/copy" || folder == "/h"; };
    auto location = localCopyLocation("/h/copy/mod/index.html", marked);
    ASSERT_TRUE(location);
    EXPECT_EQ(location->root, "/h/copy");
    EXPECT_EQ(location->names, (Names { "mod", "index.html" }));
    EXPECT_FALSE(localCopyLocation("/h/copy/.hidden/index.html", marked));
    EXPECT_FALSE(localCopyLocation("/h/copy/mod/", marked));
    EXPECT_FALSE(localCopyLocation("/elsewhere/index.html", marked));
}

} // namespace qv
