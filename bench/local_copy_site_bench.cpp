// Copying a generated 200-file site from a local server: the browser's local copy (bounded
// streaming downloads that follow what each file names, link rewriting, writing) beside
// `wget -p -k -E` on the same site, with every file wget fetches checked to be in the copy.
#include "devtools/local_copy_download.h"
#include "base/new_folder.h"
#include "devtools/local_copy_rules.h"

#include <benchmark/benchmark.h>
#include <glib.h>
#include <libsoup/soup.h>

#include <filesystem>
#include <future>
#include <thread>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using qv::SourceResource;

struct Site {
    std::map<std::string, std::pair<std::string, std::string>> files; // path -> type, body
    std::vector<std::string> resourcePaths; // in the page's order, the page first
};

std::string filler(std::size_t bytes, char seed)
{
    std::string text;
    for (std::size_t i = 0; text.size() < bytes; ++i)
        text += static_cast<char>('a' + (seed + i * 7) % 26);
    return text;
}

// One page and 199 files under nested folders, most of them named only by other files: 20
// linked style sheets, each pulling in a part by @import, both with url() images; 10 module
// scripts, each importing a helper and loading another module on demand; images with srcset
// candidates the page would not choose. wget reads none of the scripts.
Site makeSite()
{
    Site site;
    std::string head;
    std::string body;
    std::vector<std::string> images;
    for (int i = 0; i < 129; ++i) {
        std::string path = "/media/img/" + std::to_string(i % 4) + "/" + std::to_string(i % 3)
            + "/pic-" + std::to_string(i) + ".png";
        std::string png = "\x89PNG\r\n\x1a\n" + filler(8000, static_cast<char>(i));
        site.files[path] = { "image/png", png };
        images.push_back(path);
    }
    std::size_t image = 0;
    auto relativeImage = [&](const std::string& from) {
        // From /assets/css/N/ (or its parts/ folder) up to the root.
        return std::string(from.find("/parts/") != std::string::npos ? "../../../.." : "../../..")
            + images[image++];
    };
    for (int i = 0; i < 20; ++i) {
        std::string folder = "/assets/css/" + std::to_string(i % 5) + "/";
        std::string path = folder + "style-" + std::to_string(i) + ".css";
        std::string part = folder + "parts/part-" + std::to_string(i) + ".css";
        site.files[path] = { "text/css",
            "@import \"parts/part-" + std::to_string(i) + ".css\";\n.c" + std::to_string(i)
                + " { background: url(" + relativeImage(path) + "); }\n/* "
                + filler(2000, static_cast<char>(i)) + " */\n" };
        site.files[part] = { "text/css",
            ".p" + std::to_string(i) + " { background-image: url('" + images[image++] + "'); }\n"
                + ".q" + std::to_string(i) + " { background-image: url(\"" + relativeImage(part)
                + "\"); }\n" };
        head += "<link rel=\"stylesheet\" href=\"" + path + "\">\n";
    }
    for (int i = 0; i < 10; ++i) {
        std::string n = std::to_string(i);
        std::string path = "/assets/js/app-" + n + ".js";
        site.files[path] = { "application/javascript",
            "import { helper } from './lib/helper-" + n + ".js';\nwindow.later" + n + " = () => import('./lazy/lazy-" + n
                + ".js');\n// " + filler(4000, static_cast<char>(i)) + "\n" };
        site.files["/assets/js/lib/helper-" + n + ".js"] = { "application/javascript",
            "export const helper = " + n + ";\n" };
        site.files["/assets/js/lazy/lazy-" + n + ".js"] = { "application/javascript",
            "export default 'lazy " + n + "';\n" };
        body += "<script type=\"module\" src=\"" + path + "\"></script>\n";
    }
    // The rest: pictures with a chosen source and another srcset candidate, then plain ones.
    while (image < images.size()) {
        std::string src = images[image++];
        if (image < images.size() && image % 2 == 0)
            body += "<img src=\"" + src + "\" srcset=\"" + src + " 1x, " + images[image++]
                + " 2x\">\n";
        else
            body += "<img src=\"" + src + "\">\n";
    }
    site.files["/index.html"] = { "text/html; charset=utf-8",
        "<!doctype html><html><head><title>Bench</title>\n" + head + "</head><body>\n" + body
            + "</body></html>\n" };
    // The copy starts from the page alone and finds the rest in what arrives.
    site.resourcePaths.push_back("/index.html");
    return site;
}

