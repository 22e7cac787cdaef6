#include "hostile/hostiletree.h"

#include <algorithm>
#include <climits>
#include <string_view>

#include <dirent.h>
#include <sys/stat.h>

#include "gallery/pagewriter.h"
#include "support/pagedecode.h"
#include "support/sandbox.h"

namespace pictarre::test {

namespace {

// A cursor over one line of the page that fails with a message at the first mismatch.
class LineReader {
public:
    LineReader(std::string_view line, std::string& problem) : rest_(line), problem_(problem) {}

    bool literal(std::string_view text)
    {
        if (rest_.substr(0, text.size()) != text)
            return fail("expected \"" + std::string(text) + "\" at \"" + std::string(rest_.substr(0, 60)) + "\"");
        rest_.remove_prefix(text.size());
        return true;
    }

    // An attribute value up to its closing quote: no "<" or ">" may appear in it.
    bool value(std::string& out)
    {
        const std::size_t quote = rest_.find('"');
        if (quote == std::string_view::npos)
            return fail("unterminated attribute value");
        const std::string_view raw = rest_.substr(0, quote);
        if (raw.find_first_of("<>") != std::string_view::npos)
            return fail("markup inside an attribute value: " + std::string(raw));
        out = std::string(raw);
        rest_.remove_prefix(quote + 1);
        return true;
    }

    bool number(std::int32_t& out)
    {
        std::string text;
        if (!value(text))
            return false;
        try {
            std::size_t used = 0;
            const long long n = std::stoll(text, &used);
            if (used != text.size() || n < INT32_MIN || n > INT32_MAX)
                return fail("not a 32-bit number: " + text);
            out = static_cast<std::int32_t>(n);
        } catch (...) {
            return fail("not a number: " + text);
        }
        return true;
    }

    // Link text up to the given closing text, which must end the line.
    bool textUntilEnd(std::string_view closing, std::string& out)
    {
        if (rest_.size() < closing.size() || rest_.substr(rest_.size() - closing.size()) != closing)
            return fail("line does not end with \"" + std::string(closing) + "\"");
        const std::string_view raw = rest_.substr(0, rest_.size() - closing.size());
        if (raw.find_first_of("<>") != std::string_view::npos)
            return fail("markup inside link text: " + std::string(raw));
        out = std::string(raw);
        rest_ = {};
        return true;
    }

    bool end()
    {
        return rest_.empty() ? true : fail("extra text: " + std::string(rest_.substr(0, 60)));
    }

private:
    bool fail(std::string message)
    {
        problem_ = std::move(message);
        return false;
    }

    std::string_view rest_;
    std::string& problem_;
};

// The path behind an escaped attribute value; false when it holds a stray "%".
bool urlPath(const std::string& value, std::string& path, std::string& problem)
{
    const auto decoded = pathOfPageAddress(value);
    if (!decoded) {
        problem = "bad percent escape in " + value;
        return false;
    }
    path = *decoded;
    return true;
}

bool parseFlowEntry(const std::vector<std::string>& lines, std::size_t& at, PageEntry& entry,
                    std::string& problem)
{
    if (at + 1 >= lines.size())
        return (problem = "flow entry cut short", false);
    LineReader line(lines[at], problem);
    std::string href;
    std::string src;
    if (!line.literal("<a href=\"") || !line.value(href) || !line.literal(" target=\"_blank\"><img border=\"1\" src=\"") ||
        !line.value(src) || !line.literal("></a> ") || !line.end())
        return false;
    if (!lines[at + 1].empty())
        return (problem = "no empty line after a flow entry", false);
    if (href != src)
        return (problem = "link and picture differ: " + href + " / " + src, false);
    at += 2;
    return urlPath(src, entry.path, problem);
}

bool parseRowEntry(const std::vector<std::string>& lines, std::size_t& at, PageEntry& entry,
                   std::string& problem)
{
    if (at + 9 > lines.size())
        return (problem = "row entry cut short", false);
    const std::string_view fixed[] = {"<tr>", "<td width=\"100%\">", "<p align=\"center\">", {}, "</tr>",
                                      "<tr>", "<td width=\"100%\" height=\"30\">", {}, "</tr>"};
    for (std::size_t i = 0; i < 9; ++i)
        if (!fixed[i].empty() && lines[at + i] != fixed[i])
            return (problem = "row line " + std::to_string(i + 1) + " is \"" + std::string(lines[at + i]) + "\"", false);
    std::string src;
    LineReader image(lines[at + 3], problem);
    if (!image.literal("<img border=\"0\" src=\"") || !image.value(src) || !image.literal(" width=\"") ||
        !image.number(entry.width) || !image.literal(" height=\"") || !image.number(entry.height) ||
        !image.literal("></td>") || !image.end())
        return false;
    std::string href;
    std::string text;
    LineReader link(lines[at + 7], problem);
    if (!link.literal("<p align=\"center\"><a target=\"_blank\" href=\"file:///") || !link.value(href) ||
        !link.literal(">") || !link.textUntilEnd("</a></td> ", text))
        return false;
    if (href != src)
        return (problem = "link and picture differ: " + href + " / " + src, false);
    if (!urlPath(src, entry.path, problem))
        return false;
    // The link text shows the path as the browser reads it: bytes that are not UTF-8 as U+FFFD.
    if (decodeReferences(text) != withReplacementCharacters(entry.path))
        return (problem = "link text " + text + " does not name " + entry.path, false);
    at += 9;
    return true;
}

}  // namespace

ParsedPage parsePage(const std::string& page, Layout layout)
{
    ParsedPage parsed;
    bool endsWithCrlf = false;
    const std::vector<std::string> lines = crlfLines(page, &endsWithCrlf);
    static constexpr std::string_view kHeader[] = {
        "<body oncontextmenu=self.event.returnValue=false topmargin=0 leftmargin=0 rightmargin=0 bottommargin=0>",
        "<center>",
        "<table border=\"1\" cellpadding=\"0\" cellspacing=\"0\" style=\"border-collapse: collapse\" "
        "bordercolor=\"#111111\" width=\"100%\" id=\"AutoNumber1\">",
        ""};
    static constexpr std::string_view kFooter[] = {"", "</table>", "</center>", "</body>"};
    if (!endsWithCrlf || lines.size() < 8) {
        parsed.problem = "page is not whole CR LF lines with header and footer";
        return parsed;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        if (lines[i] != kHeader[i] || lines[lines.size() - 4 + i] != kFooter[i]) {
            parsed.problem = "header or footer line " + std::to_string(i + 1) + " differs";
            return parsed;
        }
    }
    if (!isValidUtf8(page)) {
        parsed.problem = "page is not valid UTF-8";
        return parsed;
    }
    const std::vector<std::string> body(lines.begin() + 4, lines.end() - 4);
    for (std::size_t at = 0; at < body.size();) {
        PageEntry entry;
        const bool ok = layout == Layout::Flow ? parseFlowEntry(body, at, entry, parsed.problem)
                                               : parseRowEntry(body, at, entry, parsed.problem);
        if (!ok) {
            parsed.problem += " (entry " + std::to_string(parsed.entries.size() + 1) + ")";
            return parsed;
        }
        parsed.entries.push_back(std::move(entry));
    }
    parsed.wellFormed = true;
    return parsed;
}

bool createEmptyFile(int folderFd, const std::string& name)
{
    const int fd = ::openat(folderFd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

}  // namespace pictarre::test
