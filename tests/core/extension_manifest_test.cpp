// Extension IDs, manifest validation, runtime pages and the store's load rules.
#include "base/atomic_file.h"
#include "base/paths.h"
#include "base/text_util.h"
#include "base/url.h"
#include "extensions/extension_manifest.h"
#include "extensions/extension_permissions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace qv {

namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir()
    {
        std::random_device random;
        m_path = fs::temp_directory_path() / ("qv-manifest-" + std::to_string(random()));
        fs::create_directories(m_path);
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

void writeFile(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const fs::path& path) { return readWholeFile(path).contents; }

class ExtensionFolder : public ::testing::Test {
protected:
    fs::path makeExtension(const std::string& name, const std::optional<std::string>& manifest)
    {
        fs::path dir = m_temp.path() / name;
        fs::create_directories(dir);
        if (manifest)
            writeFile(dir / "manifest.json", *manifest);
        return dir;
    }
    fs::path store() const { return m_temp.path(); }

    TempDir m_temp;
};

} // namespace

TEST(ExtensionID, RuleAllowsOnlyLowerCaseLettersDigitsAndThreeMarks)
{
    struct Case {
        const char* id;
        bool valid;
    };
    const Case cases[] = {
        { "weather-tools", true },
        { "a.b_c-1", true },
        { "0", true },
        { "", false },
        { "Weather", false },
        { "has space", false },
        { "slash/inside", false },
        { "k\xC3\xB6ln", false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(isValidExtensionID(c.id), c.valid) << c.id;
}

TEST(ExtensionID, DerivedFromFolderNames)
{
    struct Case {
        const char* name;
        const char* id;
    };
    const Case cases[] = {
        { "My Tool (2)!", "my-tool-2" },
        { "____", "" },
        { "Weather Tools", "weather-tools" },
        { "--a--b--", "a-b" },
        { ".hidden.name.", "hidden.name" },
        { "K\xC3\xB6ln", "k-ln" },
        { "already-fine", "already-fine" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(extensionIDFromName(c.name), c.id) << c.name;
}

TEST(ExtensionPermissions, ThirteenNamesInTheirOrder)
{
    ASSERT_EQ(kExtensionPermissionNames.size(), 13u);
    EXPECT_EQ(kExtensionPermissionNames.front(), "tabs");
    EXPECT_EQ(kExtensionPermissionNames[9], "addressBar");
    EXPECT_EQ(kExtensionPermissionNames.back(), "ui");
    EXPECT_TRUE(isExtensionPermissionName("userActivity"));
    EXPECT_FALSE(isExtensionPermissionName("required"));
    EXPECT_FALSE(isExtensionPermissionName("Tabs"));
}

TEST(ManifestText, RefusesTooLargeNonJsonAndNonObjects)
{
    EXPECT_EQ(parseManifestText("{not json").error(), "manifest.json is not valid JSON.");
    EXPECT_EQ(parseManifestText("[1,2]").error(), "manifest.json must hold a JSON object.");
    EXPECT_EQ(parseManifestText("\"text\"").error(), "manifest.json must hold a JSON object.");
    std::string huge = "{\"name\":\"" + std::string(kMaxManifestBytes, 'a') + "\"}";
    EXPECT_EQ(parseManifestText(huge).error(), "manifest.json is larger than 1 MB.");
    EXPECT_TRUE(parseManifestText("{\"id\":\"x\"}").ok());
}

TEST(ManifestPlan, ValidationFailuresNameTheBrokenRule)
{
    struct Case {
        const char* manifest;
        const char* folder;
        const char* error;
    };
    const Case cases[] = {
        { R"({})", "____", "The extension has no ID." },
        { R"({"id":"Upper"})", "x",
            "Extension ID \"Upper\" may only use a-z, 0-9, \"-\", \"_\" and \".\"." },
        { R"({"permissions":["tabs","telepathy"]})", "x", "Unknown permission \"telepathy\"." },
        { R"({"permissions":["tabs",7]})", "x", "Permission 2 is not a string." },
        { R"({"type":"URL","url":"ftp://example.com/"})", "x",
            "A website extension needs an http or https address with a host." },
        { R"({"type":"url","url":42})", "x",
            "A website extension needs an http or https address with a host." },
        { R"({"type":"url","url":"https://"})", "x",
            "A website extension needs an http or https address with a host." },
    };
    for (const Case& c : cases) {
        auto plan = planManifest(*parseJson(c.manifest), c.folder);
        ASSERT_FALSE(plan.ok()) << c.manifest;
        EXPECT_EQ(plan.error(), c.error) << c.manifest;
    }
}

TEST(ManifestPlan, DefaultsAndAmendments)
{
    auto plan
        = planManifest(*parseJson(R"({"name":"","extra":{"kept":true},"id":5})"), "My Tool (2)!");
    ASSERT_TRUE(plan.ok());
    EXPECT_EQ(plan->id, "my-tool-2");
    EXPECT_EQ(plan->name, "my-tool-2");
    EXPECT_EQ(plan->permissions, allExtensionPermissionNames());
    EXPECT_EQ(plan->manifest["id"], "my-tool-2");
    EXPECT_EQ(plan->manifest["type"], "file");
    EXPECT_EQ(plan->manifest["extra"]["kept"], true);

    auto none = planManifest(*parseJson(R"({"permissions":[]})"), "x");
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none->permissions.empty());

    auto dup = planManifest(*parseJson(R"({"permissions":["ui","tabs","ui"]})"), "x");
    ASSERT_TRUE(dup.ok());
    EXPECT_EQ(dup->permissions, (std::vector<std::string> { "ui", "tabs", "ui" }));
}

TEST(ManifestPlan, PagePathPrefersEntryThenActionThenBrowserAction)
{
    struct Case {
        const char* manifest;
        std::optional<std::string> page;
    };
    const Case cases[] = {
        { R"({"entry":"a.html","action":{"default_popup":"b.html"}})", "a.html" },
        { R"({"entry":"","action":{"default_popup":"b.html"}})", "b.html" },
        { R"({"action":{"default_popup":""},"browser_action":{"default_popup":"c.html"}})",
            "c.html" },
        { R"({"action":"b.html","browser_action":{"default_popup":"c.html"}})", "c.html" },
        { R"({"entry":7})", std::nullopt },
    };
    for (const Case& c : cases)
        EXPECT_EQ(planManifest(*parseJson(c.manifest), "x")->pagePath, c.page) << c.manifest;
}

TEST(RuntimePage, ScriptSourceNamesTheCheckedFileAndIsEscaped)
{
    struct Case {
        const char* relative;
        const char* source;
    };
    const Case cases[] = {
        { "main.js", "main.js" },
        { "lib/main.js", "lib/main.js" },
        { "a#b.js", "a%23b.js" },
        { "x%41.js", "x%2541.js" },
        { "q?.js", "q%3F.js" },
        { "back\\slash.js", "back%5Cslash.js" },
        { "javascript:alert(1).js", "javascript%3Aalert(1).js" },
        { "say \"hi\".js", "say%20&quot;hi&quot;.js" },
        { "<b>&.js", "&lt;b&gt;&amp;.js" },
        { "caf\xC3\xA9.js", "caf%C3%A9.js" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(runtimeScriptSource(c.relative), c.source) << c.relative;
}

TEST(RuntimePage, FixedTextWithAndWithoutScript)
{
    const std::string head = "<!doctype html><html><head><meta charset=\"utf-8\"><title>Extension "
                             "Runtime</title></head><body><p>This Extension has no page UI.</p>";
    EXPECT_EQ(runtimePageHTML(std::nullopt), head + "</body></html>");
    EXPECT_EQ(runtimePageHTML(std::string("main.js")),
        head + "<script src=\"main.js\"></script></body></html>");
}

TEST(HTMLAttribute, EscapesAmpersandFirst)
{
    EXPECT_EQ(htmlEscaped("&quot;\"<>"), "&amp;quot;&quot;&lt;&gt;");
}

TEST_F(ExtensionFolder, FolderWithoutManifestTakesItsIDFromItsName)
{
    fs::path dir = makeExtension("My Tool (2)!", std::nullopt);
    auto record = extensionAtDirectory(dir);
    ASSERT_TRUE(record.ok()) << record.error();
    EXPECT_EQ(record->id(), "my-tool-2");
    EXPECT_EQ(record->name(), "my-tool-2");
    EXPECT_EQ(record->requestedPermissions(), allExtensionPermissionNames());
    EXPECT_EQ(record->rootURL, dir);
    ASSERT_TRUE(record->entryURL);
    EXPECT_EQ(*record->entryURL, dir / "__quivel_runtime__.html");
    EXPECT_NE(readFile(dir / "__quivel_runtime__.html").find("This Extension has no page UI."),
        std::string::npos);
}

TEST_F(ExtensionFolder, UnderscoreOnlyNameIsRejected)
{
    EXPECT_FALSE(extensionAtDirectory(makeExtension("____", std::nullopt)).ok());
}

TEST_F(ExtensionFolder, UpperCaseManifestIDIsRejectedNotRepaired)
{
    EXPECT_FALSE(extensionAtDirectory(makeExtension("x", R"({"id":"MyTool"})")).ok());
}

TEST_F(ExtensionFolder, MalformedOrHugeManifestIsRejected)
{
    EXPECT_EQ(extensionAtDirectory(makeExtension("a", "{oops")).error(),
        "manifest.json is not valid JSON.");
    EXPECT_EQ(extensionAtDirectory(makeExtension("b", "[]")).error(),
        "manifest.json must hold a JSON object.");
    std::string huge(kMaxManifestBytes + 1, ' ');
    EXPECT_EQ(extensionAtDirectory(makeExtension("c", huge)).error(),
        "manifest.json is larger than 1 MB.");
}

TEST_F(ExtensionFolder, UnknownPermissionRejectsTheExtension)
{
    EXPECT_FALSE(
        extensionAtDirectory(makeExtension("x", R"({"permissions":["tabs","camera"]})")).ok());
}

TEST_F(ExtensionFolder, EntryClimbingOutIsRejectedEvenWhenTheFileExists)
{
    writeFile(store() / "outside.html", "<p>out</p>");
    fs::path dir = makeExtension("x", R"({"entry":"../outside.html"})");
    auto record = extensionAtDirectory(dir);
    ASSERT_FALSE(record.ok());
    EXPECT_EQ(record.error(), "The page \"../outside.html\" is outside the extension folder.");
}

TEST_F(ExtensionFolder, EntryThroughALinkOutOfTheFolderIsRejected)
{
    writeFile(store() / "secret.html", "<p>secret</p>");
    fs::path dir = makeExtension("x", R"({"entry":"page.html"})");
    fs::create_symlink(store() / "secret.html", dir / "page.html");
    EXPECT_FALSE(extensionAtDirectory(dir).ok());
}

TEST_F(ExtensionFolder, MissingEntryOrScriptIsRejected)
{
    EXPECT_EQ(extensionAtDirectory(makeExtension("a", R"({"entry":"nope.html"})")).error(),
        "The page \"nope.html\" does not exist.");
    EXPECT_EQ(extensionAtDirectory(makeExtension("b", R"({"script":"nope.js"})")).error(),
        "The script \"nope.js\" does not exist.");
}

TEST_F(ExtensionFolder, EntryIsStandardizedInsideTheFolder)
{
    fs::path dir = makeExtension("x", R"({"entry":"./pages/../index.html"})");
    writeFile(dir / "index.html", "<p>hi</p>");
    auto record = extensionAtDirectory(dir);
    ASSERT_TRUE(record.ok()) << record.error();
    EXPECT_EQ(*record->entryURL, dir / "index.html");
}

TEST_F(ExtensionFolder, ScriptOnlyGetsARuntimePageLoadingIt)
{
    fs::path dir = makeExtension("x", R"({"script":"main.js"})");
    writeFile(dir / "main.js", "1");
    auto record = extensionAtDirectory(dir);
    ASSERT_TRUE(record.ok()) << record.error();
    EXPECT_NE(
        readFile(*record->entryURL).find("<script src=\"main.js\"></script>"), std::string::npos);
}

TEST_F(ExtensionFolder, ScriptWithQuoteIsWrittenEscaped)
{
    fs::path dir = makeExtension("x", R"({"script":"a\"b.js"})");
    writeFile(dir / "a\"b.js", "1");
    auto record = extensionAtDirectory(dir);
    ASSERT_TRUE(record.ok()) << record.error();
    EXPECT_NE(readFile(*record->entryURL).find("src=\"a&quot;b.js\""), std::string::npos);
}

TEST_F(ExtensionFolder, RuntimeScriptURLLoadsExactlyTheCheckedFile)
{
    struct Case {
        const char* manifestScript;
        const char* fileOnDisk;
        const char* source;
    };
    // A "#" would cut the URL, "%41" would name "xA.js", a leading "/" the file system root.
    const Case cases[] = {
        { "a#b.js", "a#b.js", "a%23b.js" },
        { "x%41.js", "x%41.js", "x%2541.js" },
        { "/main.js", "main.js", "main.js" },
        { "lib/../main.js", "main.js", "main.js" },
    };
    int n = 0;
    for (const Case& c : cases) {
        fs::path dir = makeExtension(
            "ext" + std::to_string(n++), Json { { "script", c.manifestScript } }.dump());
        writeFile(dir / c.fileOnDisk, "1");
        auto record = extensionAtDirectory(dir);
        ASSERT_TRUE(record.ok()) << c.manifestScript << ": " << record.error();
        EXPECT_NE(readFile(*record->entryURL).find(std::string("src=\"") + c.source + "\""),
            std::string::npos)
            << c.manifestScript;
    }
}

TEST_F(ExtensionFolder, ScriptOutsideTheFolderIsRejected)
{
    writeFile(store() / "evil.js", "1");
    EXPECT_FALSE(extensionAtDirectory(makeExtension("x", R"({"script":"../evil.js"})")).ok());
}

TEST_F(ExtensionFolder, NestedIndexHTMLInAnyCaseIsThePage)
{
    fs::path dir = makeExtension("x", R"({"id":"x"})");
    writeFile(dir / "docs" / "Index.HTML", "<p>docs</p>");
    fs::create_directories(dir / ".hidden");
    writeFile(dir / ".hidden" / "index.html", "<p>hidden</p>");
    auto record = extensionAtDirectory(dir);
    ASSERT_TRUE(record.ok()) << record.error();
    EXPECT_EQ(*record->entryURL, dir / "docs" / "Index.HTML");
}

TEST_F(ExtensionFolder, FolderNamedIndexHTMLIsNotAPage)
{
    fs::path dir = makeExtension("x", std::nullopt);
    fs::create_directories(dir / "index.html");
    auto record = extensionAtDirectory(dir);
    ASSERT_TRUE(record.ok()) << record.error();
    EXPECT_EQ(*record->entryURL, dir / "__quivel_runtime__.html");
}

TEST_F(ExtensionFolder, WebsiteExtensionIgnoresEntryAndScript)
{
    fs::path dir = makeExtension("x",
        R"({"type":"URL","url":"https://example.com/app",)"
        R"("entry":"missing.html","script":"no.js"})");
    auto record = extensionAtDirectory(dir);
    ASSERT_TRUE(record.ok()) << record.error();
    EXPECT_TRUE(record->isWebsite());
    EXPECT_EQ(record->manifest["type"], "url");
    EXPECT_EQ(record->websiteURL(), "https://example.com/app");
    EXPECT_FALSE(record->entryURL);
    EXPECT_FALSE(fs::exists(dir / "__quivel_runtime__.html"));
}

TEST_F(ExtensionFolder, WebsiteExtensionWithFtpAddressIsRejected)
{
    EXPECT_FALSE(
        extensionAtDirectory(makeExtension("x", R"({"type":"URL","url":"ftp://example.com"})"))
            .ok());
}

TEST_F(ExtensionFolder, DuplicateIDsLoadTheFirstAndLogOnce)
{
    makeExtension("a-first", R"({"id":"same","name":"First"})");
    makeExtension("b-second", R"({"id":"same","name":"Second"})");
    makeExtension(".hidden", R"({"id":"hidden"})");
    makeExtension("bad", R"({"id":"BAD"})");
    writeFile(store() / "loose-file", "x");
    ExtensionLoad load = loadExtensionRecords(store());
    ASSERT_EQ(load.extensions.size(), 1u);
    EXPECT_EQ(load.extensions.at("same").name(), "First");
    EXPECT_EQ(load.logLines,
        (std::vector<std::string> { "Duplicate Quivel Extension ID ignored: same" }));
}

TEST_F(ExtensionFolder, UnlistableStoreLogsAndLoadsNothing)
{
    ExtensionLoad load = loadExtensionRecords(store() / "does-not-exist");
    EXPECT_TRUE(load.extensions.empty());
    ASSERT_EQ(load.logLines.size(), 1u);
    EXPECT_EQ(load.logLines[0].rfind("Quivel Extensions directory unavailable: ", 0), 0u);
}

TEST(BundledExtensions, CopyDecision)
{
    FileRead deletedManifest { ReadStatus::Ok, R"({"id":"gone"})", "" };
    FileRead otherManifest { ReadStatus::Ok, R"({"id":"kept"})", "" };
    FileRead brokenManifest { ReadStatus::Ok, "{", "" };
    FileRead noManifest { ReadStatus::Missing, "", "" };
    std::set<ExtensionID> deleted { "gone" };
    EXPECT_EQ(bundledCopyDecision(deletedManifest, deleted, false), BundledCopy::SkipDeleted);
    EXPECT_EQ(bundledCopyDecision(otherManifest, deleted, false), BundledCopy::Copy);
    EXPECT_EQ(bundledCopyDecision(otherManifest, deleted, true), BundledCopy::SkipExisting);
    EXPECT_EQ(bundledCopyDecision(brokenManifest, deleted, false), BundledCopy::Copy);
    EXPECT_EQ(bundledCopyDecision(noManifest, deleted, false), BundledCopy::Copy);
}

TEST(BundledExtensions, DeletedOnesAreNotCopiedBackAndEditedCopiesSurvive)
{
    TempDir temp;
    fs::path bundled = temp.path() / "bundled";
    fs::path store = temp.path() / "store";
    writeFile(bundled / "gone" / "manifest.json", R"({"id":"gone"})");
    writeFile(bundled / "fresh" / "manifest.json", R"({"id":"fresh"})");
    writeFile(bundled / "fresh" / "index.html", "new");
    writeFile(bundled / "edited" / "index.html", "shipped");
    writeFile(store / "edited" / "index.html", "user's edit");
    copyBundledExtensions(bundled, store, { "gone" });
    EXPECT_FALSE(fs::exists(store / "gone"));
    EXPECT_EQ(readFile(store / "fresh" / "index.html"), "new");
    EXPECT_EQ(readFile(store / "edited" / "index.html"), "user's edit");
}

TEST(EnabledExtensions, RestoredFromTheDefaultsArray)
{
    EXPECT_EQ(extensionIDSetFromDefaults(*parseJson(R"(["b","a",3,"a"])")),
        (std::set<ExtensionID> { "a", "b" }));
    EXPECT_TRUE(extensionIDSetFromDefaults(Json()).empty());
    EXPECT_TRUE(extensionIDSetFromDefaults(*parseJson(R"({"a":1})")).empty());
    EXPECT_EQ(extensionIDSetToDefaults({ "b", "a" }), *parseJson(R"(["a","b"])"));
}

TEST(GrantedPermissions, HasPermissionNeedsRequestAndGrant)
{
    ExtensionRecord record;
    record.manifest = { { "id", "x" }, { "permissions", { "tabs", "ui" } } };
    Json dictionary = *parseJson(R"({"x":["tabs","network"],"y":"junk"})");
    auto granted = grantedPermissionsFromDefaults(dictionary, "x");
    EXPECT_TRUE(extensionHasPermission(record, granted, "tabs"));
    EXPECT_FALSE(extensionHasPermission(record, granted, "ui")); // requested, not granted
    EXPECT_FALSE(extensionHasPermission(record, granted, "network")); // granted, not requested
    EXPECT_TRUE(grantedPermissionsFromDefaults(dictionary, "y").empty());
    EXPECT_EQ(missingPermissions(record, granted), (std::vector<std::string> { "ui" }));
}

TEST(GrantedPermissions, PromptAddsOnlyMissingNames)
{
    ExtensionRecord record;
    record.manifest = { { "id", "x" }, { "permissions", { "tabs", "ui", "tabs", "page" } } };
    auto missing = missingPermissions(record, { "ui" });
    EXPECT_EQ(missing, (std::vector<std::string> { "tabs", "tabs", "page" }));
    Json updated = withGrantedPermissions(*parseJson(R"({"x":["ui"]})"), "x", missing);
    EXPECT_EQ(updated["x"], *parseJson(R"(["ui","tabs","page"])"));
    EXPECT_EQ(permissionPromptMessage("Weather"), "Allow Weather to use browser permissions?");
    EXPECT_EQ(permissionPromptInformativeText(missing).rfind(
                  "Requested permissions: tabs, tabs, page\n\nNetwork can send", 0),
        0u);
    EXPECT_FALSE(withoutPermissions(updated, "x").contains("x"));
}

TEST(FileURLs, RoundTripAndContainment)
{
    EXPECT_EQ(fileURLFromPath("/a b/c#d.html"), "file:///a%20b/c%23d.html");
    EXPECT_EQ(pathFromFileURL("file:///a%20b/c%23d.html?x#y"), fs::path("/a b/c#d.html"));
    EXPECT_EQ(pathFromFileURL("file://localhost/x"), fs::path("/x"));
    EXPECT_FALSE(pathFromFileURL("file://evil.example/x"));
    EXPECT_FALSE(pathFromFileURL("https://example.com/x"));
    EXPECT_FALSE(pathFromFileURL("file:///a%00b"));
    EXPECT_TRUE(isPathInsideOrEqual("/ext/a", "/ext/a"));
    EXPECT_TRUE(isPathInsideOrEqual("/ext/a/x/../y", "/ext/a/"));
    EXPECT_FALSE(isPathInsideOrEqual("/ext/ab", "/ext/a"));
    EXPECT_FALSE(isPathInsideOrEqual("/ext/a/../b", "/ext/a"));
    EXPECT_FALSE(isPathStrictlyInside("/ext/a", "/ext/a"));
}

TEST(HTTPURLs, NeedHttpOrHttpsAndAHost)
{
    struct Case {
        const char* url;
        bool ok;
    };
    const Case cases[] = {
        { "https://example.com", true },
        { "HTTP://Example.com:8080/x?y#z", true },
        { "http://user@[::1]:80/", true },
        { "ftp://example.com", false },
        { "https://", false },
        { "https:///path", false },
        { "example.com", false },
        { "https://exa mple.com", false },
        { "file:///etc/passwd", false },
        { "", false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(isHTTPURLWithHost(c.url), c.ok) << c.url;
}

} // namespace qv
