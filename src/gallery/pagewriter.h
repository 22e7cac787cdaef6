#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pictarre {

// The page's paths are written unchanged except where a byte would break the link or inject
// markup in the browser, or would make the page invalid UTF-8. Exactly these escapes:
//  - inside src and href values: % # ? " < > \ and every byte below 0x20 percent-encoded
//    ("%XX", upper-case hex): the URL parser would read them as a fragment, a query, the end of
//    the value, a tag, a separator, or drop them;
//  - in the link text: < and > written as "&lt;" and "&gt;";
//  - in both: an "&" that a parser could read as the start of a character reference written as
//    "&amp;": one followed by "#", by ASCII letters, digits or "#" closed by ";", or by one of
//    the 106 names decoded without ";"; every other "&" stays;
//  - in both: a byte sequence that is not well-formed UTF-8 (a name written in Latin-1 or GBK,
//    a cut sequence, an overlong form, a surrogate), taken as maximal subparts as Unicode and
//    the WHATWG decoder define them: every byte of it percent-encoded in src and href, so the
//    address names the file's real bytes, and each subpart written as one U+FFFD in the link
//    text, so the page is valid UTF-8 as a whole. Under a locale of another encoding the link
//    text follows that encoding instead: a character valid in it is kept as it is, and only a
//    byte that starts no character becomes the replacement character (pageencoding.h).
// Spaces, other "&" and well-formed non-ASCII text are kept byte for byte.

// A path made safe for a src or href value.
std::string escapeUrl(std::string_view path);

// A path made safe as link text.
std::string escapeText(std::string_view path);

// The page's pieces, each line ended by CR LF, appended to `out`.
void appendPageHeader(std::string& out);
void appendFlowEntry(std::string& out, std::string_view path);
void appendRowEntry(std::string& out, std::string_view path, std::int32_t width, std::int32_t height);
void appendPageFooter(std::string& out);

// The path a src or href value of the gallery page names: its character references and %XX
// escapes undone, giving the path's bytes. Nothing when a "%" is not followed by two hex digits.
std::optional<std::string> pathOfPageAddress(std::string_view address);

// A path (native bytes) as the path of a URL: every byte other than ASCII letters, digits and
// "-._~/" percent-encoded, so any name, in any encoding, survives the URL parser unchanged.
std::string percentEncodePath(std::string_view path);

// A file: URL for an absolute folder path (native bytes), ending in "/".
std::string fileUrlOfFolder(std::string_view folder);

}  // namespace pictarre
