// Scanning style sheets, scripts and pages for the addresses they name, and pointing those at
// the local copy. Each scanner is one forward pass; hostile text only costs its length.
#include "devtools/local_copy_references.h"

#include "base/markup_tags.h"
#include "base/text_util.h"
#include "base/url.h"
#include "devtools/local_copy_rules.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace qv {

namespace {

using References = std::vector<LocalCopyReference>;

bool isNameByte(char c)
{
    return isAsciiAlnum(c) || c == '_' || c == '$' || c == '-' || static_cast<unsigned char>(c) >= 0x80;
}

bool isScriptNameByte(char c)
{
    return isAsciiAlnum(c) || c == '_' || c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

bool matchesWordAt(std::string_view text, std::size_t i, std::string_view word, bool ignoreCase)
{
    if (i + word.size() > text.size())
        return false;
    std::string_view here = text.substr(i, word.size());
    return ignoreCase ? toLowerAscii(std::string(here)) == word : here == word;
}

std::string extensionKind(std::string_view address)
{
    std::string path = toLowerAscii(std::string(address.substr(0, address.find_first_of("?#"))));
    for (const char* font : { ".woff2", ".woff", ".ttf", ".otf", ".eot" }) {
        if (path.size() >= std::strlen(font) && path.ends_with(font))
            return "font";
    }
    return path.ends_with(".css") ? "css" : "image";
}

// ---- Style sheets ----

// After a quote at `i`: the end of the string (the closing quote, or the end of the line or
// text for an unclosed one).
std::size_t cssStringEnd(std::string_view text, std::size_t i)
{
    char quote = text[i];
    for (std::size_t j = i + 1; j < text.size(); ++j) {
        if (text[j] == '\\') {
            ++j;
            continue;
        }
        if (text[j] == quote || text[j] == '\n')
            return j;
    }
    return text.size();
}

// The reference in "url(" whose "(" is at `open`; the index after it.
std::size_t cssURL(std::string_view text, std::size_t open, const std::string& kind,
    std::size_t base, References& out)
{
    std::size_t i = open + 1;
    while (i < text.size() && isMarkupBlank(text[i]))
        ++i;
    if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
        std::size_t end = cssStringEnd(text, i);
        std::string address(text.substr(i + 1, end - i - 1));
        out.push_back({ base + i + 1, end - i - 1, address,
            kind.empty() ? extensionKind(address) : kind, false });
        return end + 1;
    }
    std::size_t end = text.find(')', i);
    if (end == std::string_view::npos)
        end = text.size();
    std::size_t last = end;
    while (last > i && isMarkupBlank(text[last - 1]))
        --last;
    std::string address(text.substr(i, last - i));
    if (!address.empty())
        out.push_back(
            { base + i, last - i, address, kind.empty() ? extensionKind(address) : kind, false });
    return end;
}

void scanStyleSheet(std::string_view text, std::size_t base, References& out)
{
    std::size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            std::size_t end = text.find("*/", i + 2);
            i = end == std::string_view::npos ? text.size() : end + 2;
            continue;
        }
        if (c == '"' || c == '\'') {
            i = cssStringEnd(text, i) + 1;
            continue;
        }
        if (c == '\\') {
            i += 2;
            continue;
        }
        bool boundary = i == 0 || !isNameByte(text[i - 1]);
        if (c == '@' && matchesWordAt(text, i + 1, "import", true)
            && (i + 7 >= text.size() || !isNameByte(text[i + 7]))) {
            std::size_t j = i + 7;
            while (j < text.size() && isMarkupBlank(text[j]))
                ++j;
            if (j < text.size() && (text[j] == '"' || text[j] == '\'')) {
                std::size_t end = cssStringEnd(text, j);
                out.push_back({ base + j + 1, end - j - 1,
                    std::string(text.substr(j + 1, end - j - 1)), "css", false });
                i = end + 1;
                continue;
            }
            if (matchesWordAt(text, j, "url(", true)) {
                i = cssURL(text, j + 3, "css", base, out);
                continue;
            }
            i = j;
            continue;
        }
        if (boundary && (c == 'u' || c == 'U') && matchesWordAt(text, i, "url(", true)) {
            i = cssURL(text, i + 3, "", base, out);
            continue;
        }
        ++i;
    }
}

// ---- Scripts ----

class ScriptScanner {
public:
    ScriptScanner(std::string_view text, std::size_t base, References& out)
        : m_text(text)
        , m_base(base)
        , m_out(out)
    {
    }

