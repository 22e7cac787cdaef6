#pragma once

// Reads the gallery page as the browser view is given it, the way its script and its decoder
// read it: every script string strictly (plain ASCII, \uXXXX escapes only), every batch filled
// in with the markup its rows answer holds, and the served changes to the picture tags undone.
// What comes out is the page's text as characters, to compare with the page file as the
// engine would decode it. Shared by the unit tests and the fuzzer.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gallery/gallery.h"
#include "gallery/galleryprotocol.h"
#include "gallery/pageencoding.h"

namespace pictarre::test {

// The text as the page's decoder reads it.
inline std::u32string decodePage(std::string_view bytes)
{
    std::u32string text;
    PageTextDecoder decoder(bytes);
    char32_t c = 0;
    std::size_t length = 0;
    while (decoder.next(c, length))
        text += c;
    return text;
}

// Reads one script string literal at `at`; nothing when it is not one of the form the program
// writes (a byte outside printable ASCII, a quote, backslash or "<" unescaped, another escape,
// a lone surrogate).
inline std::optional<std::u32string> readScriptString(std::string_view script, std::size_t& at)
{
    if (at >= script.size() || script[at] != '"')
        return std::nullopt;
    std::u32string text;
    const auto hex4 = [&script](std::size_t from) -> std::optional<char32_t> {
        if (from + 4 > script.size())
            return std::nullopt;
        char32_t v = 0;
        for (std::size_t i = from; i < from + 4; ++i) {
            const char c = script[i];
            const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (d < 0)
                return std::nullopt;
            v = v * 16 + static_cast<char32_t>(d);
        }
        return v;
    };
    for (++at; at < script.size(); ++at) {
        const auto c = static_cast<unsigned char>(script[at]);
        if (c == '"') {
            ++at;
            return text;
        }
        if (c < 0x20 || c >= 0x7F || c == '<' || c == '>')
            return std::nullopt;
        if (c != '\\') {
            text += c;
            continue;
        }
        if (at + 1 >= script.size() || script[at + 1] != 'u')
            return std::nullopt;
        auto unit = hex4(at + 2);
        if (!unit)
            return std::nullopt;
        at += 5;
        if (*unit >= 0xD800 && *unit < 0xDC00) {
            const auto low = script.substr(at + 1, 2) == "\\u" ? hex4(at + 3) : std::nullopt;
            if (!low || *low < 0xDC00 || *low > 0xDFFF)
                return std::nullopt;
            unit = 0x10000 + ((*unit - 0xD800) << 10) + (*low - 0xDC00);
            at += 6;
        } else if (*unit >= 0xDC00 && *unit <= 0xDFFF) {
            return std::nullopt;
        }
        text += *unit;
    }
    return std::nullopt;
}

// `prefix` then "[" string, ... "]": the strings; `at` ends past the "]".
inline std::optional<std::vector<std::u32string>> readStringList(std::string_view script, std::size_t& at)
{
    if (script.substr(at, 1) != "[")
        return std::nullopt;
    std::vector<std::u32string> strings;
    ++at;
    while (script.substr(at, 1) != "]") {
        if (!strings.empty() && script.substr(at++, 1) != ",")
            return std::nullopt;
        auto text = readScriptString(script, at);
        if (!text)
            return std::nullopt;
        strings.push_back(std::move(*text));
    }
    ++at;
    return strings;
}

// A whole number written at `at`, followed by `stop`.
inline std::optional<std::size_t> readNumber(std::string_view script, std::size_t& at, std::string_view stop)
{
    const std::size_t begin = at;
    while (at < script.size() && script[at] >= '0' && script[at] <= '9' && at - begin < 10)
        ++at;
    if (at == begin || script.substr(at, stop.size()) != stop)
        return std::nullopt;
    const std::size_t value = std::stoull(std::string(script.substr(begin, at - begin)));
    at += stop.size();
    return value;
}

// One batch call of the served page: "pictarreGallery.batch(K,[h,...],[text,...],[w,...],[widest,...])".
struct BatchCall {
    std::size_t number = 0;
    std::vector<std::size_t> heights;
    std::vector<std::u32string> texts;
    std::vector<std::size_t> widths;
    std::vector<std::size_t> widest;
};

// A list of numbers "[n,...]" at `at`, which moves past it.
inline std::optional<std::vector<std::size_t>> readNumberList(std::string_view script, std::size_t& at)
{
    if (script.substr(at++, 1) != "[")
        return std::nullopt;
    std::vector<std::size_t> numbers;
    while (script.substr(at, 1) != "]") {
        if (!numbers.empty() && script.substr(at++, 1) != ",")
            return std::nullopt;
        const auto number = readNumber(script, at, "");
        if (!number)
            return std::nullopt;
        numbers.push_back(*number);
    }
    ++at;
    return numbers;
}

inline std::optional<BatchCall> readBatchCall(std::string_view script)
{
    const std::string open = std::string(protocol::kBatchCall) + '(';
    if (script.substr(0, open.size()) != open)
        return std::nullopt;
    std::size_t at = open.size();
    BatchCall call;
    const auto number = readNumber(script, at, ",");
    if (!number)
        return std::nullopt;
    call.number = *number;
    auto heights = readNumberList(script, at);
    if (!heights || script.substr(at++, 1) != ",")
        return std::nullopt;
    auto texts = readStringList(script, at);
    if (!texts || script.substr(at++, 1) != ",")
        return std::nullopt;
    auto widths = readNumberList(script, at);
    if (!widths || script.substr(at++, 1) != ",")
        return std::nullopt;
    auto widest = readNumberList(script, at);
    if (!widest || at != script.size() - 1 || script.back() != ')')
        return std::nullopt;
    const std::size_t count = heights->size();
    if (texts->size() != count || widths->size() != count || widest->size() != count)
        return std::nullopt;
    call.heights = std::move(*heights);
    call.texts = std::move(*texts);
    call.widths = std::move(*widths);
    call.widest = std::move(*widest);
    return call;
}

// The markup strings of a rows answer for batch `number`.
inline std::optional<std::vector<std::u32string>> readRowsCall(std::string_view script, std::size_t number)
{
    const std::string open = std::string(protocol::kRowsCall) + '(' + std::to_string(number) + ',';
    if (script.substr(0, open.size()) != open)
        return std::nullopt;
    std::size_t at = open.size();
    auto strings = readStringList(script, at);
    if (!strings || script.substr(at) != ");\n")
        return std::nullopt;
    return strings;
}

inline std::u32string widen(std::string_view ascii)
{
    return std::u32string(ascii.begin(), ascii.end());
}

// What a served page reads as, with every batch filled in from the gallery's rows answers
// and the picture tags as written: the text the page file itself decodes to. Nothing when
// some script does not parse or does not fit the gallery. `batchTexts`, when given, receives
// every entry's link text as the batches give it.
inline std::optional<std::u32string> undoServedPage(const std::string& served, const Gallery& gallery,
                                                    std::vector<std::u32string>* batchTexts = nullptr)
{
    // The prologue ends with the page script's element.
    const std::string prologueEnd = "</script>\r\n";
    std::size_t done = served.find(prologueEnd);
    if (done == std::string::npos)
        return std::nullopt;
    done += prologueEnd.size();
    std::u32string page;
    const std::string open = "<script>" + std::string(protocol::kBatchCall) + '(';
    std::size_t expected = 0;
    for (std::size_t at = served.find(open, done); at != std::string::npos; at = served.find(open, done)) {
        page += decodePage(std::string_view(served).substr(done, at - done));
        const std::size_t end = served.find("</script>\r\n", at);
        if (end == std::string::npos)
            return std::nullopt;
        const auto call = readBatchCall(std::string_view(served).substr(at + 8, end - at - 8));
        if (!call || call->number != expected++)
            return std::nullopt;
        const auto rows = readRowsCall(rowsScript(gallery, call->number).value_or(""), call->number);
        if (!rows || rows->size() != call->texts.size())
            return std::nullopt;
        for (const auto& markup : *rows)
            page += markup;
        if (batchTexts)
            batchTexts->insert(batchTexts->end(), call->texts.begin(), call->texts.end());
        done = end + 11;
    }
    if (expected != gallery.batches().size() || rowsScript(gallery, expected))
        return std::nullopt;
    page += decodePage(std::string_view(served).substr(done));

    // Each picture tag back as written: data-n and data-src back to src, a flowing picture's
    // added size gone. A picture tag is found by its start ("<" never stands in a path): an
    // address before it may end in " data-n=" itself.
    const std::u32string image = widen("<img border=\"");
    const std::u32string dataN = widen("\" data-n=\"");
    const std::u32string dataSrc = widen("\" data-src=\"");
    std::u32string out;
    std::size_t from = 0;
    for (std::size_t tag = page.find(image); tag != std::u32string::npos; tag = page.find(image, from)) {
        const std::size_t at = tag + image.size() + 1;  // past the border's one digit
        const std::size_t numberEnd = page.find(dataSrc, at);
        if (page.compare(at, dataN.size(), dataN) != 0 || numberEnd == std::u32string::npos)
            return std::nullopt;
        const bool flow = page[tag + image.size()] == U'1';
        out += page.substr(from, at - from) + widen("\" src=\"");
        const std::size_t urlStart = numberEnd + dataSrc.size();
        const std::size_t urlEnd = page.find(U'"', urlStart);
        if (urlEnd == std::u32string::npos)
            return std::nullopt;
        out += page.substr(urlStart, urlEnd + 1 - urlStart);
        from = urlEnd + 1;
        if (flow && page.compare(from, 8, widen(" width=\"")) == 0)
            from = page.find(U'"', page.find(widen("height=\""), from) + 8) + 1;
    }
    out += page.substr(from);
    return out;
}

}  // namespace pictarre::test
