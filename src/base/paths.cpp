// Lexical path containment for folders that fence what a page or extension may reach.
#include "base/paths.h"

#include "base/text_util.h"

namespace qv {

namespace fs = std::filesystem;

namespace {

bool isStandardizedPathStrictlyInside(const std::string& p, const std::string& r)
{
    if (r == "/")
        return p.size() > 1 && p[0] == '/';
    return p.size() > r.size() && startsWith(p, r) && p[r.size()] == '/';
}

} // namespace

fs::path standardizedPath(const fs::path& path)
{
    fs::path normal = path.lexically_normal();
    std::string text = normal.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return fs::path(text);
}

bool isPathInsideOrEqual(const fs::path& path, const fs::path& root)
{
    std::string p = standardizedPath(path).string();
    std::string r = standardizedPath(root).string();
    return p == r || isStandardizedPathStrictlyInside(p, r);
}

bool isPathStrictlyInside(const fs::path& path, const fs::path& root)
{
    return isStandardizedPathStrictlyInside(
        standardizedPath(path).string(), standardizedPath(root).string());
}

} // namespace qv
