#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Undoing the gallery page's escapes, for checks that read a path back out of a written entry.
namespace pictarre::test {

inline int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The three references the page uses, undone in one left-to-right pass.
inline std::string decodeReferences(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text.substr(i, 5) == "&amp;") {
            out += '&';
            i += 5;
        } else if (text.substr(i, 4) == "&lt;") {
            out += '<';
            i += 4;
        } else if (text.substr(i, 4) == "&gt;") {
            out += '>';
            i += 4;
        } else {
            out += text[i++];
        }
    }
    return out;
}

// Percent-decodes `text` into `out`; false when a "%" is not followed by two hex digits.
inline bool percentDecode(std::string_view text, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0)
            return false;
        out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
        i += 2;
    }
    return true;
}

}  // namespace pictarre::test