    void run()
    {
        std::size_t i = 0;
        while (i < m_text.size()) {
            char c = m_text[i];
            if (isMarkupBlank(c)) {
                ++i;
                continue;
            }
            if (std::size_t end = skipComment(i); end != i) {
                i = end;
                continue;
            }
            if (c == '"' || c == '\'' || c == '`') {
                i = stringEnd(i);
                m_last = '"';
                continue;
            }
            if (c == '/') {
                if (regexMayStart()) {
                    i = regexEnd(i);
                    m_last = '"';
                } else {
                    m_last = c;
                    ++i;
                }
                continue;
            }
            if (isScriptNameByte(c)) {
                std::size_t end = i;
                while (end < m_text.size() && isScriptNameByte(m_text[end]))
                    ++end;
                std::string_view word = m_text.substr(i, end - i);
                bool property = m_last == '.';
                m_lastWord = std::string(word);
                m_last = 'a';
                if (!property && word == "import")
                    end = afterImport(end);
                else if (!property && word == "export")
                    end = afterExport(end);
                i = end;
                continue;
            }
            m_last = c;
            m_lastWord.clear();
            ++i;
        }
    }

private:
    // The index after a comment starting at i, or i.
    std::size_t skipComment(std::size_t i) const
    {
        if (m_text[i] != '/' || i + 1 >= m_text.size())
            return i;
        if (m_text[i + 1] == '/') {
            std::size_t end = m_text.find('\n', i);
            return end == std::string_view::npos ? m_text.size() : end + 1;
        }
        if (m_text[i + 1] == '*') {
            std::size_t end = m_text.find("*/", i + 2);
            return end == std::string_view::npos ? m_text.size() : end + 2;
        }
        return i;
    }

    std::size_t skipBlanks(std::size_t i) const
    {
        while (i < m_text.size()) {
            if (isMarkupBlank(m_text[i])) {
                ++i;
                continue;
            }
            std::size_t end = skipComment(i);
            if (end == i)
                break;
            i = end;
        }
        return i;
    }

    // The index after the string, template or regular expression starting at i.
    std::size_t stringEnd(std::size_t i) const
    {
        char quote = m_text[i];
        for (std::size_t j = i + 1; j < m_text.size(); ++j) {
            if (m_text[j] == '\\') {
                ++j;
                continue;
            }
            if (m_text[j] == quote)
                return j + 1;
            if (quote != '`' && m_text[j] == '\n')
                return j + 1;
        }
        return m_text.size();
    }

    bool regexMayStart() const
    {
        static const std::set<std::string, std::less<>> keywords { "return", "typeof", "case",
            "do", "else", "in", "instanceof", "new", "delete", "void", "throw", "yield",
            "await" };
        if (m_last == 'a')
            return keywords.count(m_lastWord) > 0;
        return m_last != ')' && m_last != ']' && m_last != '}' && m_last != '"';
    }

    std::size_t regexEnd(std::size_t i) const
    {
        bool inClass = false;
        for (std::size_t j = i + 1; j < m_text.size(); ++j) {
            char c = m_text[j];
            if (c == '\\') {
                ++j;
            } else if (c == '\n') {
                return j;
            } else if (inClass) {
                inClass = c != ']';
            } else if (c == '[') {
                inClass = true;
            } else if (c == '/') {
                return j + 1;
            }
        }
        return m_text.size();
    }

    // A quoted specifier at i: recorded, and the index after it; else nothing.
    std::optional<std::size_t> specifier(std::size_t i)
    {
        if (i >= m_text.size() || (m_text[i] != '"' && m_text[i] != '\''))
            return std::nullopt;
        std::size_t end = stringEnd(i);
        if (end <= i + 1 || m_text[end - 1] != m_text[i])
            return std::nullopt;
        std::string_view value = m_text.substr(i + 1, end - i - 2);
        // Escapes would need decoding; a specifier written with them is left alone.
        if (value.find('\\') == std::string_view::npos)
            m_out.push_back({ m_base + i + 1, value.size(), std::string(value), "js", true });
        return end;
    }

    std::size_t afterImport(std::size_t i)
    {
        std::size_t j = skipBlanks(i);
        if (j >= m_text.size())
            return j;
        char c = m_text[j];
        if (c == '(') {
            std::size_t k = skipBlanks(j + 1);
            std::size_t before = m_out.size();
            auto end = specifier(k);
            if (!end)
                return j;
            std::size_t close = skipBlanks(*end);
            // Only a literal argument alone (or with options) names a fixed file.
            if (close < m_text.size() && (m_text[close] == ')' || m_text[close] == ','))
                return close;
            m_out.resize(before);
            return *end;
        }
        if (c == '.')
            return j; // import.meta
        if (c == '"' || c == '\'') {
            m_last = '"';
            return specifier(j).value_or(j + 1);
        }
        return fromClause(j);
    }

