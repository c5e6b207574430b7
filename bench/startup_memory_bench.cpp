// Start-up time, page-load time and memory of the real browser against a bare web view.
// Run under Xvfb: bash scripts/xvfb.sh ./build/bench/startup_memory_bench
// [--only=startup,loads,probe,bare,cmdline,session] [--baseline=OTHER_BROWSER_EXE];
// QV_BENCH_NO_BUS=1 launches without a session bus.
// Everything is observed from outside the browser: windows and titles through X, page loads
// through the local server, memory through /proc.
#include "process_tree.h"

#include "platform/renderer_choice.h"
#include "session/session_file.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <libsoup/soup.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using qv::bench::TreeMemory;

constexpr int kStartupRuns = 11;
constexpr int kLoadRuns = 5;
constexpr int kTabs = 20;
constexpr int kLazyTabs = 19;
constexpr auto kSettle = 3s;
// Memory of tabs opened from the command line is read this long after launch.
constexpr auto kCommandLineSettle = 15s;
constexpr int kCommandLineRounds = 3;
// A restored session: this many tabs over three profiles, each with a back/forward list of
// about this size (not one the engine can read, which only the selected tab would need).
constexpr int kSessionTabs = 500;
constexpr size_t kSessionStateBytes = 2048;
constexpr int kSessionMemoryRounds = 3;
constexpr unsigned kWatchdogSeconds = 900;
constexpr const char* kBrowserTitle = "Quivel Browser";
constexpr const char* kBareTitle = "Bare WebView";

// The browser under test; QV_BENCH_BROWSER names another build, to compare two in one sitting.
const char* browserExe()
{
    const char* other = std::getenv("QV_BENCH_BROWSER");
    return other && *other ? other : QV_BROWSER_EXE;
}

// CPU time (user and system) of a process and its descendants, in clock ticks.
long long treeCpuTicks(pid_t root)
{
    long long ticks = 0;
    for (pid_t pid : qv::bench::processTree(root)) {
        std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
        if (!f)
            continue;
        char line[1024];
        size_t n = std::fread(line, 1, sizeof line - 1, f);
        std::fclose(f);
        line[n] = 0;
        // Fields after the command name, which may hold spaces, start after its ')'.
        const char* at = std::strrchr(line, ')');
        unsigned long long utime = 0, stime = 0;
        if (at && std::sscanf(at + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
                      &utime, &stime) == 2)
            ticks += static_cast<long long>(utime + stime);
    }
    return ticks;
}

double millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
double mebibytes(long kib) { return static_cast<double>(kib) / 1024.0; }

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Children the watchdog kills if the run overstays; slots are cleared when a child is reaped.
constexpr int kMaxLiveChildren = 32;
volatile pid_t g_liveChildren[kMaxLiveChildren];

void killLiveChildren()
{
    for (int i = 0; i < kMaxLiveChildren; ++i) {
        if (pid_t pid = g_liveChildren[i]; pid > 0) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
        }
    }
}

void onFatalSignal(int)
{
    const char message[] = "startup_memory_bench: time-out or interrupt, killing children\n";
    ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
    (void)ignored;
    killLiveChildren();
    _exit(3);
}

void rememberChild(pid_t pid)
{
    for (int i = 0; i < kMaxLiveChildren; ++i) {
        if (g_liveChildren[i] == 0) {
            g_liveChildren[i] = pid;
            return;
        }
    }
}

void forgetChild(pid_t pid)
{
    for (int i = 0; i < kMaxLiveChildren; ++i)
        if (g_liveChildren[i] == pid)
            g_liveChildren[i] = 0;
}

// The local server: the test page (its title carries the "n" query value, and its load
// handler reports back on /loaded) and a count of requests meant for anywhere else.
class LocalServer {
public:
    struct Beacon {
        std::string n;
        Clock::time_point at;
    };

    LocalServer()
    {
        m_server = soup_server_new("server-header", "QuivelBench", nullptr);
        GInetAddress* loopback = g_inet_address_new_from_string("127.0.0.1");
        GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
        GError* error = nullptr;
        soup_server_listen(m_server, address, static_cast<SoupServerListenOptions>(0), &error);
        g_object_unref(address);
        g_object_unref(loopback);
        if (error) {
            std::fprintf(stderr, "cannot listen on 127.0.0.1: %s\n", error->message);
            g_error_free(error);
            return;
        }
        GSList* uris = soup_server_get_uris(m_server);
        if (uris)
            m_port = static_cast<unsigned>(g_uri_get_port(static_cast<GUri*>(uris->data)));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
        soup_server_add_handler(m_server, nullptr, &LocalServer::handle, this, nullptr);
    }
    ~LocalServer()
    {
        soup_server_disconnect(m_server);
        g_object_unref(m_server);
    }
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    unsigned port() const { return m_port; }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    std::string pageURL() const { return origin() + "/page.html"; }

    std::vector<Beacon> beacons;
    int foreignRequests = 0;

    std::optional<Clock::time_point> beaconFor(const std::string& n) const
    {
        for (const auto& beacon : beacons)
            if (beacon.n == n)
                return beacon.at;
        return std::nullopt;
    }

private:
    static std::string pageBody(const std::string& n)
    {
        std::string body = "<!doctype html><html><head><meta charset=\"utf-8\"><title>Bench Page " + n
            + "</title><style>body{font:16px sans-serif;margin:2em;max-width:50em}"
              "td{border:1px solid #999;padding:2px 6px}</style></head><body><h1>Bench Page "
            + n + "</h1>";
        for (int i = 0; i < 20; ++i)
            body += "<p>Paragraph " + std::to_string(i)
                + ": the quick brown fox jumps over the lazy dog, and a <a href=\"#p" + std::to_string(i)
                + "\">link</a> leads nowhere in particular.</p>";
        body += "<table>";
        for (int row = 0; row < 10; ++row) {
            body += "<tr>";
            for (int column = 0; column < 5; ++column)
                body += "<td>" + std::to_string(row * 5 + column) + "</td>";
            body += "</tr>";
        }
        char* escaped = g_uri_escape_string(n.c_str(), nullptr, FALSE);
        body += "</table><script>addEventListener('load', function () { fetch('/loaded?n="
            + std::string(escaped) + "', { cache: 'no-store' }); });</script></body></html>";
        g_free(escaped);
        return body;
    }

