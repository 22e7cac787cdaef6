#include "gallery/lazypage.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>
#include <string>
#include <utility>

#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include "collect/filedescriptor.h"

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

// The first batch is small, so the first screen does not wait for a large one.
constexpr int kFirstBatch = 4;
constexpr int kBatch = 512;

// True when each byte below 0x80 of a text in the locale's encoding is a character of its own:
// in UTF-8 and the single-byte encodings. In GBK, GB18030 or Big5 the second byte of a
// character may be a backslash or another ASCII byte.
bool asciiBytesStandAlone()
{
    return MB_CUR_MAX == 1 || std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
}

// A JavaScript string literal holding `text`; "<" is escaped so no "</script>" can end it early.
// The script is read in the locale's encoding, so the escapes go only between its characters:
// a backslash added after the first byte of a double-byte character would become part of it.
void appendScriptString(std::string_view text, std::string& out)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    const bool bytewise = asciiBytesStandAlone();
    std::mbstate_t state{};
    out += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!bytewise && c >= 0x80) {
            const std::size_t length = std::mbrlen(text.data() + i, text.size() - i, &state);
            if (length != static_cast<std::size_t>(-1) && length != static_cast<std::size_t>(-2) && length > 1) {
                out.append(text.substr(i, length));  // a whole character, as it stands
                i += length - 1;
                continue;
            }
            state = std::mbstate_t{};  // a byte that starts no character stands alone
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == '<') {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
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

// One picture tag with its address moved into data-src, and its size added from `sizeOf`
// when it has none.
void appendImageTag(std::string_view tag, const LazyPage::SizeLookup* sizeOf, std::string& out)
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
    out.append(tag.substr(nameAt, tag.size() - 1 - nameAt));  // without ">"
    if (sizeOf && !attribute(tag, " width=\"", nullptr) && !attribute(tag, " height=\"", nullptr)) {
        const auto path = pathOfPageAddress(*src);
        const auto size = path && !path->empty() && path->front() == '/' ? (*sizeOf)(*path) : std::nullopt;
        if (size && size->width > 0 && size->height > 0)
            out += " width=\"" + std::to_string(size->width) + "\" height=\"" + std::to_string(size->height) + '"';
    }
    out += '>';
}

// `line` with each of its picture tags made lazy.
void appendLazyLine(std::string_view line, const LazyPage::SizeLookup* sizeOf, std::string& out)
{
    std::size_t done = 0;
    for (std::size_t at = line.find("<img "); at != std::string_view::npos; at = line.find("<img ", done)) {
        const std::size_t end = line.find('>', at);
        if (end == std::string_view::npos)
            break;
        out.append(line.substr(done, at - done));
        appendImageTag(line.substr(at, end + 1 - at), sizeOf, out);
        done = end + 1;
    }
    out.append(line.substr(done));
}

// Follows a row entry's lines: "<tr>" opens one, its second "</tr>" ends it. `closed` is -1
// outside an entry. Returns whether `line` belongs to an entry, and sets `ended` when it
// ends one.
bool followEntry(std::string_view line, int& closed, bool& ended)
{
    ended = false;
    if (closed < 0) {
        if (line != "<tr>\r\n")
            return false;
        closed = 0;
        return true;
    }
    if (line.starts_with("</tr>") && ++closed == 2) {
        closed = -1;
        ended = true;
    }
    return true;
}

}  // namespace

LazyPage::LazyPage(SizeLookup sizeOf)
    : sizeOf_(sizeOf ? std::move(sizeOf) : [](const std::string& path) { return readPictureSize(path); })
{
}