    std::size_t afterExport(std::size_t i)
    {
        std::size_t j = skipBlanks(i);
        if (j < m_text.size() && (m_text[j] == '*' || m_text[j] == '{'))
            return fromClause(j);
        return j;
    }

    // Over the bindings of "import x, { a as b } from" or "export * as n from" to the
    // specifier after "from"; stops at anything else a clause cannot hold.
    std::size_t fromClause(std::size_t j)
    {
        int braces = 0;
        while (j < m_text.size()) {
            j = skipBlanks(j);
            if (j >= m_text.size())
                break;
            char c = m_text[j];
            if (c == '{') {
                ++braces;
                ++j;
            } else if (c == '}') {
                --braces;
                ++j;
                if (braces < 0)
                    return j;
            } else if (c == ',' || c == '*') {
                ++j;
            } else if ((c == '"' || c == '\'') && braces > 0) {
                j = stringEnd(j); // a string export name
            } else if (isScriptNameByte(c)) {
                std::size_t end = j;
                while (end < m_text.size() && isScriptNameByte(m_text[end]))
                    ++end;
                bool from = braces == 0 && m_text.substr(j, end - j) == "from";
                j = end;
                if (from) {
                    std::size_t k = skipBlanks(j);
                    m_last = '"';
                    return specifier(k).value_or(k);
                }
            } else {
                return j;
            }
        }
        return j;
    }

    std::string_view m_text;
    std::size_t m_base;
    References& m_out;
    char m_last = ';'; // the last significant character; 'a' after a word, '"' after a literal
    std::string m_lastWord;
};

// ---- Pages ----

std::string decodedAttribute(std::string_view value)
{
    std::string out(value);
    for (std::size_t at = out.find("&amp;"); at != std::string::npos; at = out.find("&amp;", at + 1))
        out.replace(at, 5, "&");
    return out;
}

using Attribute = MarkupAttribute;

void addSrcset(const Attribute& attribute, const std::string& kind, References& out)
{
    std::string_view value = attribute.value;
    std::size_t i = 0;
    while (i < value.size()) {
        while (i < value.size() && (isMarkupBlank(value[i]) || value[i] == ','))
            ++i;
        std::size_t start = i;
        while (i < value.size() && !isMarkupBlank(value[i]))
            ++i;
        std::size_t end = i;
        while (end > start && value[end - 1] == ',')
            --end;
        if (end > start)
            out.push_back({ attribute.offset + start, end - start,
                decodedAttribute(value.substr(start, end - start)), kind, false });
        // The descriptors, up to the comma that ends the candidate.
        if (end == i) {
            while (i < value.size() && value[i] != ',')
                ++i;
        }
    }
}

std::string linkKind(const std::vector<Attribute>& attributes)
{
    std::string rel;
    std::string as;
    for (const Attribute& attribute : attributes) {
        if (attribute.name == "rel")
            rel = " " + toLowerAscii(std::string(attribute.value)) + " ";
        else if (attribute.name == "as")
            as = toLowerAscii(std::string(attribute.value));
    }
    for (char& c : rel) {
        if (isMarkupBlank(c))
            c = ' ';
    }
    if (rel.find(" stylesheet ") != std::string::npos)
        return "css";
    if (rel.find(" modulepreload ") != std::string::npos)
        return "js";
    if (rel.find(" icon ") != std::string::npos || rel.find(" apple-touch-icon ") != std::string::npos)
        return "image";
    if (rel.find(" preload ") != std::string::npos) {
        if (as == "style")
            return "css";
        if (as == "script")
            return "js";
        if (as == "font")
            return "font";
        if (as == "image")
            return "image";
    }
    return "";
}

std::string sourceKind(const std::string& tag)
{
    if (tag == "script")
        return "js";
    if (tag == "video" || tag == "audio" || tag == "track")
        return "media";
    if (tag == "iframe" || tag == "frame")
        return "html";
    return "image";
}