    static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable* query,
        gpointer data)
    {
        auto* self = static_cast<LocalServer*>(data);
        std::string method = soup_server_message_get_method(message);
        GUri* uri = soup_server_message_get_uri(message);
        const char* host = uri ? g_uri_get_host(uri) : nullptr;
        std::string p = path ? path : "";
        const char* n = query ? static_cast<const char*>(g_hash_table_lookup(query, "n")) : nullptr;
        SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
        soup_message_headers_append(headers, "Cache-Control", "no-store");
        // The children's proxy points here, so anything not for 127.0.0.1 stays on this machine.
        if (method == "CONNECT" || (host && std::strcmp(host, "127.0.0.1") != 0)) {
            self->foreignRequests++;
            soup_server_message_set_status(message, 403, nullptr);
            return;
        }
        if (p == "/page.html") {
            std::string body = pageBody(n ? n : "");
            soup_server_message_set_status(message, 200, nullptr);
            soup_server_message_set_response(message, "text/html; charset=utf-8", SOUP_MEMORY_COPY,
                body.data(), body.size());
        } else if (p == "/loaded") {
            self->beacons.push_back({ n ? n : "", Clock::now() });
            soup_server_message_set_status(message, 204, nullptr);
        } else {
            soup_server_message_set_status(message, 404, nullptr);
        }
    }

    SoupServer* m_server = nullptr;
    unsigned m_port = 0;
};

// What X tells us: top-level windows being mapped, their titles changing, keys reaching them.
class XObserver {
public:
    struct Mapped {
        Window window;
        pid_t pid;
        std::string title;
        Clock::time_point at;
    };
    struct Title {
        Window window;
        std::string title;
        Clock::time_point at;
    };
    struct Key {
        KeySym symbol;
        Clock::time_point at;
    };

    bool open()
    {
        m_display = XOpenDisplay(nullptr);
        if (!m_display)
            return false;
        // Windows can vanish between an event and our question about them.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        m_root = DefaultRootWindow(m_display);
        m_pidAtom = XInternAtom(m_display, "_NET_WM_PID", False);
        m_nameAtom = XInternAtom(m_display, "_NET_WM_NAME", False);
        m_utf8Atom = XInternAtom(m_display, "UTF8_STRING", False);
        XSelectInput(m_display, m_root, SubstructureNotifyMask);
        // Raw key events reach every client that asks, whichever window has the focus; core
        // key events stop at the toolkit's own input selection.
        int event = 0, error = 0, major = 2, minor = 0;
        if (XQueryExtension(m_display, "XInputExtension", &m_xiOpcode, &event, &error)
            && XIQueryVersion(m_display, &major, &minor) == Success) {
            unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
            XISetMask(bits, XI_RawKeyPress);
            XIEventMask mask { XIAllDevices, static_cast<int>(sizeof bits), bits };
            XISelectEvents(m_display, m_root, &mask, 1);
        }
        XFlush(m_display);
        return true;
    }
    ~XObserver()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }

    int fd() const { return ConnectionNumber(m_display); }

    void drain()
    {
        while (XPending(m_display)) {
            XEvent event;
            XNextEvent(m_display, &event);
            Clock::time_point now = Clock::now();
            if (event.type == MapNotify && event.xmap.event == m_root && !event.xmap.override_redirect) {
                Window w = event.xmap.window;
                mapped.push_back({ w, windowPid(w), windowTitle(w), now });
            } else if (event.type == PropertyNotify && event.xproperty.atom == m_nameAtom) {
                titles.push_back({ event.xproperty.window, windowTitle(event.xproperty.window), now });
            } else if (event.type == GenericEvent && event.xcookie.extension == m_xiOpcode
                && XGetEventData(m_display, &event.xcookie)) {
                if (event.xcookie.evtype == XI_RawKeyPress) {
                    auto* raw = static_cast<XIRawEvent*>(event.xcookie.data);
                    keys.push_back({ XkbKeycodeToKeysym(m_display, static_cast<KeyCode>(raw->detail), 0, 0), now });
                }
                XFreeEventData(m_display, &event.xcookie);
            }
        }
    }

    // Title changes of this window from now on.
    void watch(Window window)
    {
        XSelectInput(m_display, window, PropertyChangeMask | StructureNotifyMask);
        XFlush(m_display);
    }

    // The first top-level window mapped by this process (or, if the toolkit set no pid, one
    // with the expected title).
    std::optional<Mapped> mappedWindowOf(pid_t pid, const std::string& title) const
    {
        for (const auto& m : mapped)
            if (m.pid == pid || (m.pid == 0 && m.title == title))
                return m;
        return std::nullopt;
    }

    std::optional<Clock::time_point> titleSeen(Window window, const std::string& title, size_t from) const
    {
        for (size_t i = from; i < titles.size(); ++i)
            if (titles[i].window == window && titles[i].title == title)
                return titles[i].at;
        return std::nullopt;
    }

    std::optional<Clock::time_point> keySeen(KeySym symbol, size_t from) const
    {
        for (size_t i = from; i < keys.size(); ++i)
            if (keys[i].symbol == symbol)
                return keys[i].at;
        return std::nullopt;
    }

    std::vector<Mapped> mapped;
    std::vector<Title> titles;
    std::vector<Key> keys;

private:
    pid_t windowPid(Window w)
    {
        Atom type;
        int format;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        pid_t pid = 0;
        if (XGetWindowProperty(m_display, w, m_pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                &count, &after, &data) == Success && data && count == 1 && format == 32)
            pid = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
        if (data)
            XFree(data);
        return pid;
    }

    std::string windowTitle(Window w)
    {
        Atom type;
        int format;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::string title;
        if (XGetWindowProperty(m_display, w, m_nameAtom, 0, 1024, False, m_utf8Atom, &type, &format,
                &count, &after, &data) == Success && data && format == 8)
            title.assign(reinterpret_cast<char*>(data), count);
        if (data)
            XFree(data);
        return title;
    }

    Display* m_display = nullptr;
    Window m_root = 0;
    Atom m_pidAtom = 0, m_nameAtom = 0, m_utf8Atom = 0;
    int m_xiOpcode = -1;
};

