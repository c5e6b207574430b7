// What typed address-field text asks for: normalisation, candidates, probes and search addresses.
#pragma once

#include "profiles/profile_model.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Unicode white space and line breaks removed from both ends (UTF-8 in, UTF-8 out).
std::string trimUnicodeWhitespace(std::string_view text);

// An absolute http/https address for text that names a site ("site.test" gives
// "https://www.site.test", "localhost:8080" gives "https://localhost:8080"), or nothing.
std::optional<std::string> normalizedAddress(std::string_view text);

// The address text of a raw HTTP request ("GET /x HTTP/1.1" plus headers, the Host header
// giving "http://host/x"), or nothing when the bytes do not begin with "GET " or "GET\t".
std::optional<std::string> addressFromRawRequest(std::string_view bytes);

// The input of a submission: invalid UTF-8 gives "", a final "#" dropped, blanks trimmed, a raw
// request reduced to its address, then Unicode white space trimmed. "" means nothing to submit.
std::string submissionInput(std::string_view fieldText);

// Top-level domains tried for a bare word, in order of preference.
inline constexpr std::array<std::string_view, 6> kBareWordDomains
    = { "com", "org", "net", "app", "me", "click" };

// The ordered, duplicate-free addresses to probe for an input, most preferred first ("news"
// gives https://news, https://www.news, https://www.news.com ... https://www.news.click).
// Text typed without a scheme never yields a candidate that carries user info.
std::vector<std::string> addressCandidates(std::string_view input);

enum class PathKind { None, File, Folder };

// Who submitted: an extension's submit never opens a local file.
enum class SubmitOrigin { User, Extension };

struct RequestContext {
    // Replaces "~" at the start of a path; when empty, "~" paths are not local.
    std::string homeDirectory;
    // What exists at an absolute path; when unset nothing exists.
    std::function<PathKind(const std::string& path)> pathKind;
    SubmitOrigin origin = SubmitOrigin::User;
};

enum class RequestKind {
    Ignore, // nothing to submit: the generation does not advance
    OpenFile, // load fileAddress granting read access to readAccessAddress
    Search, // load the search address for input now, without probing
    Probe, // probe candidates; the first answering one wins, else search for input
};

struct RequestDecision {
    RequestKind kind = RequestKind::Ignore;
    std::string input;
    std::string fileAddress;
    std::string readAccessAddress;
    std::vector<std::string> candidates;
};

// The whole decision of one submission of the address field's text. Every kind but Ignore
// advances the submission counter. Text is local only when it starts with "/" or "~/", is
// exactly "~", or is a file:// address, and only when something exists there.
RequestDecision decideRequest(std::string_view fieldText, const RequestContext& context);

// 200 to 499 answers, except 404 and 410.
bool isAnsweringStatus(int status);

// The probe of one candidate so far: not finished yet, or finished with the HTTP status it got
// (nothing when it failed, timed out, got no HTTP response or was not sent).
struct ProbeAnswer {
    bool finished = false;
    std::optional<int> status;
};

enum class ProbeSettlement { Pending, Winner, NoWinner };

struct SettledProbe {
    ProbeSettlement settlement = ProbeSettlement::Pending;
    size_t winner = 0;
};

// What the answers so far settle. The winner is the first candidate, in list order, that
// answered; it is certain as soon as every candidate before it has finished without answering,
// so a slow later candidate never delays it.
SettledProbe settledProbe(const std::vector<ProbeAnswer>& answers);

// The web-search host of an engine name (unknown names get Google's).
std::string_view searchEngineHost(std::string_view engine);

// The search address for query under the profile's engine ("Google" without a profile).
std::string searchURLForProfile(std::string_view query, const BrowserProfile* profile);

// The profile's search address for an empty query.
std::string homePageURLForProfile(const BrowserProfile* profile);

// The home page of the profile with this ID; an empty ID means "default".
std::string homePageURLForProfile(const std::vector<BrowserProfile>& profiles, std::string_view id);

} // namespace qv
