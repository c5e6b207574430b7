// The copy scheme's handler, tokens and marks; files are read on a worker thread.
#include "devtools/local_copy_scheme.h"

#include "app/shell.h"
#include "app/web_views.h"
#include "base/url.h"
#include "base/user_defaults.h"

#include <libsoup/soup.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kKeyBytes = 32;
constexpr off_t kMaxMarkBytes = 512;
// Pages of a copy run their own scripts and styles and load nothing from anywhere else.
constexpr const char* kContentPolicy
    = "default-src 'self' 'unsafe-inline' 'unsafe-eval' data: blob:";

std::string randomHex(std::size_t bytes)
{
    std::string raw(bytes, '\0');
    std::size_t filled = 0;
    while (filled < bytes) {
        ssize_t got = getrandom(raw.data() + filled, bytes - filled, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return {};
        filled += static_cast<std::size_t>(got);
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : raw) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

bool isKey(const std::string& key)
{
    return key.size() == 2 * kKeyBytes
        && key.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// Opens one name below `at` without following a link, without waiting on a pipe.
int openBelow(int at, const std::string& name, int flags)
{
    return openat(at, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | flags);
}

} // namespace

// A copy folder of this run, held open so that a later swap of its path changes nothing.
struct LocalCopyScheme::Root {
    fs::path path;
    std::string token;
    int fd = -1;
    ~Root()
    {
        if (fd >= 0)
            close(fd);
    }
};

namespace {

// The process registers the scheme once; the live service, if any, answers its requests.
LocalCopyScheme* g_current = nullptr;

struct ServeJob {
    std::shared_ptr<LocalCopyScheme::Root> root;
    std::vector<std::string> names;
};

// A regular file strictly below the root, by names, none of them a link; at most the limit.
GBytes* readServedFile(const ServeJob& job, GError** error)
{
    int at = job.root->fd;
    int fd = -1;
    for (std::size_t i = 0; i < job.names.size(); ++i) {
        bool last = i + 1 == job.names.size();
        int next = openBelow(at, job.names[i], last ? 0 : O_DIRECTORY);
        if (at != job.root->fd)
            close(at);
        if (next < 0) {
            g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "Not found");
            return nullptr;
        }
        if (last)
            fd = next;
        else
            at = next;
    }
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)
        || static_cast<std::uintmax_t>(info.st_size) > kMaxLocalCopyServedBytes) {
        if (fd >= 0)
            close(fd);
        g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "Not found");
        return nullptr;
    }
    std::string contents;
    char buffer[65536];
    while (true) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || contents.size() + static_cast<std::size_t>(got) > kMaxLocalCopyServedBytes) {
            close(fd);
            g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_FAILED, "Read failed");
            return nullptr;
        }
        if (got == 0)
            break;
        contents.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    auto* kept = new std::string(std::move(contents));
    return g_bytes_new_with_free_func(kept->data(), kept->size(),
        [](gpointer data) { delete static_cast<std::string*>(data); }, kept);
}

void finishServed(WebKitURISchemeRequest* request, GBytes* bytes, const std::string& name)
{
    GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
    WebKitURISchemeResponse* response
        = webkit_uri_scheme_response_new(stream, static_cast<gint64>(g_bytes_get_size(bytes)));
    webkit_uri_scheme_response_set_status(response, 200, nullptr);
    std::string type(localCopyMimeType(name));
    webkit_uri_scheme_response_set_content_type(response, type.c_str());
    // The headers replace the response's own, its type included.
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    soup_message_headers_append(headers, "Content-Type", type.c_str());
    soup_message_headers_append(headers, "Content-Security-Policy", kContentPolicy);
    soup_message_headers_append(headers, "Referrer-Policy", "no-referrer");
    soup_message_headers_append(headers, "X-Content-Type-Options", "nosniff");
    // An edit saved into the copy shows on the next preview.
    soup_message_headers_append(headers, "Cache-Control", "no-store");
    webkit_uri_scheme_response_set_http_headers(response, headers);
    webkit_uri_scheme_request_finish_with_response(request, response);
    g_object_unref(response);
    g_object_unref(stream);
}

void refuse(WebKitURISchemeRequest* request)
{
    GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "Not found");
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
}

} // namespace

LocalCopyScheme::LocalCopyScheme(Shell& shell)
    : m_shell(shell)
{
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::string scheme(kLocalCopyScheme);
        WebKitWebContext* context = webkit_web_context_get_default();
        webkit_web_context_register_uri_scheme(
            context, scheme.c_str(), &LocalCopyScheme::handleRequest, nullptr, nullptr);
        WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
        // Module scripts are CORS requests; only the copy's own pages may show its files.
        webkit_security_manager_register_uri_scheme_as_secure(security, scheme.c_str());
        webkit_security_manager_register_uri_scheme_as_cors_enabled(security, scheme.c_str());
        webkit_security_manager_register_uri_scheme_as_display_isolated(security, scheme.c_str());
    }
    g_current = this;
}