// A session bus of one child's own, as a desktop gives every login: a browser finds no earlier
// run on it, and neither program pays for looking for a bus that is not there. Empty when
// dbus-daemon is missing.
class SessionBus {
public:
    static std::unique_ptr<SessionBus> start()
    {
        // For comparing with a launch that finds no bus at all.
        if (std::getenv("QV_BENCH_NO_BUS"))
            return nullptr;
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return nullptr;
        pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            dup2(fds[1], 3);
            int null = ::open("/dev/null", O_RDWR);
            if (null >= 0) {
                dup2(null, STDOUT_FILENO);
                dup2(null, STDERR_FILENO);
            }
            execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address=3",
                static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        if (pid < 0) {
            close(fds[0]);
            ++s_failures;
            return nullptr;
        }
        setpgid(pid, pid);
        rememberChild(pid);
        auto bus = std::unique_ptr<SessionBus>(new SessionBus);
        bus->m_pid = pid;
        std::string line;
        auto deadline = Clock::now() + 5s;
        while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
            pollfd p { fds[0], POLLIN, 0 };
            if (poll(&p, 1, 100) <= 0)
                continue;
            char buffer[512];
            ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            line.append(buffer, static_cast<size_t>(n));
        }
        close(fds[0]);
        if (line.find('\n') == std::string::npos) {
            ++s_failures;
            return nullptr;
        }
        bus->m_address = line.substr(0, line.find('\n'));
        return bus;
    }

    ~SessionBus()
    {
        // The daemon and the services it started (the accessibility bus) share its group.
        kill(-m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        forgetChild(m_pid);
        kill(-m_pid, SIGKILL);
        while (waitpid(-m_pid, nullptr, WNOHANG) > 0) { }
    }
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    const std::string& address() const { return m_address; }
    static int failures() { return s_failures; }

private:
    SessionBus() = default;
    static inline int s_failures = 0;
    pid_t m_pid = -1;
    std::string m_address;
};

// A child process in its own process group, with a private home and working directory when
// it is a browser or baseline (scratch set), killed with its whole tree when it goes.
class Child {
public:
    static std::unique_ptr<Child> spawn(const std::string& exe, const std::vector<std::string>& args,
        const std::optional<fs::path>& scratch, const std::string& proxy)
    {
        auto child = std::unique_ptr<Child>(new Child);
        std::vector<std::string> env;
        fs::path work = "/";
        fs::path errorLog = "/dev/null";
        if (scratch) {
            child->m_scratch = scratch;
            fs::path home = *scratch / "home";
            work = *scratch / "work";
            errorLog = *scratch / "stderr.log";
            for (const char* sub : { ".config", ".local/share", ".cache" })
                fs::create_directories(home / sub);
            fs::create_directories(work);
            child->m_bus = SessionBus::start();
            const char* dropped[] = { "DBUS_SESSION_BUS_ADDRESS=", "HOME=", "XDG_CONFIG_HOME=",
                "XDG_DATA_HOME=", "XDG_CACHE_HOME=", "XDG_STATE_HOME=", "http_proxy=", "https_proxy=", "HTTP_PROXY=", "HTTPS_PROXY=",
                "no_proxy=", "NO_PROXY=", "all_proxy=", "ALL_PROXY=" };
            for (char** e = environ; *e; ++e) {
                bool drop = false;
                for (const char* d : dropped)
                    drop = drop || std::strncmp(*e, d, std::strlen(d)) == 0;
                if (!drop)
                    env.emplace_back(*e);
            }
            if (child->m_bus)
                env.push_back("DBUS_SESSION_BUS_ADDRESS=" + child->m_bus->address());
            env.push_back("HOME=" + home.string());
            env.push_back("XDG_CONFIG_HOME=" + (home / ".config").string());
            env.push_back("XDG_DATA_HOME=" + (home / ".local/share").string());
            env.push_back("XDG_CACHE_HOME=" + (home / ".cache").string());
            for (const char* name : { "http_proxy=", "https_proxy=", "HTTP_PROXY=", "HTTPS_PROXY=" })
                env.push_back(name + proxy);
            env.push_back("no_proxy=127.0.0.1,localhost");
            // The browser's own override, which every one of its sessions takes.
            env.push_back("QV_NETWORK_PROXY=" + proxy);
            env.push_back("NO_PROXY=127.0.0.1,localhost");
        } else {
            for (char** e = environ; *e; ++e)
                env.emplace_back(*e);
        }
        std::vector<char*> argv { const_cast<char*>(exe.c_str()) };
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0)
            return nullptr;
        std::string errorPath = errorLog.string();
        std::string workPath = work.string();
        child->m_started = Clock::now();
        pid_t pid = fork();
        if (pid == 0) {
            // Only async-signal-safe calls until exec.
            setpgid(0, 0);
            if (chdir(workPath.c_str()) != 0)
                _exit(126);
            dup2(pipeFds[1], STDOUT_FILENO);
            int err = ::open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err >= 0)
                dup2(err, STDERR_FILENO);
            execve(exe.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        close(pipeFds[1]);
        if (pid < 0) {
            close(pipeFds[0]);
            return nullptr;
        }
        setpgid(pid, pid);
        rememberChild(pid);
        child->m_pid = pid;
        child->m_out = pipeFds[0];
        fcntl(child->m_out, F_SETFL, O_NONBLOCK);
        return child;
    }

    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return m_pid; }
    int outputFd() const { return m_out; }
    Clock::time_point started() const { return m_started; }
    const std::string& output() const { return m_output; }

    void readOutput()
    {
        if (m_out < 0)
            return;
        char buffer[4096];
        ssize_t n;
        while ((n = read(m_out, buffer, sizeof buffer)) > 0)
            m_output.append(buffer, static_cast<size_t>(n));
        if (n == 0) {
            close(m_out);
            m_out = -1;
        }
    }

    bool exited()
    {
        if (m_reaped)
            return true;
        int status = 0;
        pid_t waited = waitpid(m_pid, &status, WNOHANG);
        if (waited == m_pid || (waited < 0 && errno == ECHILD)) {
            m_reaped = true;
            m_status = status;
            forgetChild(m_pid);
        }
        return m_reaped;
    }
    int status() const { return m_status; }

    // The last lines the child wrote on standard error.
    std::string errorTail(size_t lines = 12) const
    {
        if (!m_scratch)
            return {};
        std::FILE* f = std::fopen((*m_scratch / "stderr.log").c_str(), "r");
        if (!f)
            return {};
        std::vector<std::string> all;
        char line[1024];
        while (std::fgets(line, sizeof line, f))
            all.emplace_back(line);
        std::fclose(f);
        std::string out;
        for (size_t i = all.size() > lines ? all.size() - lines : 0; i < all.size(); ++i)
            out += "    | " + all[i];
        return out;
    }

    void stop()
    {
        if (m_pid <= 0)
            return;
        if (!exited()) {
            std::vector<pid_t> tree = qv::bench::processTree(m_pid);
            kill(-m_pid, SIGTERM);
            auto deadline = Clock::now() + 3s;
            while (!exited() && Clock::now() < deadline)
                usleep(10000);
            if (!exited()) {
                kill(-m_pid, SIGKILL);
                waitpid(m_pid, &m_status, 0);
                m_reaped = true;
                forgetChild(m_pid);
            }
            // Helpers that started their own session or group are not reached through ours.
            for (pid_t p : tree)
                if (p != m_pid)
                    kill(p, SIGKILL);
            // As subreaper we inherit those orphans; collect them, and only them.
            for (int round = 0; round < 50; ++round) {
                bool left = false;
                for (pid_t p : tree)
                    if (p != m_pid && waitpid(p, nullptr, WNOHANG) == 0)
                        left = true;
                if (!left)
                    break;
                usleep(10000);
            }
        }
        if (m_out >= 0)
            close(m_out);
        m_out = -1;
        m_pid = -1;
        m_bus.reset();
        if (m_scratch) {
            std::error_code ec;
            fs::remove_all(*m_scratch, ec);
        }
    }

