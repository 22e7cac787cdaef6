#include "gallery/pageencoding.h"

#include <climits>
#include <clocale>
#include <cstring>
#include <cwchar>

#include <langinfo.h>

namespace pictarre {

std::string pageEncoding()
{
    const char* codeset = nl_langinfo(CODESET);
    if (codeset == nullptr || *codeset == '\0' || std::strcmp(codeset, "ANSI_X3.4-1968") == 0
        || strcasecmp(codeset, "ASCII") == 0)
        return "UTF-8";
    return codeset;
}

bool pageEncodingIsUtf8()
{
    const std::string encoding = pageEncoding();
    return strcasecmp(encoding.c_str(), "UTF-8") == 0 || strcasecmp(encoding.c_str(), "UTF8") == 0;
}

Utf8Sequence utf8SequenceAt(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80)
        return {1, true};
    std::size_t trailing = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trailing = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trailing = 2;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailing = 3;
        low = lead == 0xF0 ? 0x90 : 0x80;   // no overlong forms
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        return {1, false};
    }
    for (std::size_t i = 1; i <= trailing; ++i) {
        if (at + i >= text.size())
            return {i, false};
        const auto next = static_cast<unsigned char>(text[at + i]);
        if (next < low || next > high)
            return {i, false};
        low = 0x80;
        high = 0xBF;
    }
    return {trailing + 1, true};
}

PageTextDecoder::PageTextDecoder(std::string_view text) : text_(text), utf8_(pageEncodingIsUtf8()) {}

bool PageTextDecoder::next(char32_t& codePoint, std::size_t& length)
{
    if (at_ >= text_.size())
        return false;
    const auto lead = static_cast<unsigned char>(text_[at_]);
    wellFormed_ = true;
    if (lead < 0x80) {
        codePoint = lead;
        length = 1;
    } else if (utf8_) {
        const Utf8Sequence sequence = utf8SequenceAt(text_, at_);
        length = sequence.length;
        wellFormed_ = sequence.wellFormed;
        if (!wellFormed_) {
            codePoint = 0xFFFD;
        } else {
            static constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
            codePoint = lead & kLeadMask[length];
            for (std::size_t i = 1; i < length; ++i)
                codePoint = (codePoint << 6) | (static_cast<unsigned char>(text_[at_ + i]) & 0x3F);
        }
    } else {
        std::mbstate_t state{};
        wchar_t wide = 0;
        const std::size_t got = std::mbrtowc(&wide, text_.data() + at_, text_.size() - at_, &state);
        if (got == 0 || got == static_cast<std::size_t>(-1) || got == static_cast<std::size_t>(-2)) {
            codePoint = 0xFFFD;
            length = 1;
            wellFormed_ = false;
        } else {
            codePoint = static_cast<char32_t>(wide);
            length = got;
        }
    }
    at_ += length;
    return true;
}

std::string_view replacementCharacter()
{
    if (pageEncodingIsUtf8())
        return "\xEF\xBF\xBD";
    // The locale's own bytes for U+FFFD (GB18030 has them; GBK and Big5 do not).
    thread_local std::string encoded;
    char bytes[MB_LEN_MAX];
    std::mbstate_t state{};
    const std::size_t got = std::wcrtomb(bytes, L'\xFFFD', &state);
    encoded = got == static_cast<std::size_t>(-1) ? std::string("?") : std::string(bytes, got);
    return encoded;
}

void appendScriptString(std::string_view text, std::string& out)
{
    const auto escape = [&out](char32_t unit) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4)
            out += kHexDigits[(unit >> shift) & 15];
    };
    out += '"';
    PageTextDecoder decoder(text);
    char32_t c = 0;
    std::size_t length = 0;
    while (decoder.next(c, length)) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && c != '<' && c != '>' && c != '&') {
            out += static_cast<char>(c);
        } else if (c > 0xFFFF) {
            escape(0xD800 + ((c - 0x10000) >> 10));  // a surrogate pair, as script strings hold it
            escape(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            escape(c);
        }
    }
    out += '"';
}

}  // namespace pictarre
