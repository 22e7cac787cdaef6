#include "gallery/lazypage.h"

#include <utility>

namespace pictarre {

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
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.'
           || c == '_' || c == '~' || c == '/';
}

// The value of the attribute `name` (as ` name="`) inside one tag, without its quotes.
std::optional<std::string_view> attribute(std::string_view tag, std::string_view name, std::size_t* valueStart)
{
    const std::size_t at = tag.find(name);
    if (at == std::string_view::npos)
        return std::nullopt;
    const std::size_t start = at + name.size();
    const std::size_t end = tag.find('"', start);
    if (end == std::string_view::npos)
        return std::nullopt;
    if (valueStart)
        *valueStart = start;
    return tag.substr(start, end - start);
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
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url;
    url.reserve(path.size());
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c)) {
            url += ch;
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 15];
        }
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

namespace {

constexpr int kFirstBatch = 4;
constexpr int kBatch = 256;

// A JavaScript string literal holding `text`; "<" is escaped so no "</script>" can end it early.
void appendScriptString(std::string_view text, std::string& out)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '"';
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == '<') {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    out += '"';
}

}  // namespace

LazyPage::LazyPage(SizeLookup sizeOf)
    : sizeOf_(sizeOf ? std::move(sizeOf) : [](const std::string& path) { return readPictureSize(path); })
{
}

void LazyPage::transform(std::string_view line, std::string& out)
{
    // A picture's entry of the row layout: "<tr>" up to its second "</tr>".
    if (entry_.empty() && line != "<tr>\r\n") {
        flushRows(out);
        appendImages(line, out);
        return;
    }
    appendImages(line, entry_);
    if (line.starts_with("</tr>") && ++entryRowsClosed_ == 2) {
        if (batchEntries_++ > 0)
            batch_ += ',';
        appendScriptString(entry_, batch_);
        entry_.clear();
        entryRowsClosed_ = 0;
        // The first few rows go at once, so the first screen does not wait for a whole batch.
        if (batchEntries_ >= (entriesSent_ < kFirstBatch ? kFirstBatch : kBatch))
            flushRows(out);
    }
}

void LazyPage::finish(std::string& out)
{
    flushRows(out);
    // A page that ends inside an entry (a run that stopped) keeps those lines as they were.
    out += entry_;
    entry_.clear();
    entryRowsClosed_ = 0;
}

void LazyPage::flushRows(std::string& out)
{
    if (batchEntries_ == 0)
        return;
    out += "<script>pictarreGallery.rows([";
    out += batch_;
    out += "])</script>\r\n";
    entriesSent_ += batchEntries_;
    batch_.clear();
    batchEntries_ = 0;
}

void LazyPage::appendImages(std::string_view line, std::string& out) const
{
    std::size_t done = 0;
    for (std::size_t at = line.find("<img "); at != std::string_view::npos; at = line.find("<img ", done)) {
        const std::size_t end = line.find('>', at);
        if (end == std::string_view::npos)
            break;
        out.append(line.substr(done, at - done));
        appendImageTag(line.substr(at, end + 1 - at), out);
        done = end + 1;
    }
    out.append(line.substr(done));
}

void LazyPage::appendImageTag(std::string_view tag, std::string& out) const
{
    std::size_t srcStart = 0;
    const auto src = attribute(tag, " src=\"", &srcStart);
    if (!src) {
        out.append(tag);
        return;
    }
    const std::size_t nameAt = srcStart - 5;  // the "src=" of ` src="`
    out.append(tag.substr(0, nameAt));
    out += "data-";
    const std::string_view rest = tag.substr(nameAt, tag.size() - 1 - nameAt);  // without ">"
    out.append(rest);
    if (!attribute(tag, " width=\"", nullptr) && !attribute(tag, " height=\"", nullptr)) {
        const auto path = pathOfPageAddress(*src);
        const auto size = path && !path->empty() && path->front() == '/' ? sizeOf_(*path) : std::nullopt;
        if (size && size->width > 0 && size->height > 0) {
            out += " width=\"" + std::to_string(size->width) + "\" height=\"" + std::to_string(size->height) + '"';
        }
    }
    out += '>';
}

}  // namespace pictarre