private:
    Child() = default;
    pid_t m_pid = -1;
    int m_out = -1;
    bool m_reaped = false;
    int m_status = 0;
    std::string m_output;
    std::optional<fs::path> m_scratch;
    std::unique_ptr<SessionBus> m_bus;
    Clock::time_point m_started;
};

struct LoadTiming {
    double titleMs = 0;  // Return to the window title becoming the page's (load finished)
    double onloadMs = 0; // Return to the page's load handler reporting back
    bool keySeen = false;
};

struct MemoryFigure {
    std::string label;
    std::string how;
    std::optional<TreeMemory> memory;
    std::string note;
};

class Bench {
public:
    Bench()
    {
        char scratch[] = "/tmp/quivel-bench-XXXXXX";
        if (mkdtemp(scratch))
            m_root = scratch;
    }
    ~Bench()
    {
        std::error_code ec;
        if (!m_root.empty())
            fs::remove_all(m_root, ec);
    }

    // `parts` picks what to measure: "startup", "loads", "probe", "bare", "cmdline"; empty
    // means all. A baseline browser, when given, is measured beside ours in "cmdline".
    int run(const std::string& parts, const std::string& baseline)
    {
        auto wanted = [&](const char* part) { return parts.empty() || parts.find(part) != std::string::npos; };
        if (m_root.empty() || !m_x.open() || m_server.port() == 0) {
            std::fprintf(stderr, "needs a writable /tmp, an X display (run under xvfb-run -a) and "
                                 "a loopback socket\n");
            return 2;
        }
        std::fprintf(stderr, "serving %s\n", m_server.pageURL().c_str());
        if (wanted("startup"))
            measureStartup();
        if (wanted("loads"))
            measureBrowserLoadsAndMemory();
        if (wanted("probe")) {
            measureProbe(1, 0);
            measureProbe(kTabs, 0);
            measureProbe(kTabs, kLazyTabs);
        }
        if (wanted("cmdline"))
            measureCommandLineTabs(baseline);
        if (wanted("session"))
            measureSessionRestore();
        if (wanted("bare")) {
            measureBare(1);
            measureBare(kTabs);
            measureBare(kTabs, true);
        }
        report();
        return 0;
    }

private:
    fs::path nextScratch() { return m_root / ("child-" + std::to_string(++m_serial)); }
    std::string proxy() const { return m_server.origin(); }

    // Runs the main loop, X and the children's output until `done` holds or time runs out.
    bool pump(const std::function<bool()>& done, Clock::duration timeout, Child* child = nullptr)
    {
        auto deadline = Clock::now() + timeout;
        for (;;) {
            while (g_main_context_iteration(nullptr, FALSE)) { }
            m_x.drain();
            if (child)
                child->readOutput();
            if (done())
                return true;
            if (Clock::now() > deadline)
                return false;
            pollfd fds[2] = { { m_x.fd(), POLLIN, 0 }, { child ? child->outputFd() : -1, POLLIN, 0 } };
            poll(fds, 2, 1);
        }
    }

    void idle(Clock::duration duration)
    {
        pump([] { return false; }, duration);
    }

    bool xdotool(const std::vector<std::string>& args)
    {
        auto tool = Child::spawn("/usr/bin/xdotool", args, std::nullopt, {});
        if (!tool)
            return false;
        // The browser may already be fetching from our server while the tool is still running.
        bool done = pump([&] { return tool->exited(); }, 15s);
        return done && WIFEXITED(tool->status()) && WEXITSTATUS(tool->status()) == 0;
    }

