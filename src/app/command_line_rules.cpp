// Command-line options and how each address argument becomes something a tab opens.
#include "app/command_line_rules.h"

#include "base/text_util.h"
#include "base/url.h"

#include <filesystem>

namespace qv {

namespace {

    bool hasLoadableScheme(std::string_view text)
    {
        std::string lower = toLowerAscii(text.substr(0, 8));
        return startsWith(lower, "http://") || startsWith(lower, "https://")
            || startsWith(lower, "file:");
    }

} // namespace

Result<CommandLineRequest> parseCommandLine(const std::vector<std::string>& arguments)
{
    CommandLineRequest request;
    bool optionsEnded = false;
    for (const std::string& argument : arguments) {
        if (optionsEnded || argument.empty() || argument[0] != '-') {
            request.addresses.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            request.help = true;
        } else if (argument == "--version") {
            request.version = true;
        } else if (argument == "--new-instance") {
            request.newInstance = true;
        } else if (argument == "--new-tab") {
            request.newTab = true;
        } else {
            return Result<CommandLineRequest>::failure("unknown option: " + argument);
        }
    }
    return request;
}

std::string fileAddressForPath(std::string_view absolutePath)
{
    std::string path = std::filesystem::path(absolutePath).lexically_normal().string();
    // A folder keeps no trailing slash of its own, except the root.
    if (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return fileURLFromPath(path);
}

std::optional<LaunchAddress> launchAddressFor(std::string_view argument,
    const std::string& workingDirectory, const std::function<bool(const std::string&)>& exists)
{
    std::string text = trim(argument);
    if (text.empty())
        return std::nullopt;
    if (hasLoadableScheme(text))
        return LaunchAddress { LaunchAddress::Kind::Load, text };
    if (text[0] == '/')
        return LaunchAddress { LaunchAddress::Kind::Load, fileAddressForPath(text) };
    if (!workingDirectory.empty() && workingDirectory[0] == '/') {
        std::string absolute
            = (std::filesystem::path(workingDirectory) / text).lexically_normal().string();
        if (absolute.size() > 1 && absolute.back() == '/')
            absolute.pop_back();
        bool explicitPath
            = startsWith(text, "./") || startsWith(text, "../") || text == "." || text == "..";
        if (explicitPath || (exists && exists(absolute)))
            return LaunchAddress { LaunchAddress::Kind::Load, fileAddressForPath(absolute) };
    }
    return LaunchAddress { LaunchAddress::Kind::Typed, text };
}

std::string commandLineUsage()
{
    return "Usage: quivel-browser [OPTION...] [ADDRESS...]\n"
           "Opens each address in a tab of its own, in the order given. An address is a web or\n"
           "file address, a path to a local file, or text to resolve as if typed into the\n"
           "address field. A running browser is given the addresses and comes to the front.\n"
           "\n"
           "Options:\n"
           "  -h, --help        show this help and exit\n"
           "      --version     show the version and exit\n"
           "      --new-tab     open a tab on the home page (in a running browser too)\n"
           "      --new-instance  start a browser of its own, even when one is running\n"
           "                    (as does the environment variable QV_NON_UNIQUE=1)\n"
           "      --            every later argument is an address\n";
}

std::string versionText(std::string_view version)
{
    return "Quivel Browser " + std::string(version) + "\n";
}

} // namespace qv
