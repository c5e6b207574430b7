// Escaping and filling in the error page template.
#include "navigation/error_page_rules.h"

namespace qv {

namespace {

    void appendPoints(std::string& out, const std::vector<std::string>& points)
    {
        if (points.empty())
            return;
        out += "<ul class=\"points\">";
        for (const std::string& point : points)
            out += "<li>" + htmlEscaped(point) + "</li>";
        out += "</ul>";
    }

    void appendDetails(
        std::string& out, const std::vector<std::pair<std::string, std::string>>& details)
    {
        if (details.empty())
            return;
        out += "<dl class=\"details\">";
        for (const auto& [term, value] : details)
            out += "<dt>" + htmlEscaped(term) + "</dt><dd>" + htmlEscaped(value) + "</dd>";
        out += "</dl>";
    }

} // namespace

std::string errorPageHTML(std::string_view pageTemplate, const ErrorPageText& text)
{
    std::string out;
    out.reserve(pageTemplate.size() + text.message.size() + text.address.size());
    size_t at = 0;
    while (at < pageTemplate.size()) {
        size_t open = pageTemplate.find("{{", at);
        if (open == std::string_view::npos) {
            out.append(pageTemplate.substr(at));
            break;
        }
        out.append(pageTemplate.substr(at, open - at));
        size_t close = pageTemplate.find("}}", open + 2);
        if (close == std::string_view::npos) {
            out.append(pageTemplate.substr(open));
            break;
        }
        std::string_view name = pageTemplate.substr(open + 2, close - open - 2);
        if (name == "message")
            out += htmlEscaped(text.message);
        else if (name == "address")
            out += htmlEscaped(text.address);
        else if (name == "heading")
            out += htmlEscaped(text.heading);
        else if (name == "title")
            out += htmlEscaped(text.title);
        else if (name == "button")
            out += htmlEscaped(text.button);
        else if (name == "buttonId")
            out += htmlEscaped(text.buttonId);
        else if (name == "points")
            appendPoints(out, text.points);
        else if (name == "details")
            appendDetails(out, text.details);
        else if (name == "note")
            out += htmlEscaped(text.note);
        else if (name == "theme")
            out += text.dark ? "dark" : "light";
        else
            out.append(pageTemplate.substr(open, close + 2 - open));
        at = close + 2;
    }
    return out;
}

} // namespace qv