    std::optional<XObserver::Mapped> waitForWindow(Child& child, const std::string& title)
    {
        std::optional<XObserver::Mapped> mapped;
        pump([&] { return (mapped = m_x.mappedWindowOf(child.pid(), title)).has_value() || child.exited(); },
            30s);
        if (!mapped) {
            std::fprintf(stderr, "  no window from pid %d%s\n%s", child.pid(),
                child.exited() ? " (it exited)" : "", child.errorTail().c_str());
        }
        return mapped;
    }

    std::optional<TreeMemory> settledMemory(Child& child)
    {
        idle(kSettle);
        if (child.exited())
            return std::nullopt;
        // Three samples a second apart; the median keeps a collection cycle from skewing it.
        std::vector<TreeMemory> samples;
        for (int i = 0; i < 3; ++i) {
            if (i)
                idle(1s);
            samples.push_back(qv::bench::treeMemory(child.pid()));
        }
        std::sort(samples.begin(), samples.end(),
            [](const TreeMemory& a, const TreeMemory& b) { return a.pssKiB < b.pssKiB; });
        return samples[1];
    }

    void measureStartup()
    {
        std::fprintf(stderr, "start-up: %d runs each after a warm-up, interleaved\n", kStartupRuns);
        for (int run = 0; run <= kStartupRuns; ++run) {
            auto browser = startupOnce(browserExe(), {}, kBrowserTitle);
            auto bare = startupOnce(QV_BARE_WEBVIEW_EXE, { m_server.pageURL() }, kBareTitle);
            if (run == 0)
                continue;
            if (browser)
                m_browserShown.push_back(*browser);
            if (bare)
                m_bareShown.push_back(*bare);
        }
    }

    std::optional<double> startupOnce(const std::string& exe, const std::vector<std::string>& args,
        const std::string& title)
    {
        auto child = Child::spawn(exe, args, nextScratch(), proxy());
        if (!child)
            return std::nullopt;
        auto mapped = waitForWindow(*child, title);
        if (!mapped)
            return std::nullopt;
        return millis(mapped->at - child->started());
    }

    // Focuses the address field, types the address and presses Return; then waits for the
    // window title to become the page's and for the page's load handler to report.
    std::optional<LoadTiming> navigate(Window window, const std::string& n)
    {
        std::string address = m_server.pageURL() + "?n=" + n;
        if (!xdotool({ "key", "--clearmodifiers", "ctrl+l" })
            || !xdotool({ "type", "--delay", "2", address })) {
            std::fprintf(stderr, "  xdotool failed\n");
            return std::nullopt;
        }
        size_t keyMark = m_x.keys.size();
        size_t titleMark = m_x.titles.size();
        Clock::time_point before = Clock::now();
        if (!xdotool({ "key", "Return" }))
            return std::nullopt;
        std::string title = "Bench Page " + n;
        bool done = pump([&] { return m_x.titleSeen(window, title, titleMark) && m_server.beaconFor(n); },
            20s);
        if (!done) {
            std::fprintf(stderr, "  page n=%s did not finish loading (title %s, onload %s)\n", n.c_str(),
                m_x.titleSeen(window, title, titleMark) ? "seen" : "not seen",
                m_server.beaconFor(n) ? "seen" : "not seen");
            return std::nullopt;
        }
        // The key press as X delivered it; the moment before the tool started if it was missed.
        auto pressed = m_x.keySeen(XK_Return, keyMark);
        Clock::time_point start = pressed.value_or(before);
        return LoadTiming { millis(*m_x.titleSeen(window, title, titleMark) - start),
            millis(*m_server.beaconFor(n) - start), pressed.has_value() };
    }

    void measureBrowserLoadsAndMemory()
    {
        std::fprintf(stderr, "quivel-browser: %d navigations in the first tab, then %d tabs\n", kLoadRuns, kTabs);
        m_server.beacons.clear();
        auto child = Child::spawn(browserExe(), {}, nextScratch(), proxy());
        if (!child)
            return;
        auto mapped = waitForWindow(*child, kBrowserTitle);
        if (!mapped)
            return;
        Window window = mapped->window;
        m_x.watch(window);
        // Let the start page settle (it cannot load here) before typing.
        idle(1500ms);
        if (!xdotool({ "windowfocus", "--sync", std::to_string(window) })) {
            std::fprintf(stderr, "  cannot focus the browser window\n");
            return;
        }
        for (int k = 1; k <= kLoadRuns; ++k) {
            if (auto timing = navigate(window, std::to_string(k)))
                m_firstTabLoads.push_back(*timing);
        }
        m_browserOneTab = settledMemory(*child);
        for (int i = 2; i <= kTabs; ++i) {
            if (!xdotool({ "key", "--clearmodifiers", "ctrl+t" }))
                return;
            idle(100ms);
            if (auto timing = navigate(window, "tab" + std::to_string(i)))
                m_newTabLoads.push_back(*timing);
            else
                return;
        }
        m_browserTabs = settledMemory(*child);
    }

    // kTabs addresses of the page on the command line; the tree's memory kCommandLineSettle
    // after launch. Rounds alternate with the baseline browser, so both meet the same machine.
    // A scratch home whose last session holds kSessionTabs tabs on three profiles, restored at
    // launch; the selected one is the page the one-tab launch opens.
    fs::path sessionScratch(const std::string& firstPage)
    {
        fs::path scratch = nextScratch();
        fs::path data = scratch / "home/.local/share/QuivelBrowser";
        fs::path config = scratch / "home/.config/QuivelBrowser";
        fs::create_directories(data);
        fs::create_directories(config);
        const char* profiles[] = { "default", "bench-two", "bench-three" };
        std::vector<std::string> entries;
        for (int i = 0; i < kSessionTabs; ++i) {
            qv::SessionTab tab;
            tab.profileID = profiles[i % 3];
            tab.url = i == 0 ? firstPage : m_server.pageURL() + "?n=s" + std::to_string(i);
            tab.title = "Restored page " + std::to_string(i);
            if (i)
                tab.state = std::string(kSessionStateBytes, static_cast<char>('a' + i % 26));
            entries.push_back(qv::sessionTabJson(tab));
        }
        auto write = [](const fs::path& file, const std::string& text) {
            FILE* out = std::fopen(file.c_str(), "wb");
            if (out) {
                std::fwrite(text.data(), 1, text.size(), out);
                std::fclose(out);
            }
        };
        write(data / "session.json", qv::sessionJson(entries, 0));
        write(config / "defaults.json",
            R"({"QuivelRestoreSessionOnLaunch":true,"QuivelProfiles":[{"id":"bench-two","name":"Two"},)"
            R"({"id":"bench-three","name":"Three"}]})");
        return scratch;
    }

