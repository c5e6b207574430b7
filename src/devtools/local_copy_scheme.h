// The "quivel-copy" scheme: serves the files of marked local copies to their own pages.
#pragma once

#include "devtools/local_copy_scheme_rules.h"

#include <webkit/webkit.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

class Shell;

// A file page has no origin, so the engine refuses its module scripts. Inside a copy this
// browser made and marked, the same path is loaded through this scheme instead: each copy
// folder gets a random token for this run, its pages are one origin and load only from it.
class LocalCopyScheme {
public:
    explicit LocalCopyScheme(Shell& shell);
    ~LocalCopyScheme();
    LocalCopyScheme(const LocalCopyScheme&) = delete;
    LocalCopyScheme& operator=(const LocalCopyScheme&) = delete;

    // The copy address for a file address inside a marked copy; nothing for any other address.
    std::optional<std::string> addressForFileURL(std::string_view url);
    // The address a page is known by beyond this run: for a copy address, the file address it
    // stands for (its token lasts one run); any other address as it is.
    std::string lastingAddress(std::string_view url) const;
    // The key marks are made with, made and stored on first use.
    std::string markKey();

    struct Root;

private:
    bool isMarkedRoot(const std::filesystem::path& folder, const std::string& key) const;
    void serve(WebKitURISchemeRequest* request);
    static void handleRequest(WebKitURISchemeRequest* request, gpointer data);

    Shell& m_shell;
    std::map<std::filesystem::path, std::shared_ptr<Root>> m_rootsByPath;
    std::map<std::string, std::shared_ptr<Root>, std::less<>> m_rootsByToken;
};

// The mark written into the copy folder at `root` (its path without links): a keyed digest of
// the path, so a folder that holds a mark it did not get from this browser is not a copy.
std::string localCopyMarkText(std::string_view key, const std::filesystem::path& root);

} // namespace qv