void LazyPage::transform(std::string_view line, std::string& out)
{
    const std::uint64_t lineOffset = offset_;
    offset_ += line.size();
    const bool outside = entryRowsClosed_ < 0;
    bool ended = false;
    if (!followEntry(line, entryRowsClosed_, ended)) {
        flushRows(out);
        appendLazyLine(line, &sizeOf_, out);
        return;
    }
    if (outside && batchEntries_ == 0)
        batchOffset_ = lineOffset;  // a batch begins with its first entry's first line
    // What the page script needs before it has the rows: each picture's height, to stand in
    // for rows not in the page, and its link text, for finding it.
    if (const std::size_t img = line.find("<img "); img != std::string_view::npos) {
        const std::size_t at = line.find(" height=\"", img);
        const std::size_t end = at == std::string_view::npos ? at : line.find('"', at + 9);
        entryHeight_ = end == std::string_view::npos ? std::string_view("0") : line.substr(at + 9, end - at - 9);
    } else if (const std::size_t link = line.find("<a target=\"_blank\" href=\""); link != std::string_view::npos) {
        const std::size_t start = line.find("\">", link);
        const std::size_t end = line.rfind("</a></td>");
        entryText_ = start != std::string_view::npos && end != std::string_view::npos && end > start
                         ? line.substr(start + 2, end - start - 2)
                         : std::string_view();
    }
    if (!ended)
        return;
    const char* separator = batchEntries_++ > 0 ? "," : "";
    heights_ += separator;
    // Only a number goes into the script; anything else stands for a picture of no height.
    const bool number = !entryHeight_.empty() && entryHeight_.size() <= 9
                        && entryHeight_.find_first_not_of("0123456789") == std::string::npos;
    heights_ += number ? entryHeight_ : "0";
    texts_ += separator;
    appendScriptString(entryText_, texts_);
    entryHeight_.clear();
    entryText_.clear();
    if (batchEntries_ >= (entriesSent_ < kFirstBatch ? kFirstBatch : kBatch))
        flushRows(out);
}

void LazyPage::finish(std::string& out)
{
    flushRows(out);
}

void LazyPage::flushRows(std::string& out)
{
    if (batchEntries_ == 0)
        return;
    out += "<script>pictarreGallery.batch(" + std::to_string(batchOffset_) + ",[" + heights_ + "],[" + texts_
           + "])</script>\r\n";
    entriesSent_ += batchEntries_;
    batchEntries_ = 0;
    heights_.clear();
    texts_.clear();
}

RowsScript::RowsScript(std::uint64_t offset, int count) : offset_(offset), count_(count) {}

bool RowsScript::add(std::string_view line)
{
    bool ended = false;
    if (entries_ >= count_)
        return false;
    if (!followEntry(line, entryRowsClosed_, ended))
        return true;  // between entries (a batch's lines hold nothing else)
    appendLazyLine(line, nullptr, entry_);
    if (ended) {
        if (entries_++ > 0)
            strings_ += ',';
        appendScriptString(entry_, strings_);
        entry_.clear();
    }
    return entries_ < count_;
}

std::string RowsScript::text() const
{
    return "pictarreGallery.rows(" + std::to_string(offset_) + ",[" + strings_ + "]);\n";
}

bool LineSplitter::feed(std::string_view bytes, const Each& each)
{
    std::size_t searched = held_.size();  // the held bytes hold no line end
    held_.append(bytes);
    std::size_t start = 0;
    bool more = true;
    while (more) {
        const std::size_t nl = held_.find('\n', std::max(start, searched));
        if (nl == std::string::npos)
            searched = held_.size();
        const std::size_t lineEnd = nl == std::string::npos ? held_.size() : nl + 1;
        if (lineEnd - start > kLongestLine) {
            more = each(std::string_view(held_).substr(start, kLongestLine));
            start += kLongestLine;
        } else if (nl != std::string::npos) {
            more = each(std::string_view(held_).substr(start, lineEnd - start));
            start = lineEnd;
        } else {
            break;
        }
    }
    held_.erase(0, start);
    return more;
}

bool LineSplitter::finish(const Each& each)
{
    if (held_.empty())
        return true;
    const std::string last = std::exchange(held_, {});
    return each(last);
}

std::string pageStamp(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return {};
    return std::to_string(st.st_ino) + '-' + std::to_string(st.st_size) + '-' + std::to_string(st.st_mtim.tv_sec) + '.'
           + std::to_string(st.st_mtim.tv_nsec);
}

std::optional<std::string> readRowsScript(const std::string& pagePath, std::uint64_t offset, int count,
                                          std::string_view stamp)
{
    const FileDescriptor file = openRegularFile(pagePath);
    if (!file.isOpen() || pageStamp(file.get()) != stamp
        || offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())
        || ::lseek(file.get(), static_cast<off_t>(offset), SEEK_SET) < 0)
        return std::nullopt;
    RowsScript script(offset, count);
    LineSplitter lines;
    const auto add = [&script](std::string_view line) { return script.add(line); };
    char block[1 << 16];
    for (;;) {
        const ssize_t got = ::read(file.get(), block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0) {
            lines.finish(add);
            break;
        }
        if (!lines.feed(std::string_view(block, static_cast<std::size_t>(got)), add))
            break;
    }
    return script.text();
}

}  // namespace pictarre