    // Launch restoring the session against a launch with one tab of the same page: time to the
    // window, then memory once the page has loaded and the whole tree has gone quiet (the
    // restored tabs are in, the main loop idle), not at a fixed time while tabs may still come.
    void measureSessionRestore()
    {
        std::string page = m_server.pageURL() + "?n=first";
        std::fprintf(stderr, "session: %d launches each after a warm-up, interleaved\n", kStartupRuns);
        std::vector<TreeMemory> oneTab, restored;
        for (int run = 0; run <= kStartupRuns; ++run) {
            for (bool restore : { false, true }) {
                size_t beaconsBefore = m_server.beacons.size();
                auto child = restore ? Child::spawn(browserExe(), {}, sessionScratch(page), proxy())
                                     : Child::spawn(browserExe(), { page }, nextScratch(), proxy());
                if (!child)
                    continue;
                auto mapped = waitForWindow(*child, kBrowserTitle);
                if (!mapped || run == 0)
                    continue;
                (restore ? m_sessionShown : m_oneTabShown).push_back(millis(mapped->at - child->started()));
                if (run > kSessionMemoryRounds)
                    continue;
                bool loaded = pump([&] {
                    for (size_t i = beaconsBefore; i < m_server.beacons.size(); ++i)
                        if (m_server.beacons[i].n == "first")
                            return true;
                    return child->exited();
                }, 30s, child.get());
                if (!loaded || child->exited())
                    continue;
                auto quietAfter = waitUntilQuiet(*child);
                (restore ? m_sessionSettled : m_oneTabSettled).push_back(millis(quietAfter - child->started()));
                if (auto memory = sampledMemory(*child))
                    (restore ? restored : oneTab).push_back(*memory);
            }
        }
        auto middle = [](std::vector<TreeMemory> samples) -> std::optional<TreeMemory> {
            if (samples.empty())
                return std::nullopt;
            std::sort(samples.begin(), samples.end(),
                [](const TreeMemory& a, const TreeMemory& b) { return a.pssKiB < b.pssKiB; });
            return samples[samples.size() / 2];
        };
        m_oneTabMemory = middle(oneTab);
        m_sessionMemory = middle(restored);
    }

    // Until the tree has used under 5% of one core for a second (at most 30 s): when it was.
    Clock::time_point waitUntilQuiet(Child& child)
    {
        auto deadline = Clock::now() + 30s;
        long long before = treeCpuTicks(child.pid());
        long perSecond = sysconf(_SC_CLK_TCK);
        while (Clock::now() < deadline && !child.exited()) {
            idle(1s);
            long long now = treeCpuTicks(child.pid());
            if (static_cast<double>(now - before) < 0.05 * static_cast<double>(perSecond))
                return Clock::now();
            before = now;
        }
        std::fprintf(stderr, "  pid %d never went quiet\n", child.pid());
        return Clock::now();
    }

    // Three samples a second apart; the median keeps a collection cycle from skewing it.
    std::optional<TreeMemory> sampledMemory(Child& child)
    {
        std::vector<TreeMemory> samples;
        for (int i = 0; i < 3; ++i) {
            if (i)
                idle(1s);
            if (child.exited())
                return std::nullopt;
            samples.push_back(qv::bench::treeMemory(child.pid()));
        }
        std::sort(samples.begin(), samples.end(),
            [](const TreeMemory& a, const TreeMemory& b) { return a.pssKiB < b.pssKiB; });
        return samples[1];
    }

    void measureCommandLineTabs(const std::string& baseline)
    {
        std::vector<std::string> addresses;
        for (int i = 1; i <= kTabs; ++i)
            addresses.push_back(m_server.pageURL() + "?n=c" + std::to_string(i));
        auto once = [&](const std::string& exe) -> std::optional<TreeMemory> {
            auto child = Child::spawn(exe, addresses, nextScratch(), proxy());
            if (!child || !waitForWindow(*child, kBrowserTitle))
                return std::nullopt;
            idle(kCommandLineSettle - (Clock::now() - child->started()) - 1s);
            std::vector<TreeMemory> samples;
            for (int i = 0; i < 3; ++i) {
                if (i)
                    idle(1s);
                samples.push_back(qv::bench::treeMemory(child->pid()));
            }
            std::sort(samples.begin(), samples.end(),
                [](const TreeMemory& a, const TreeMemory& b) { return a.pssKiB < b.pssKiB; });
            return child->exited() ? std::nullopt : std::optional<TreeMemory>(samples[1]);
        };
        for (int round = 0; round < kCommandLineRounds; ++round) {
            std::fprintf(stderr, "%d addresses on the command line, round %d\n", kTabs, round + 1);
            if (auto ours = once(browserExe()))
                m_commandLine.push_back(*ours);
            if (!baseline.empty())
                if (auto theirs = once(baseline))
                    m_commandLineBaseline.push_back(*theirs);
        }
    }

    // The round with the median PSS.
    static std::optional<TreeMemory> medianRound(std::vector<TreeMemory> rounds)
    {
        if (rounds.empty())
            return std::nullopt;
        std::sort(rounds.begin(), rounds.end(),
            [](const TreeMemory& a, const TreeMemory& b) { return a.pssKiB < b.pssKiB; });
        return rounds[rounds.size() / 2];
    }