// Serves on a thread of its own, so that neither client shares a thread with the server: wget
// runs in a process of its own, and the browser's copy runs on the bench's main loop.
class SiteServer {
public:
    explicit SiteServer(const Site& site)
        : m_site(site)
    {
        std::promise<int> port;
        auto ready = port.get_future();
        m_thread = std::thread([this, &port] {
            GMainContext* context = g_main_context_new();
            g_main_context_push_thread_default(context);
            m_loop = g_main_loop_new(context, FALSE);
            SoupServer* server = soup_server_new(nullptr, nullptr);
            GError* error = nullptr;
            soup_server_listen_local(server, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, &error);
            if (error)
                g_error_free(error);
            GSList* uris = soup_server_get_uris(server);
            port.set_value(uris ? g_uri_get_port(static_cast<GUri*>(uris->data)) : 0);
            g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
            soup_server_add_handler(server, nullptr, &SiteServer::handle, this, nullptr);
            g_main_loop_run(m_loop);
            g_object_unref(server);
            g_main_loop_unref(m_loop);
            g_main_context_pop_thread_default(context);
            g_main_context_unref(context);
        });
        m_port = ready.get();
    }
    ~SiteServer()
    {
        g_main_loop_quit(m_loop);
        m_thread.join();
    }

    std::string url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }

private:
    static void handle(
        SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data)
    {
        auto* self = static_cast<SiteServer*>(data);
        auto file = self->m_site.files.find(path ? path : "/");
        if (file == self->m_site.files.end()) {
            soup_server_message_set_status(message, 404, nullptr);
            return;
        }
        soup_server_message_set_status(message, 200, nullptr);
        soup_server_message_set_response(message, file->second.first.c_str(), SOUP_MEMORY_COPY,
            file->second.second.data(), file->second.second.size());
    }

    const Site& m_site;
    std::thread m_thread;
    GMainLoop* m_loop = nullptr; // set before the port is known
    int m_port = 0;
};

const Site& site()
{
    static const Site generated = makeSite();
    return generated;
}

SiteServer& server()
{
    static SiteServer running(site());
    return running;
}

std::set<std::string> filesBelow(const fs::path& folder)
{
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            files.insert(entry.path().lexically_relative(folder).generic_string());
    }
    return files;
}

// `wget -p -k -E` of the page into a new folder; false when it could not run.
bool runWget(const fs::path& folder)
{
    std::string url = server().url("/index.html");
    const char* argv[] = { "/usr/bin/wget", "-q", "--no-proxy", "-e", "use_proxy=no", "-p", "-k",
        "-E", "-nH", "-P", folder.c_str(), url.c_str(), nullptr };
    GPid pid = 0;
    if (!g_spawn_async(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_DO_NOT_REAP_CHILD,
            nullptr, nullptr, &pid, nullptr))
        return false;
    bool exited = false;
    g_child_watch_add(
        pid,
        +[](GPid child, gint, gpointer data) {
            g_spawn_close_pid(child);
            *static_cast<bool*>(data) = true;
        },
        &exited);
    while (!exited)
        g_main_context_iteration(nullptr, TRUE);
    return true;
}

fs::path freshFolder(const char* name)
{
    static const fs::path root = [] {
        std::string pattern = (fs::temp_directory_path() / "quivel-bench-XXXXXX").string();
        return fs::path(g_mkdtemp(pattern.data()));
    }();
    fs::path folder = root / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

void BM_BrowserLocalCopy(benchmark::State& state)
{
    std::vector<SourceResource> resources;
    for (const std::string& path : site().resourcePaths)
        resources.push_back({ server().url(path), "html" });
    std::string page = server().url("/index.html");
    std::set<std::string> written;
    for (auto _ : state) {
        fs::path folder = freshFolder("quivel-bench-copy");
        bool done = false;
        std::size_t failures = 0;
        qv::LocalCopyDownloader downloader(
            resources, { "", page, {} }, nullptr, [&](qv::LocalCopyDownloads downloads) {
                auto copy = qv::NewFolder::createInside(folder, "copy");
                if (!copy) {
                    failures = 1;
                    done = true;
                    return;
                }
                auto files = qv::localCopyFiles(
                    downloads.transfers(), downloads.bodies(), page, copy->path());
                failures
                    = downloads.failures().count() + qv::writeLocalCopyFiles(files, copy.value()).count();
                done = true;
            });
        downloader.start();
        while (!done)
            g_main_context_iteration(nullptr, TRUE);
        written = filesBelow(folder / "copy");
        if (failures)
            state.SkipWithError("some files failed");
    }
    // Everything wget fetches must be in the copy (checked outside the timing).
    fs::path wget = freshFolder("quivel-bench-wget-check");
    if (!runWget(wget)) {
        state.SkipWithError("wget could not start");
        return;
    }
    std::size_t missing = 0;
    for (const std::string& file : filesBelow(wget))
        missing += written.count(file) ? 0 : 1;
    state.counters["resources"] = static_cast<double>(written.size());
    state.counters["missing_vs_wget"] = static_cast<double>(missing);
    if (missing)
        state.SkipWithError("the copy lacks files wget fetched");
}

void BM_WgetPageRequisites(benchmark::State& state)
{
    std::size_t written = 0;
    for (auto _ : state) {
        fs::path folder = freshFolder("quivel-bench-wget");
        if (!runWget(folder)) {
            state.SkipWithError("wget could not start");
            return;
        }
        written = filesBelow(folder).size();
    }
    state.counters["resources"] = static_cast<double>(written);
}

BENCHMARK(BM_BrowserLocalCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_WgetPageRequisites)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

} // namespace

BENCHMARK_MAIN();
