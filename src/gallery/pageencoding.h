#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pictarre {

// Upper-case hexadecimal digits, for the %XX and \uXXXX escapes of the page.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// The text encoding the browser views read the program's pages in, and the one its page writer
// writes link texts in: the codeset of the process's locale, or UTF-8 where the locale names
// none (the C/POSIX locale), since file names are UTF-8 in practice there.
std::string pageEncoding();
bool pageEncodingIsUtf8();

// The bytes at `at` as UTF-8: the length of the well-formed sequence that starts there, or of
// the maximal subpart of an ill-formed one (the longest start of a well-formed sequence, at
// least one byte), as Unicode's table of well-formed byte sequences defines them.
struct Utf8Sequence {
    std::size_t length;
    bool wellFormed;
};
Utf8Sequence utf8SequenceAt(std::string_view text, std::size_t at);

// Reads text in the page encoding one character at a time, as the browser's decoder does:
// each well-formed character gives its code point; a byte sequence that is not a character
// gives U+FFFD (in UTF-8 a maximal subpart at a time, in other encodings one byte at a time).
class PageTextDecoder {
public:
    explicit PageTextDecoder(std::string_view text);
    // The next character's code point and its length in bytes; false at the end of the text.
    bool next(char32_t& codePoint, std::size_t& length);
    // True when the character just read was well-formed.
    bool wellFormed() const { return wellFormed_; }

private:
    std::string_view text_;
    std::size_t at_ = 0;
    bool utf8_;
    bool wellFormed_ = true;
};

// U+FFFD in the page encoding, or "?" in an encoding that has no such character.
std::string_view replacementCharacter();

// Appends `text` (in the page encoding) as a script string literal of plain ASCII: every
// character outside printable ASCII, and " \ < > &, as a \uXXXX escape of the character the page
// would decode. Such a literal reads back as the same characters in any page encoding and
// cannot end the script element it stands in.
void appendScriptString(std::string_view text, std::string& out);

}  // namespace pictarre
