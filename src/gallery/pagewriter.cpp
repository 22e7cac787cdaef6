#include "gallery/pagewriter.h"

#include <algorithm>
#include <array>
#include <string>

#include "gallery/pageencoding.h"

namespace pictarre {

namespace {

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

void appendPercent(std::string& out, unsigned char c)
{
    out += '%';
    out += kHexDigits[c >> 4];
    out += kHexDigits[c & 15];
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
    PageTextDecoder decoder(path);
    char32_t c = 0;
    std::size_t length = 0;
    for (std::size_t at = 0; decoder.next(c, length); at += length) {
        if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c == '&' && startsCharacterReference(path, at)) {
            out += "&amp;";
        } else if (decoder.wellFormed()) {
            out.append(path.substr(at, length));
        } else {
            out += replacementCharacter();
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

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool isUnreserved(unsigned char c)
{
    return isAsciiAlnum(static_cast<char>(c)) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
}

}  // namespace

std::optional<std::string> pathOfPageAddress(std::string_view address)
{
    // The page writes "&" as "&amp;" where a parser could take it for a reference, and the
    // other escapes as %XX; undo them in that order.
    std::string path;
    path.reserve(address.size());
    for (std::size_t i = 0; i < address.size();) {
        const char c = address[i];
        if (c == '&' && address.substr(i, 5) == "&amp;") {
            path += '&';
            i += 5;
        } else if (c == '%') {
            if (i + 2 >= address.size() || hexValue(address[i + 1]) < 0 || hexValue(address[i + 2]) < 0)
                return std::nullopt;
            path += static_cast<char>(hexValue(address[i + 1]) * 16 + hexValue(address[i + 2]));
            i += 3;
        } else {
            path += c;
            ++i;
        }
    }
    return path;
}

std::string percentEncodePath(std::string_view path)
{
    std::string url;
    url.reserve(path.size());
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c))
            url += ch;
        else
            appendPercent(url, c);
    }
    return url;
}

std::string fileUrlOfFolder(std::string_view folder)
{
    std::string url = "file://" + percentEncodePath(folder);
    if (url.back() != '/')
        url += '/';
    return url;
}

}  // namespace pictarre
