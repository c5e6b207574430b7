// Timestamped log lines on standard error.
#include "platform/log.h"

#include <glib.h>
#include <cstdio>
#include <string>

namespace qv {

namespace {
LogObserver& observer()
{
    static LogObserver instance;
    return instance;
}
} // namespace

void logLine(std::string_view message)
{
    GDateTime* now = g_date_time_new_now_local();
    gchar* stamp = g_date_time_format(now, "%Y-%m-%d %H:%M:%S.%f");
    std::string line = std::string(stamp ? stamp : "") + " quivel-browser: " + std::string(message);
    g_free(stamp);
    g_date_time_unref(now);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    if (observer())
        observer()(message);
}

void setLogObserver(LogObserver o) { observer() = std::move(o); }

} // namespace qv
