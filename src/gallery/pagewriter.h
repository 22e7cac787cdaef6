#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pictarre {

// A path made safe for a src or href value: % # ? " < > percent-encoded, and an "&" that would
// start a character reference written as "&amp;". Everything else is kept byte for byte.
std::string escapeUrl(std::string_view path);

// A path made safe as link text: < > as character references, and an "&" that would start a
// character reference written as "&amp;". Everything else is kept byte for byte.
std::string escapeText(std::string_view path);

// The page's pieces, each line ended by CR LF, appended to `out`.
void appendPageHeader(std::string& out);
void appendFlowEntry(std::string& out, std::string_view path);
void appendRowEntry(std::string& out, std::string_view path, std::int32_t width, std::int32_t height);
void appendPageFooter(std::string& out);

}  // namespace pictarre