    void measureProbe(int tabs, int lazy)
    {
        std::fprintf(stderr, "browser_tabs_probe: %d tabs, %d lazy\n", tabs, lazy);
        m_server.beacons.clear();
        auto child = Child::spawn(QV_TABS_PROBE_EXE,
            { m_server.pageURL(), std::to_string(tabs), std::to_string(lazy) }, nextScratch(), proxy());
        MemoryFigure figure;
        figure.label = std::to_string(tabs) + (tabs == 1 ? " tab" : " tabs")
            + (lazy ? ", " + std::to_string(lazy) + " lazy" : tabs > 1 ? ", all loaded" : "");
        figure.how = "probe";
        if (child) {
            bool ready = pump([&] { return child->output().find("READY") != std::string::npos || child->exited(); },
                180s, child.get());
            if (ready && !child->exited()) {
                figure.memory = settledMemory(*child);
                std::string line = child->output().substr(child->output().find("READY"));
                figure.note = line.substr(6, line.find('\n') - 6);
            } else {
                std::fprintf(stderr, "  the probe did not get ready\n%s", child->errorTail().c_str());
            }
        }
        m_probe.push_back(figure);
    }

    void measureBare(int views, bool hidden = false)
    {
        std::fprintf(stderr, "bare_webview: %d view(s)%s\n", views, hidden ? ", hidden" : "");
        m_server.beacons.clear();
        std::vector<std::string> args { m_server.pageURL(), std::to_string(views) };
        if (hidden)
            args.emplace_back("hidden");
        auto child = Child::spawn(QV_BARE_WEBVIEW_EXE, args, nextScratch(), proxy());
        MemoryFigure figure;
        figure.label = std::to_string(views)
            + (views == 1 ? " web view"
                    : hidden ? " web views, loaded, only 1 ever shown"
                             : " web views, loaded, each shown in turn");
        figure.how = "bare";
        if (child && waitForWindow(*child, kBareTitle)) {
            if (pump([&] { return static_cast<int>(m_server.beacons.size()) >= views; }, 120s))
                figure.memory = settledMemory(*child);
            else
                std::fprintf(stderr, "  only %zu of %d views loaded\n", m_server.beacons.size(), views);
        }
        m_bare.push_back(figure);
    }

    static std::string memoryText(const std::optional<TreeMemory>& m)
    {
        if (!m)
            return "n/a";
        char text[200];
        std::snprintf(text, sizeof text,
            "%7.1f MiB  (USS %6.1f; %d processes: UI %.1f, %d web %.1f, rest %.1f)",
            mebibytes(m->pssKiB), mebibytes(m->ussKiB), m->processes, mebibytes(m->rootKiB),
            m->webProcesses, mebibytes(m->webProcessKiB),
            mebibytes(m->pssKiB - m->rootKiB - m->webProcessKiB));
        return text;
    }

    static std::string timesText(const std::vector<double>& values)
    {
        if (values.empty())
            return "n/a";
        char text[128];
        std::snprintf(text, sizeof text, "median %7.1f ms  min %7.1f ms  max %7.1f ms  (%zu runs)",
            median(values), *std::min_element(values.begin(), values.end()),
            *std::max_element(values.begin(), values.end()), values.size());
        return text;
    }

