#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Undoing the gallery page's character references in link text (its addresses are read back
// with pathOfPageAddress), and reading bytes as UTF-8 the way the browser does.
namespace pictarre::test {

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

// A UTF-8 decoder as the WHATWG Encoding Standard writes it, byte by byte with the bytes still
// needed and the bounds of the next one: each maximal subpart of an ill-formed sequence becomes
// one U+FFFD, and well-formed sequences are kept as their bytes. `errors` counts the U+FFFD
// written for ill-formed input.
inline std::string decodeUtf8(std::string_view bytes, std::size_t& errors)
{
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    errors = 0;
    std::size_t needed = 0;
    std::size_t seen = 0;
    std::size_t start = 0;
    unsigned lower = 0x80;
    unsigned upper = 0xBF;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (needed == 0) {
            start = i++;
            if (byte <= 0x7F) {
                out += static_cast<char>(byte);
            } else if (byte >= 0xC2 && byte <= 0xDF) {
                needed = 1;
            } else if (byte >= 0xE0 && byte <= 0xEF) {
                lower = byte == 0xE0 ? 0xA0 : lower;
                upper = byte == 0xED ? 0x9F : upper;
                needed = 2;
            } else if (byte >= 0xF0 && byte <= 0xF4) {
                lower = byte == 0xF0 ? 0x90 : lower;
                upper = byte == 0xF4 ? 0x8F : upper;
                needed = 3;
            } else {
                out += kReplacement;
                ++errors;
            }
            continue;
        }
        if (byte < lower || byte > upper) {
            // The byte is read again as the start of what follows.
            needed = seen = 0;
            lower = 0x80;
            upper = 0xBF;
            out += kReplacement;
            ++errors;
            continue;
        }
        lower = 0x80;
        upper = 0xBF;
        ++i;
        if (++seen == needed) {
            out += bytes.substr(start, i - start);
            needed = seen = 0;
        }
    }
    if (needed != 0) {
        out += kReplacement;
        ++errors;
    }
    return out;
}

// The bytes with every ill-formed UTF-8 sequence shown as U+FFFD, as a browser reads them.
inline std::string withReplacementCharacters(std::string_view bytes)
{
    std::size_t errors = 0;
    return decodeUtf8(bytes, errors);
}

inline bool isValidUtf8(std::string_view bytes)
{
    std::size_t errors = 0;
    decodeUtf8(bytes, errors);
    return errors == 0;
}

}  // namespace pictarre::test
