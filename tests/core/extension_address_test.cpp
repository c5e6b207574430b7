// What extension-supplied addresses become.
#include "extensions/extension_address.h"

#include <gtest/gtest.h>

namespace qv {

namespace {

std::string searchFor(const std::string& query) { return "search:" + query; }

} // namespace

struct ExtensionAddressCase {
    const char* text;
    const char* opened;
};

TEST(ExtensionAddress, OnlyWebAddressesOpenEverythingElseIsSearched)
{
    const ExtensionAddressCase cases[] = {
        { "https://site.test/a?b#c", "https://site.test/a?b#c" },
        { "  http://x  ", "http://x" },
        { "HTTP://Site.Test/", "HTTP://Site.Test/" },
        { "site.test/page", "https://www.site.test/page" },
        { "127.0.0.1:8080/x", "https://127.0.0.1:8080/x" },
        { "localhost:3000", "https://localhost:3000" },
        { "ftp.site.test", "https://ftp.site.test" },
        { "file:///etc/hostname", "search:file:///etc/hostname" },
        { "FILE:///etc/hostname", "search:FILE:///etc/hostname" },
        { "file:/etc/hostname", "search:file:/etc/hostname" },
        { "data:text/html,<script>alert(1)</script>",
            "search:data:text/html,<script>alert(1)</script>" },
        { "data:text.html,x", "search:data:text.html,x" },
        { "javascript:alert(document.cookie)", "search:javascript:alert(document.cookie)" },
        { "javascript:a.b", "search:javascript:a.b" },
        { "about:blank", "search:about:blank" },
        { "blob:https://site.test/1-2", "search:blob:https://site.test/1-2" },
        { "view-source:https://site.test/", "search:view-source:https://site.test/" },
        { "ftp://site.test/file", "search:ftp://site.test/file" },
        { "quivel-copy://0123456789abcdef0123456789abcdef/index.html",
            "search:quivel-copy://0123456789abcdef0123456789abcdef/index.html" },
        { "/etc/hostname", "search:/etc/hostname" },
        { "~/secrets.txt", "search:~/secrets.txt" },
        { "./index.html", "search:./index.html" },
        { "../../etc/passwd", "search:../../etc/passwd" },
        { "etc/hostname", "search:etc/hostname" },
        { "\\\\server.test\\share", "search:\\\\server.test\\share" },
        { "news", "search:news" },
        { "  two words ", "search:two words" },
        { "", "search:" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(webAddressForExtensionText(c.text, searchFor), c.opened) << c.text;
}

} // namespace qv