void scanPage(std::string_view text, References& out)
{
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t open = text.find('<', i);
        if (open == std::string_view::npos)
            break;
        if (text.substr(open, 4) == "<!--") {
            std::size_t end = text.find("-->", open + 4);
            i = end == std::string_view::npos ? text.size() : end + 3;
            continue;
        }
        std::size_t nameEnd = open + 1;
        while (nameEnd < text.size() && isAsciiAlnum(text[nameEnd]))
            ++nameEnd;
        if (nameEnd == open + 1) {
            i = open + 1;
            continue;
        }
        std::string tag = toLowerAscii(std::string(text.substr(open + 1, nameEnd - open - 1)));
        std::vector<Attribute> attributes;
        i = markupTagAttributes(text, nameEnd, attributes);
        bool module = false;
        for (const Attribute& attribute : attributes) {
            if (attribute.name == "type")
                module = toLowerAscii(std::string(attribute.value)) == "module";
            if (attribute.value.empty())
                continue;
            if (attribute.name == "src" || attribute.name == "poster"
                || (attribute.name == "data" && tag == "object"))
                out.push_back({ attribute.offset, attribute.value.size(),
                    decodedAttribute(attribute.value),
                    attribute.name == "src" ? sourceKind(tag) : "image", false });
            else if (attribute.name == "srcset" || attribute.name == "imagesrcset")
                addSrcset(attribute, "image", out);
            else if (attribute.name == "style")
                scanStyleSheet(attribute.value, attribute.offset, out);
        }
        if (tag == "link") {
            std::string kind = linkKind(attributes);
            for (const Attribute& attribute : attributes) {
                if (attribute.name == "href" && !kind.empty() && !attribute.value.empty())
                    out.push_back({ attribute.offset, attribute.value.size(),
                        decodedAttribute(attribute.value), kind, false });
            }
        }
        // The text of a script or style element is not markup.
        if (tag == "script" || tag == "style") {
            std::string close = "</" + tag;
            std::size_t end = i;
            while (end < text.size() && !matchesWordAt(text, end, close, true))
                ++end;
            std::string_view body = text.substr(i, end - i);
            if (tag == "style")
                scanStyleSheet(body, i, out);
            else if (module)
                ScriptScanner(body, i, out).run();
            i = end;
        }
    }
}

} // namespace

std::vector<LocalCopyReference> localCopyReferences(std::string_view text, std::string_view kind)
{
    References out;
    if (kind == "css")
        scanStyleSheet(text, 0, out);
    else if (kind == "js")
        ScriptScanner(text, 0, out).run();
    else if (kind == "html")
        scanPage(text, out);
    std::stable_sort(out.begin(), out.end(),
        [](const LocalCopyReference& a, const LocalCopyReference& b) { return a.offset < b.offset; });
    return out;
}

std::vector<SourceResource> localCopyNamedResources(
    std::string_view text, std::string_view kind, std::string_view fileURL)
{
    std::vector<SourceResource> named;
    std::set<std::string> seen;
    for (const LocalCopyReference& reference : localCopyReferences(text, kind)) {
        auto resolved = reference.address.empty()
            ? std::nullopt
            : resolveURLReference(fileURL, reference.address);
        if (!resolved)
            continue;
        std::string url = withoutFragment(*resolved);
        auto address = parsePlainAddress(url);
        if (!address || !address->isHTTP() || address->host.empty())
            continue;
        if (seen.insert(url).second)
            named.push_back({ url, reference.kind });
    }
    return named;
}

std::string localCopyReferenceLink(
    const std::vector<std::string>& from, const std::vector<std::string>& to, bool moduleSpecifier)
{
    std::string link = relativeLocalLink(from, to);
    if (moduleSpecifier && !link.starts_with("./") && !link.starts_with("../"))
        link = "./" + link;
    return link;
}

std::string rewriteLocalCopyReferences(std::string_view text, std::string_view kind,
    std::string_view fileURL, const std::vector<std::string>& fileNames,
    const std::map<std::string, std::vector<std::string>>& copied,
    const LocalCopyLinkRewriter& rest, std::string_view restBase)
{
    std::vector<LocalCopyLinkRewriter::Edit> edits;
    std::size_t done = 0;
    for (const LocalCopyReference& reference : localCopyReferences(text, kind)) {
        if (reference.offset < done || reference.address.empty())
            continue;
        auto resolved = resolveURLReference(fileURL, reference.address);
        if (!resolved)
            continue;
        std::size_t hash = resolved->find('#');
        auto target = copied.find(resolved->substr(0, hash));
        if (target == copied.end())
            continue;
        std::string link
            = localCopyReferenceLink(fileNames, target->second, reference.moduleSpecifier);
        if (hash != std::string::npos)
            link += resolved->substr(hash);
        edits.push_back({ reference.offset, reference.length, std::move(link) });
        done = reference.offset + reference.length;
    }
    return rest.rewrite(text, restBase, kind, edits);
}

} // namespace qv
