// The local copy's download phase: bounded streaming transfers over libsoup on the main context.
#pragma once

#include "devtools/local_copy_cookies.h"
#include "devtools/local_copy_rules.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qv {

struct LocalCopyRequestHeaders {
    std::string userAgent; // empty: libsoup's own
    std::string referer; // the page's address: each request's site is judged against it
    std::vector<CookieRecord> cookies; // all of the tab's; each request gets its own matches
};

// Downloads every listed http(s) resource with its own cookies, a few at a time. A transfer
// stops as soon as its body passes 8 MB; none starts or goes on once the 50 MB total would be
// passed; each gives up after 25 seconds. Callbacks run on the main context. Destroying the
// downloader, or cancel(), stops every transfer and no callback runs after that.
class LocalCopyDownloader {
public:
    using Progress = std::function<void(const LocalCopyDownloads&)>;
    // Once, when every transfer has completed; the accounting (bodies, failures) is handed over.
    using Finished = std::function<void(LocalCopyDownloads)>;

    LocalCopyDownloader(const std::vector<SourceResource>& resources,
        LocalCopyRequestHeaders headers, Progress progress, Finished finished);
    ~LocalCopyDownloader();
    LocalCopyDownloader(const LocalCopyDownloader&) = delete;
    LocalCopyDownloader& operator=(const LocalCopyDownloader&) = delete;

    void start();
    void cancel();
    bool running() const;
    // Transfers in flight now (tests watch a cancel empty it).
    std::size_t activeTransfers() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace qv
