// The page writer's handling of one picture path: whatever bytes the path holds, each entry
// keeps exactly the markup of its template and is valid UTF-8, the address percent-decodes to
// the path's exact bytes, and the link text shows the path as the browser reads it (ill-formed
// UTF-8 as U+FFFD). A path that is valid UTF-8 keeps its non-ASCII bytes unescaped.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "gallery/pagewriter.h"
#include "tests/support/pagedecode.h"

namespace {

std::size_t markupCount(std::string_view text)
{
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return c == '<' || c == '>' || c == '"';
    }));
}

// True when the text holds a percent escape of a byte of 0x80 or more.
bool hasHighByteEscape(std::string_view text)
{
    for (std::size_t at = text.find('%'); at != std::string_view::npos; at = text.find('%', at + 1))
        if (at + 1 < text.size() && std::string_view("89ABCDEFabcdef").find(text[at + 1]) != std::string_view::npos)
            return true;
    return false;
}

// Cuts `prefix` off the front of `text`; the text must start with it.
void expectPrefix(std::string_view& text, std::string_view prefix)
{
    FUZZ_CHECK(text.substr(0, prefix.size()) == prefix);
    text.remove_prefix(prefix.size());
}

// Cuts the text up to `stop` off the front and returns it; `stop` must follow.
std::string_view takeUntil(std::string_view& text, std::string_view stop)
{
    const std::size_t at = text.find(stop);
    FUZZ_CHECK(at != std::string_view::npos);
    const std::string_view taken = text.substr(0, at);
    text.remove_prefix(at + stop.size());
    return taken;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view path(reinterpret_cast<const char*>(data), size);
    const std::string url = pictarre::escapeUrl(path);
    const std::string text = pictarre::escapeText(path);

    // No byte of an attribute value may end it or open a tag, nor break the entry's line.
    FUZZ_CHECK(url.find_first_of("\"<>\r\n") == std::string::npos);
    FUZZ_CHECK(text.find_first_of("<>") == std::string::npos);
    FUZZ_CHECK(pictarre::pathOfPageAddress(url) == std::optional<std::string>(path));
    FUZZ_CHECK(pictarre::test::decodeReferences(text) == pictarre::test::withReplacementCharacters(path));
    FUZZ_CHECK(pictarre::test::isValidUtf8(url));
    FUZZ_CHECK(pictarre::test::isValidUtf8(text));
    if (pictarre::test::isValidUtf8(path)) {
        // Well-formed text is never escaped: no byte of 0x80 or more is written as "%XX".
        FUZZ_CHECK(!hasHighByteEscape(url));
        FUZZ_CHECK(text.find("\xEF\xBF\xBD") == std::string::npos ||
                   path.find("\xEF\xBF\xBD") != std::string_view::npos);
    }

    // The flow entry: its template's markup and nothing more, the value in both places.
    std::string flow;
    pictarre::appendFlowEntry(flow, path);
    FUZZ_CHECK(markupCount(flow) == markupCount("<a href=\"\" target=\"_blank\"><img border=\"1\" src=\"\"></a> "));
    std::string_view rest = flow;
    expectPrefix(rest, "<a href=\"");
    FUZZ_CHECK(takeUntil(rest, "\"") == url);
    expectPrefix(rest, " target=\"_blank\"><img border=\"1\" src=\"");
    FUZZ_CHECK(takeUntil(rest, "\"") == url);
    FUZZ_CHECK(rest == "></a> \r\n\r\n");
    FUZZ_CHECK(pictarre::test::isValidUtf8(flow));

    // The row entry, with sizes taken from the input so both signs and all widths show up.
    std::int32_t width = 0;
    std::int32_t height = 0;
    if (size >= 8) {
        std::memcpy(&width, data, 4);
        std::memcpy(&height, data + 4, 4);
    }
    std::string row;
    pictarre::appendRowEntry(row, path, width, height);
    static constexpr std::string_view kRowMarkup =
        "<tr><td width=\"100%\"><p align=\"center\"><img border=\"0\" src=\"\" width=\"\" height=\"\"></td></tr>"
        "<tr><td width=\"100%\" height=\"30\"><p align=\"center\"><a target=\"_blank\" href=\"\"></a></td></tr>";
    // A quote in link text is plain text and stays; every other markup byte is the template's.
    const auto quotes = static_cast<std::size_t>(std::count(path.begin(), path.end(), '"'));
    FUZZ_CHECK(markupCount(row) == markupCount(kRowMarkup) + quotes);
    rest = row;
    expectPrefix(rest, "<tr>\r\n<td width=\"100%\">\r\n<p align=\"center\">\r\n<img border=\"0\" src=\"");
    FUZZ_CHECK(takeUntil(rest, "\"") == url);
    expectPrefix(rest, " width=\"");
    FUZZ_CHECK(takeUntil(rest, "\"") == std::to_string(width));
    expectPrefix(rest, " height=\"");
    FUZZ_CHECK(takeUntil(rest, "\"") == std::to_string(height));
    expectPrefix(rest, "></td>\r\n</tr>\r\n<tr>\r\n<td width=\"100%\" height=\"30\">\r\n"
                       "<p align=\"center\"><a target=\"_blank\" href=\"file:///");
    FUZZ_CHECK(takeUntil(rest, "\"") == url);
    expectPrefix(rest, ">");
    // The link text runs to the last "</a>": the path's own bytes may hold that text escaped,
    // never raw.
    const std::size_t close = rest.rfind("</a></td> \r\n</tr>\r\n");
    FUZZ_CHECK(close != std::string_view::npos && close + 19 == rest.size());
    FUZZ_CHECK(rest.substr(0, close) == text);
    FUZZ_CHECK(pictarre::test::isValidUtf8(row));
    return 0;
}
