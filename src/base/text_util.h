// Small text helpers shared by the pure logic: trimming and UTF-8 validity.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qv {

// Space, tab, CR and LF removed from both ends; all-blank input gives "".
std::string trim(std::string_view text);

// The text with &, <, >, " and ' replaced by character references, safe inside element
// content and quoted attribute values.
std::string htmlEscaped(std::string_view text);

// The text when it is valid UTF-8, otherwise "" (a string without a UTF-8 form).
std::string utf8FromString(std::string_view text);

bool isValidUtf8(std::string_view text);

// Invalid sequences replaced by U+FFFD, so the text can always be serialised.
std::string sanitizeUtf8(std::string_view text);

// At most maxBytes of the text, cut back to the start of a UTF-8 character so no sequence is split.
std::string cutUtf8(std::string text, size_t maxBytes);

// ASCII classes, whatever the locale.
constexpr bool isAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool isAsciiAlnum(char c) { return isAsciiAlpha(c) || isAsciiDigit(c); }

std::string toLowerAscii(std::string_view text);

// The last component of a slash-separated path, trailing slashes ignored; "" when it names no
// file of its own ("", "/", ".", "..") or holds NUL.
std::string lastPathComponent(std::string_view path);

// A page's title as the chrome may show it: bidirectional embeddings, overrides, isolates and
// marks and other invisible format characters removed, C0 and C1 controls and line or paragraph
// separators turned into spaces, runs of spaces collapsed, both ends trimmed, invalid UTF-8
// replaced, and at most kMaxDisplayedTitleCharacters characters kept ("…" marks a cut). A
// title made only of such characters gives "". What is stored keeps the page's own text.
inline constexpr size_t kMaxDisplayedTitleCharacters = 1024;
std::string displaySafeTitle(std::string_view title);

// Standard base64 with padding; decoding refuses anything else.
// A base64 digit's value, or -1 for anything that is not one.
int base64DigitValue(char c);
std::string base64Encode(std::string_view bytes);
std::optional<std::string> base64Decode(std::string_view text);

bool startsWith(std::string_view text, std::string_view prefix);
bool endsWith(std::string_view text, std::string_view suffix);

} // namespace qv
