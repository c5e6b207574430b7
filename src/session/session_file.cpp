// The session file's format.
#include "session/session_file.h"

#include "base/json_text.h"
#include "base/text_util.h"
#include "base/url.h"

#include <cmath>

namespace qv {

namespace {

constexpr int kSessionVersion = 1;

} // namespace

std::string sessionTabJson(const SessionTab& tab)
{
    Json entry = { { "profile", tab.profileID }, { "url", tab.url }, { "title", tab.title },
        { "lazy", tab.lazy }, { "zoom", tab.zoom } };
    if (!tab.state.empty())
        entry["state"] = base64Encode(tab.state);
    if (!tab.icon.empty())
        entry["icon"] = base64Encode(tab.icon);
    return dumpJson(entry);
}

std::string sessionJson(const std::vector<std::string>& tabEntries, std::optional<size_t> selected)
{
    std::string text = "{\"version\":" + std::to_string(kSessionVersion) + ",\"selected\":"
        + (selected ? std::to_string(*selected) : std::string("null")) + ",\"tabs\":[";
    size_t size = text.size() + 3;
    for (const std::string& entry : tabEntries)
        size += entry.size() + 2;
    text.reserve(size);
    for (size_t i = 0; i < tabEntries.size(); ++i) {
        if (i)
            text += ",\n";
        else
            text += "\n";
        text += tabEntries[i];
    }
    text += "\n]}\n";
    return text;
}

bool restorableSessionAddress(std::string_view url)
{
    auto parts = parseURL(url);
    if (!parts)
        return false;
    std::string scheme = parts->lowerScheme();
    return (parts->isHTTP() && !parts->host.empty()) || scheme == "file";
}

Result<Session> parseSession(std::string_view text)
{
    Result<Json> parsed = parseJsonDescribed(text);
    if (!parsed)
        return Result<Session>::failure("The session file is not JSON: " + parsed.error());
    const Json& document = parsed.value();
    if (!document.is_object())
        return Result<Session>::failure("The session file does not hold an object.");
    auto version = document.find("version");
    if (version == document.end() || !version->is_number_integer() || *version != kSessionVersion)
        return Result<Session>::failure("The session file has no version this browser reads.");
    auto tabs = document.find("tabs");
    if (tabs == document.end() || !tabs->is_array())
        return Result<Session>::failure("The session file has no list of tabs.");

    Session session;
    std::optional<size_t> selectedEntry;
    if (auto selected = document.find("selected");
        selected != document.end() && selected->is_number_unsigned())
        selectedEntry = selected->get<size_t>();
    for (size_t i = 0; i < tabs->size(); ++i) {
        const Json& entry = (*tabs)[i];
        std::string url = entry.is_object() ? jsonString(entry, "url") : "";
        if (session.tabs.size() >= kMaxSessionTabs || !restorableSessionAddress(url)) {
            ++session.skipped;
            continue;
        }
        SessionTab tab;
        tab.url = url;
        tab.profileID = jsonString(entry, "profile");
        tab.title = jsonString(entry, "title");
        tab.lazy = jsonBool(entry, "lazy");
        if (auto zoom = entry.find("zoom"); zoom != entry.end() && zoom->is_number()) {
            double level = zoom->get<double>();
            if (std::isfinite(level) && level > 0 && level <= 10)
                tab.zoom = level;
        }
        // An undecodable or oversized state or icon is dropped; the tab still comes back.
        auto decoded = [&](const char* key, size_t limit) {
            std::string encoded = jsonString(entry, key);
            if (encoded.empty() || encoded.size() > limit / 3 * 4 + 4)
                return std::string();
            return base64Decode(encoded).value_or("");
        };
        tab.state = decoded("state", kMaxSessionStateBytes);
        tab.icon = decoded("icon", kMaxSessionIconBytes);
        if (selectedEntry == i)
            session.selected = session.tabs.size();
        session.tabs.push_back(std::move(tab));
    }
    return session;
}

} // namespace qv