LocalCopyScheme::~LocalCopyScheme()
{
    if (g_current == this)
        g_current = nullptr;
}

void LocalCopyScheme::handleRequest(WebKitURISchemeRequest* request, gpointer)
{
    if (!g_current) {
        refuse(request);
        return;
    }
    g_current->serve(request);
}

void LocalCopyScheme::serve(WebKitURISchemeRequest* request)
{
    const char* uri = webkit_uri_scheme_request_get_uri(request);
    auto parsed = uri ? parseLocalCopyRequest(uri) : std::nullopt;
    auto root = parsed ? m_rootsByToken.find(parsed->token) : m_rootsByToken.end();
    if (root == m_rootsByToken.end()) {
        refuse(request);
        return;
    }
    std::string name = parsed->names.back();
    struct Served {
        GBytes* bytes = nullptr;
        GError* error = nullptr;
    };
    runInBackground<Served>(
        [job = ServeJob { root->second, std::move(parsed->names) }] {
            Served served;
            served.bytes = readServedFile(job, &served.error);
            return served;
        },
        [request = GObjectPtr<WebKitURISchemeRequest>::retain(request), name](Served served) {
            if (served.bytes) {
                finishServed(request.get(), served.bytes, name);
                g_bytes_unref(served.bytes);
            } else {
                webkit_uri_scheme_request_finish_error(request.get(), served.error);
                g_error_free(served.error);
            }
        });
}

std::string LocalCopyScheme::markKey()
{
    std::string key = m_shell.defaults().stringForKey(kLocalCopyMarkKey);
    if (isKey(key))
        return key;
    key = randomHex(kKeyBytes);
    if (!key.empty())
        m_shell.setDefaultsValue(kLocalCopyMarkKey, Json(key));
    return key;
}

bool LocalCopyScheme::isMarkedRoot(const fs::path& folder, const std::string& key) const
{
    // A few bytes of one small file per folder looked at: no wait worth a thread.
    int fd = open((folder / std::string(kLocalCopyMarkName)).c_str(),
        O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat info {};
    std::string text;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxMarkBytes) {
        text.resize(static_cast<std::size_t>(info.st_size));
        ssize_t got = read(fd, text.data(), text.size());
        text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    close(fd);
    return !text.empty() && text == localCopyMarkText(key, folder);
}

std::optional<std::string> LocalCopyScheme::addressForFileURL(std::string_view url)
{
    // Without a key no copy was ever made here: nothing to look at on disk.
    std::string key = m_shell.defaults().stringForKey(kLocalCopyMarkKey);
    auto path = isKey(key) ? pathFromFileURL(url) : std::nullopt;
    if (!path)
        return std::nullopt;
    std::error_code ec;
    fs::path real = fs::canonical(*path, ec);
    if (ec || !fs::is_regular_file(real, ec))
        return std::nullopt;
    auto location = localCopyLocation(
        real, [&](const fs::path& folder) { return isMarkedRoot(folder, key); });
    if (!location)
        return std::nullopt;
    std::shared_ptr<Root>& root = m_rootsByPath[location->root];
    if (!root) {
        int fd = open(location->root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        std::string token = randomHex(kLocalCopyTokenLength / 2);
        if (fd < 0 || token.empty()) {
            if (fd >= 0)
                close(fd);
            m_rootsByPath.erase(location->root);
            return std::nullopt;
        }
        root = std::make_shared<Root>();
        root->path = location->root;
        root->token = token;
        root->fd = fd;
        m_rootsByToken[token] = root;
    }
    std::string address = localCopySchemeURL(root->token, location->names);
    auto parts = parseURL(url, URLSyntax::Loose);
    if (parts && parts->fragment)
        address += "#" + *parts->fragment;
    return address;
}

std::string LocalCopyScheme::lastingAddress(std::string_view url) const
{
    auto request = parseLocalCopyRequest(url);
    auto root = request ? m_rootsByToken.find(request->token) : m_rootsByToken.end();
    if (root == m_rootsByToken.end())
        return std::string(url);
    fs::path file = root->second->path;
    for (const std::string& name : request->names)
        file /= name;
    return fileURLFromPath(file);
}

std::string localCopyMarkText(std::string_view key, const fs::path& root)
{
    std::string path = root.string();
    char* digest = g_compute_hmac_for_data(G_CHECKSUM_SHA256,
        reinterpret_cast<const guchar*>(key.data()), key.size(),
        reinterpret_cast<const guchar*>(path.data()), path.size());
    std::string text = "Quivel local copy\n" + std::string(digest ? digest : "") + "\n";
    g_free(digest);
    return text;
}

} // namespace qv
