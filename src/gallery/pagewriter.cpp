#include "gallery/pagewriter.h"

#include <algorithm>
#include <array>
#include <string>

namespace pictarre {

namespace {

// U+FFFD in UTF-8: what the link text shows for bytes that are not UTF-8.
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool isAsciiAlnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The named references the page language decodes even without a closing ";".
constexpr std::array<std::string_view, 106> kLegacyNames = {
    "AElig", "AMP", "Aacute", "Acirc", "Agrave", "Aring", "Atilde", "Auml", "COPY", "Ccedil",
    "ETH", "Eacute", "Ecirc", "Egrave", "Euml", "GT", "Iacute", "Icirc", "Igrave", "Iuml",
    "LT", "Ntilde", "Oacute", "Ocirc", "Ograve", "Oslash", "Otilde", "Ouml", "QUOT", "REG",
    "THORN", "Uacute", "Ucirc", "Ugrave", "Uuml", "Yacute", "aacute", "acirc", "acute", "aelig",
    "agrave", "amp", "aring", "atilde", "auml", "brvbar", "ccedil", "cedil", "cent", "copy",
    "curren", "deg", "divide", "eacute", "ecirc", "egrave", "eth", "euml", "frac12", "frac14",
    "frac34", "gt", "iacute", "icirc", "iexcl", "igrave", "iquest", "iuml", "laquo", "lt",
    "macr", "micro", "middot", "nbsp", "not", "ntilde", "oacute", "ocirc", "ograve", "ordf",
    "ordm", "oslash", "otilde", "ouml", "para", "plusmn", "pound", "quot", "raquo", "reg",
    "sect", "shy", "sup1", "sup2", "sup3", "szlig", "thorn", "times", "uacute", "ucirc",
    "ugrave", "uml", "uuml", "yacute", "yen", "yuml",
};

// True when the "&" at `at` would be read as the start of a character reference: letters,
// digits or "#" closed by ";" (as in "a&amp;b.jpg"), a numeric reference, or one of the old
// named references that need no ";".
bool startsCharacterReference(std::string_view text, std::size_t at)
{
    const std::string_view rest = text.substr(at + 1);
    if (!rest.empty() && rest.front() == '#')
        return true;
    const auto end = std::find_if_not(rest.begin(), rest.end(), [](char c) { return isAsciiAlnum(c) || c == '#'; });
    if (end != rest.begin() && end != rest.end() && *end == ';')
        return true;
    return std::any_of(kLegacyNames.begin(), kLegacyNames.end(),
                       [&](std::string_view name) { return rest.starts_with(name); });
}

// The bytes at `at` as UTF-8: the length of the well-formed sequence that starts there, or of
// the maximal subpart of an ill-formed one (the longest start of a well-formed sequence, at
// least one byte). The ranges are those of Unicode's table of well-formed byte sequences.
struct Utf8Sequence {
    std::size_t length;
    bool wellFormed;
};

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

void appendPercent(std::string& out, unsigned char c)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

void appendLine(std::string& out, std::string_view line)
{
    out += line;
    out += "\r\n";
}

}  // namespace

std::string escapeUrl(std::string_view path)
{
    std::string out;
    out.reserve(path.size());
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        switch (c) {
        case '%': case '#': case '?': case '"': case '<': case '>':
        // The URL parser reads a backslash in a file URL as a separator and drops tabs and line
        // breaks; on this platform they are ordinary name characters.
        case '\\':
            appendPercent(out, c);
            break;
        case '&':
            out += startsCharacterReference(path, i) ? "&amp;" : "&";
            break;
        default:
            if (c < 0x20) {
                appendPercent(out, c);
            } else if (c < 0x80) {
                out += static_cast<char>(c);
            } else {
                const Utf8Sequence sequence = utf8SequenceAt(path, i);
                if (sequence.wellFormed) {
                    out.append(path.substr(i, sequence.length));
                } else {
                    for (std::size_t k = 0; k < sequence.length; ++k)
                        appendPercent(out, static_cast<unsigned char>(path[i + k]));
                }
                i += sequence.length - 1;
            }
        }
    }
    return out;
}

std::string escapeText(std::string_view path)
{
    std::string out;
    out.reserve(path.size());
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c == '&' && startsCharacterReference(path, i)) {
            out += "&amp;";
        } else if (static_cast<unsigned char>(c) < 0x80) {
            out += c;
        } else {
            const Utf8Sequence sequence = utf8SequenceAt(path, i);
            if (sequence.wellFormed)
                out.append(path.substr(i, sequence.length));
            else
                out += kReplacementCharacter;
            i += sequence.length - 1;
        }
    }
    return out;
}

void appendPageHeader(std::string& out)
{
    appendLine(out, "<body oncontextmenu=self.event.returnValue=false topmargin=0 leftmargin=0 "
                    "rightmargin=0 bottommargin=0>");
    appendLine(out, "<center>");
    appendLine(out, "<table border=\"1\" cellpadding=\"0\" cellspacing=\"0\" style=\"border-collapse: "
                    "collapse\" bordercolor=\"#111111\" width=\"100%\" id=\"AutoNumber1\">");
    appendLine(out, "");
}

void appendFlowEntry(std::string& out, std::string_view path)
{
    const std::string url = escapeUrl(path);
    // The entry's text ends with its own line break, so an empty line follows every entry.
    appendLine(out, "<a href=\"" + url + "\" target=\"_blank\"><img border=\"1\" src=\"" + url +
                        "\"></a> \r\n");
}

void appendRowEntry(std::string& out, std::string_view path, std::int32_t width, std::int32_t height)
{
    const std::string url = escapeUrl(path);
    appendLine(out, "<tr>");
    appendLine(out, "<td width=\"100%\">");
    appendLine(out, "<p align=\"center\">");
    appendLine(out, "<img border=\"0\" src=\"" + url + "\" width=\"" + std::to_string(width) + "\" height=\"" +
                        std::to_string(height) + "\"></td>");
    appendLine(out, "</tr>");
    appendLine(out, "<tr>");
    appendLine(out, "<td width=\"100%\" height=\"30\">");
    // Before an absolute path this gives four slashes; the engine reads "file:////p" as
    // "file:///p", so the link still opens the file.
    appendLine(out, "<p align=\"center\"><a target=\"_blank\" href=\"file:///" + url + "\">" +
                        escapeText(path) + "</a></td> ");
    appendLine(out, "</tr>");
}

void appendPageFooter(std::string& out)
{
    appendLine(out, "");
    appendLine(out, "</table>");
    appendLine(out, "</center>");
    appendLine(out, "</body>");
}

}  // namespace pictarre
