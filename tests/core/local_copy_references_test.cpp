// What copied style sheets, scripts and pages name, and their links to the copy.
#include "devtools/local_copy_references.h"
#include "devtools/local_copy_rules.h"

#include <gtest/gtest.h>

namespace qv {

TEST(LocalCopyReferences, NamedFilesAndTheirLinksFromTheNamingFile)
{
    const std::string page = "https://example.com/site/index.html";
    // What the copy holds; anything else stays as written.
    const std::vector<std::string> copied { page, "https://example.com/site/css/a.css",
        "https://example.com/site/css/sub/b.css", "https://example.com/site/img/bg.png",
        "https://example.com/site/img/x%20y.png", "https://example.com/site/img/one.png",
        "https://example.com/site/img/two.png?v=2", "https://example.com/site/js/main.js",
        "https://example.com/site/js/lib/util.js", "https://example.com/site/js/lazy.js",
        "https://example.com/site/fonts/f.woff2", "https://cdn.example.net/m/dep.js" };
    struct Case {
        const char* kind;
        const char* file;
        std::string text;
        std::string rewritten;
        std::vector<std::string> named; // in text order, with kinds
    };
    const std::vector<Case> cases {
        { "css", "https://example.com/site/css/a.css",
            "@import \"sub/b.css\";\n@import url('/site/css/sub/b.css') screen;\n"
            "/* url(img/none.png) */ a::after { content: \"url(no.png)\" }\n"
            "body { background: URL( ../img/bg.png#top ) }\n"
            "@font-face { src: url(../fonts/f.woff2) format('woff2'), url(data:font/x;base64,AA) }\n"
            ".s { background: url(\"../img/x y.png\"), url(../img/missing.png) }",
            "@import \"sub/b.css\";\n@import url('sub/b.css') screen;\n"
            "/* url(img/none.png) */ a::after { content: \"url(no.png)\" }\n"
            "body { background: URL( ../img/bg.png#top ) }\n"
            "@font-face { src: url(../fonts/f.woff2) format('woff2'), url(data:font/x;base64,AA) }\n"
            ".s { background: url(\"../img/x%20y.png\"), url(../img/missing.png) }",
            { "css https://example.com/site/css/sub/b.css", "image https://example.com/site/img/bg.png",
                "font https://example.com/site/fonts/f.woff2",
                "image https://example.com/site/img/x%20y.png",
                "image https://example.com/site/img/missing.png" } },
        { "css", "https://example.com/site/css/sub/b.css", "h1 { background: url(/site/img/bg.png) }",
            "h1 { background: url(../../img/bg.png) }", { "image https://example.com/site/img/bg.png" } },
        { "js", "https://example.com/site/js/main.js",
            "import { a } from '/site/js/lib/util.js';\nimport 'https://cdn.example.net/m/dep.js';\n"
            "export * from \"./lib/util.js\";\nexport { b as c } from './lazy.js';\n"
            "// import x from './comment.js'\nconst s = \"import y from './string.js'\";\n"
            "const r = /import('.\\/regex.js')/; const q = a / 2 / import.meta.url.length;\n"
            "const later = () => import('./lazy.js'); import(name); import(`./t.js`);\n"
            "obj.import('./prop.js');",
            "import { a } from './lib/util.js';\nimport '../../_external/cdn.example.net/m/dep.js';\n"
            "export * from \"./lib/util.js\";\nexport { b as c } from './lazy.js';\n"
            "// import x from './comment.js'\nconst s = \"import y from './string.js'\";\n"
            "const r = /import('.\\/regex.js')/; const q = a / 2 / import.meta.url.length;\n"
            "const later = () => import('./lazy.js'); import(name); import(`./t.js`);\n"
            "obj.import('./prop.js');",
            { "js https://example.com/site/js/lib/util.js", "js https://cdn.example.net/m/dep.js",
                "js https://example.com/site/js/lazy.js" } },
        { "js", "https://example.com/site/js/lib/util.js", "export { z } from '../lazy.js';",
            "export { z } from '../lazy.js';", { "js https://example.com/site/js/lazy.js" } },
        { "js", "https://cdn.example.net/m/dep.js",
            "import 'https://example.com/site/js/lazy.js'; import '/m/other.js';",
            "import '../../../site/js/lazy.js'; import '/m/other.js';",
            { "js https://example.com/site/js/lazy.js", "js https://cdn.example.net/m/other.js" } },
        { "html", "https://example.com/site/index.html",
            "<link rel=\"stylesheet\" href=\"css/a.css\"><link rel=alternate href=\"feed.xml\">"
            "<!-- <img src=\"img/commented.png\"> -->"
            "<img src=img/one.png srcset=\"img/one.png 1x,img/two.png?v=2 2x\">"
            "<picture><source srcset=\"/site/img/two.png?v=2&amp;\"></picture>"
            "<div style=\"background:url('img/bg.png')\"></div><a href=\"css/a.css\">a</a>"
            "<script type=\"module\">import './js/main.js';</script>"
            "<script>import('./js/classic.js') // not scanned</script>",
            "<link rel=\"stylesheet\" href=\"css/a.css\"><link rel=alternate href=\"feed.xml\">"
            "<!-- <img src=\"img/commented.png\"> -->"
            "<img src=img/one.png srcset=\"img/one.png 1x,img/two-8533cb516a46744c.png 2x\">"
            "<picture><source srcset=\"/site/img/two.png?v=2&amp;\"></picture>"
            "<div style=\"background:url('img/bg.png')\"></div><a href=\"css/a.css\">a</a>"
            "<script type=\"module\">import './js/main.js';</script>"
            "<script>import('./js/classic.js') // not scanned</script>",
            { "css https://example.com/site/css/a.css", "image https://example.com/site/img/one.png",
                "image https://example.com/site/img/two.png?v=2",
                "image https://example.com/site/img/two.png?v=2&",
                "image https://example.com/site/img/bg.png", "js https://example.com/site/js/main.js" } },
    };

    std::vector<SourceResource> resources;
    std::map<std::string, std::vector<std::string>> names;
    for (const std::string& url : copied) {
        resources.push_back({ url, "text" });
        names[url] = *localCopyComponents(url, page);
    }
    LocalCopyLinkRewriter rest(resources, page);
    for (const Case& c : cases) {
        std::vector<std::string> named;
        for (const SourceResource& resource : localCopyNamedResources(c.text, c.kind, c.file))
            named.push_back(resource.kind + " " + resource.url);
        EXPECT_EQ(named, c.named) << c.text;
        EXPECT_EQ(rewriteLocalCopyReferences(c.text, c.kind, c.file,
                      *localCopyComponents(c.file, page), names, rest, c.file),
            c.rewritten)
            << c.text;
    }
}

} // namespace qv
