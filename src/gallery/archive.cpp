#include "gallery/archive.h"

#include <cerrno>
#include <map>

#include <fcntl.h>
#include <unistd.h>

#include "collect/filedescriptor.h"
#include "gallery/header.h"
#include "gallery/pageencoding.h"
#include "gallery/pagewriter.h"

namespace pictarre {

namespace {

// Base64 cannot hold "-", so no picture's part can contain a boundary that starts with dashes;
// the page is looked through for it.
constexpr std::string_view kBoundary = "----=_Part_pictarre_gallery";
constexpr std::size_t kLineBytes = 57;  // 76 characters of base64 to a line

// Writes base64 lines of what it is given, in large pieces.
class Base64Writer {
public:
    explicit Base64Writer(const FileDescriptor& out) : out_(out) {}

    bool add(std::string_view bytes)
    {
        held_.append(bytes);
        const std::size_t whole = held_.size() / kLineBytes * kLineBytes;
        encode(std::string_view(held_).substr(0, whole));
        held_.erase(0, whole);
        return encoded_.size() < (1 << 16) || flush();
    }

    // Encodes what is held and writes it all.
    bool finish()
    {
        encode(held_);
        held_.clear();
        return flush();
    }

private:
    void encode(std::string_view bytes)
    {
        static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (std::size_t line = 0; line < bytes.size(); line += kLineBytes) {
            const std::string_view part = bytes.substr(line, kLineBytes);
            for (std::size_t i = 0; i < part.size(); i += 3) {
                const std::size_t n = std::min<std::size_t>(3, part.size() - i);
                std::uint32_t v = static_cast<unsigned char>(part[i]) << 16;
                if (n > 1)
                    v |= static_cast<unsigned char>(part[i + 1]) << 8;
                if (n > 2)
                    v |= static_cast<unsigned char>(part[i + 2]);
                encoded_ += kDigits[(v >> 18) & 63];
                encoded_ += kDigits[(v >> 12) & 63];
                encoded_ += n > 1 ? kDigits[(v >> 6) & 63] : '=';
                encoded_ += n > 2 ? kDigits[v & 63] : '=';
            }
            encoded_ += "\r\n";
        }
    }

    bool flush()
    {
        const bool ok = out_.writeAll(encoded_);
        encoded_.clear();
        return ok;
    }

    const FileDescriptor& out_;
    std::string held_;
    std::string encoded_;
};

// Reads the next block of `in`; false at its end or on an error.
bool readBlock(const FileDescriptor& in, std::string& block)
{
    block.resize(1 << 16);
    for (;;) {
        const ssize_t got = ::read(in.get(), block.data(), block.size());
        if (got < 0 && errno == EINTR)
            continue;
        block.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return got > 0;
    }
}

// One picture's part: its headers and its bytes, read a block at a time. Nothing is written
// when the picture cannot be opened; `written` turns false when the archive cannot be written.
void writePicturePart(const FileDescriptor& out, std::string_view boundary, const std::string& path,
                      const std::string& id, bool& written)
{
    const FileDescriptor in = openRegularFile(path);
    if (!in.isOpen())
        return;
    std::string block;
    readBlock(in, block);
    const std::string head = std::string(boundary) + "\r\nContent-Type: " + std::string(pictureMimeType(block))
                             + "\r\nContent-Transfer-Encoding: base64\r\nContent-ID: <" + id + ">\r\n\r\n";
    Base64Writer encoder(out);
    written = out.writeAll(head);
    while (written && !block.empty()) {
        written = encoder.add(block);
        readBlock(in, block);
    }
    written = written && encoder.finish();
}

}  // namespace

bool saveArchive(const Gallery& gallery, const std::string& target, const SaveProgress& progress)
{
    const std::string partial = target + ".part";
    FileDescriptor out(::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!out.isOpen())
        return false;
    const std::size_t slash = gallery.pagePath().rfind('/');
    const std::string pageUrl = gallery.folderUrl() + percentEncodePath(gallery.pagePath().substr(slash + 1));

    // Each distinct picture that can be read gets one part, named in the page by its Content-ID.
    std::map<std::string, std::string> ids;
    for (std::size_t i = 0; i < gallery.size(); ++i) {
        std::string path(gallery.path(i));
        if (ids.count(path) == 0 && openRegularFile(path).isOpen())
            ids.emplace(std::move(path), "picture" + std::to_string(ids.size() + 1) + "@pictarre");
    }
    // The page goes in as written (binary: a path may make a line longer than mail allows),
    // but for its pictures' addresses.
    std::string html;
    gallery.writePage([&html](std::string_view piece) {
        html += piece;
        return true;
    }, [&](std::size_t i) {
        const std::string path(gallery.path(i));
        const auto found = ids.find(path);
        return found == ids.end() ? path : "cid:" + found->second;
    });
    std::string separator = std::string(kBoundary);
    for (int n = 1; html.find(separator) != std::string::npos; ++n)
        separator = std::string(kBoundary) + '_' + std::to_string(n);
    const std::string boundary = "--" + separator;

    // The page is the first part: a browser shows the archive's first page.
    const std::string head = "MIME-Version: 1.0\r\nSubject: picture\r\nSnapshot-Content-Location: " + pageUrl
                             + "\r\nContent-Type: multipart/related;\r\n\ttype=\"text/html\";\r\n\tboundary=\""
                             + separator + "\"\r\n\r\n" + boundary + "\r\nContent-Type: text/html; charset=\""
                             + pageEncoding() + "\"\r\nContent-Transfer-Encoding: binary\r\nContent-Location: "
                             + pageUrl + "\r\n\r\n";
    bool ok = out.writeAll(head) && out.writeAll(html) && out.writeAll("\r\n");
    html = std::string();

    std::size_t done = 0;
    for (const auto& [path, id] : ids) {
        if (!ok)
            break;
        // A picture gone since it was looked at is left out: the page shows it as missing.
        writePicturePart(out, boundary, path, id, ok);
        if (progress && !progress(++done, ids.size()))
            ok = false;
    }
    ok = ok && out.writeAll(boundary + "--\r\n");
    ok = out.close() && ok && ::rename(partial.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(partial.c_str());
    return ok;
}

}  // namespace pictarre