    void report()
    {
        auto line = [](const char* label, const std::string& value) {
            std::printf("  %-50s %s\n", label, value.c_str());
        };
        std::printf("\nQuivel start-up and memory (Xvfb; PSS summed over each process and its descendants)\n");
        std::printf("  [real]  quivel-browser as a child process, driven with xdotool, observed through X\n");
        std::printf("  [probe] browser_tabs_probe: a BrowserController in a helper process, as the\n"
                    "          integration fixture builds it; tabs opened and made lazy in-process\n");
        std::printf("  [bare]  bare_webview: a plain GTK window with web views on the same page\n");
        const char* renderer = std::getenv("GSK_RENDERER");
        std::printf("  both drawn by GTK's %s renderer, ", renderer && *renderer ? renderer : "default");
        if (std::getenv("QV_BENCH_NO_BUS"))
            std::printf("all without a session bus\n\n");
        else if (SessionBus::failures())
            std::printf("%d of them without a session bus (dbus-daemon failed)\n\n", SessionBus::failures());
        else
            std::printf("each on a session bus of its own\n\n");

        std::printf("Time from process start to the top-level window being mapped\n");
        line("[real] quivel-browser", timesText(m_browserShown));
        line("[bare] bare_webview", timesText(m_bareShown));
        if (!m_browserShown.empty() && !m_bareShown.empty()) {
            double real = median(m_browserShown), bare = median(m_bareShown);
            char text[128];
            std::snprintf(text, sizeof text, "%.2fx bare (target <= 1.10x, i.e. <= %.1f ms)", real / bare,
                1.1 * bare);
            line("ratio", text);
        }

        if (!m_sessionShown.empty()) {
            std::printf("\nLaunch restoring a %d-tab session of 3 profiles against a one-tab launch [real]\n",
                kSessionTabs);
            line("one tab: first window", timesText(m_oneTabShown));
            line("restored session: first window", timesText(m_sessionShown));
            char text[128];
            if (!m_oneTabShown.empty()) {
                std::snprintf(text, sizeof text, "%.2fx the one-tab launch (target <= 1.20x)",
                    median(m_sessionShown) / median(m_oneTabShown));
                line("ratio", text);
            }
            line("one tab: quiet after", timesText(m_oneTabSettled));
            line("restored session: quiet after", timesText(m_sessionSettled));
            line("one tab: memory", memoryText(m_oneTabMemory));
            line("restored session: memory", memoryText(m_sessionMemory));
            if (m_oneTabMemory && m_sessionMemory) {
                std::snprintf(text, sizeof text, "%.2fx the one-tab launch (target <= 1.20x)",
                    static_cast<double>(m_sessionMemory->pssKiB) / static_cast<double>(m_oneTabMemory->pssKiB));
                line("ratio", text);
            }
        }

        std::printf("\nTime from Return in the address field to the page having loaded [real]\n");
        auto loads = [&](const char* what, const std::vector<LoadTiming>& timings) {
            std::vector<double> titles, onloads;
            bool allKeys = true;
            for (const auto& t : timings) {
                titles.push_back(t.titleMs);
                onloads.push_back(t.onloadMs);
                allKeys = allKeys && t.keySeen;
            }
            std::string label = std::string(what) + ", window title = page";
            line(label.c_str(), timesText(titles));
            label = std::string(what) + ", page onload reported";
            line(label.c_str(), timesText(onloads));
            if (!timings.empty() && !allKeys)
                line("", "(some key presses were not seen; timed from the tool's start)");
        };
        loads("first tab", m_firstTabLoads);
        if (!m_firstTabLoads.empty()) {
            char text[64];
            std::snprintf(text, sizeof text, "%.1f ms (title), %.1f ms (onload)", m_firstTabLoads[0].titleMs,
                m_firstTabLoads[0].onloadMs);
            line("  of which the very first load", text);
        }
        loads("new tabs (Control-T)", m_newTabLoads);

        std::printf("\nMemory, %d s after the last load: PSS (pages shared with other processes on the\n"
                    "machine count in part, so it moves with what else runs) and USS (private pages only)\n",
            static_cast<int>(kSettle.count()));
        line("[real]  1 tab", memoryText(m_browserOneTab));
        line("[real]  20 tabs, all loaded", memoryText(m_browserTabs));
        for (const auto& f : m_probe) {
            std::string label = "[probe] " + f.label;
            line(label.c_str(), memoryText(f.memory) + (f.note.empty() ? "" : "  [" + f.note + "]"));
        }
        for (const auto& f : m_bare) {
            std::string label = "[bare]  " + f.label;
            line(label.c_str(), memoryText(f.memory));
        }
        const auto& one = m_probe.size() > 0 ? m_probe[0].memory : std::nullopt;
        const auto& lazy = m_probe.size() > 2 ? m_probe[2].memory : std::nullopt;
        if (one && lazy) {
            char text[160];
            std::snprintf(text, sizeof text, "%.2fx the 1-tab figure (target <= 1.20x, i.e. <= %.1f MiB)",
                static_cast<double>(lazy->pssKiB) / static_cast<double>(one->pssKiB),
                1.2 * mebibytes(one->pssKiB));
            line("[probe] 20 tabs with 19 lazy", text);
        }
        // Loaded tabs against as many bare views shown in turn (target 1.1x).
        auto againstBare = [&](const char* label, const std::optional<TreeMemory>& ours, std::size_t bareIndex) {
            if (!ours || m_bare.size() <= bareIndex || !m_bare[bareIndex].memory)
                return;
            char text[96];
            std::snprintf(text, sizeof text, "%.2fx bare (target <= 1.10x)",
                static_cast<double>(ours->pssKiB) / static_cast<double>(m_bare[bareIndex].memory->pssKiB));
            line(label, text);
        };
        againstBare("[real]  1 tab", m_browserOneTab, 0);
        againstBare("[real]  20 tabs, all loaded", m_browserTabs, 1);
        if (m_probe.size() > 1) {
            againstBare("[probe] 1 tab", m_probe[0].memory, 0);
            againstBare("[probe] 20 tabs, all loaded", m_probe[1].memory, 1);
        }
        if (!m_commandLine.empty()) {
            std::printf("\nMemory %d s after launch with %d addresses on the command line (median of "
                        "%zu rounds)\n",
                static_cast<int>(kCommandLineSettle.count()), kTabs, m_commandLine.size());
            auto ours = medianRound(m_commandLine), theirs = medianRound(m_commandLineBaseline);
            line("[real]  this browser", memoryText(ours));
            if (theirs) {
                line("[real]  baseline browser", memoryText(theirs));
                char text[96];
                std::snprintf(text, sizeof text, "%.2fx the baseline (target <= 0.85x)",
                    static_cast<double>(ours->pssKiB) / static_cast<double>(theirs->pssKiB));
                line("ratio", text);
            }
        }
        std::printf("\n  requests for other hosts caught by the local proxy: %d\n", m_server.foreignRequests);
    }

    fs::path m_root;
    int m_serial = 0;
    LocalServer m_server;
    XObserver m_x;
    std::vector<double> m_browserShown;
    std::vector<double> m_bareShown;
    std::vector<LoadTiming> m_firstTabLoads;
    std::vector<LoadTiming> m_newTabLoads;
    std::optional<TreeMemory> m_browserOneTab;
    std::vector<double> m_oneTabShown, m_sessionShown;
    std::vector<double> m_oneTabSettled, m_sessionSettled; // launch to quiet, for the memory samples
    std::optional<TreeMemory> m_oneTabMemory, m_sessionMemory;
    std::optional<TreeMemory> m_browserTabs;
    std::vector<MemoryFigure> m_probe;
    std::vector<MemoryFigure> m_bare;
    std::vector<TreeMemory> m_commandLine;
    std::vector<TreeMemory> m_commandLineBaseline;
};

} // namespace

int main(int argc, char** argv)
{
    // The browser picks its renderer for the machine; the bare window is given the same one, so
    // the two are compared drawing the same way.
    qv::chooseRendererForMachine();
    std::string parts, baseline;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--only=", 0) == 0) {
            parts = arg.substr(7);
        } else if (arg.rfind("--baseline=", 0) == 0) {
            baseline = arg.substr(11);
        } else {
            std::fprintf(stderr,
                "usage: %s [--only=startup,loads,probe,bare,cmdline,session] [--baseline=BROWSER]\n",
                argv[0]);
            return 2;
        }
    }
    // Orphaned WebKit helpers come back to us, so none outlives the run.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    signal(SIGALRM, onFatalSignal);
    signal(SIGINT, onFatalSignal);
    signal(SIGTERM, onFatalSignal);
    signal(SIGPIPE, SIG_IGN);
    alarm(kWatchdogSeconds);
    int result = Bench().run(parts, baseline);
    killLiveChildren();
    while (waitpid(-1, nullptr, WNOHANG) > 0) { }
    return result;
}
