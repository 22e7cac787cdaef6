#include "gallery/gallery.h"

#include <algorithm>
#include <cerrno>
#include <set>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "collect/filedescriptor.h"

#include "gallery/galleryprotocol.h"
#include "gallery/pageencoding.h"
#include "gallery/pagewriter.h"

namespace pictarre {

Gallery::Gallery(std::string pagePath) : pagePath_(std::move(pagePath)) {}

void Gallery::addFlow(std::string_view path, std::optional<PixelSize> size)
{
    const auto side = [](std::uint32_t n) { return n > 0x7FFFFFFF ? 0 : static_cast<std::int32_t>(n); };
    const std::int32_t width = size ? side(size->width) : 0;
    entries_.push_back({Layout::Flow, width, size ? side(size->height) : 0, static_cast<std::uint32_t>(path.size()),
                        width, paths_.size()});
    paths_.append(path);
}

void Gallery::addRow(std::string_view path, std::int32_t width, std::int32_t height, std::int32_t ownWidth)
{
    const bool follows = !entries_.empty() && entries_.back().layout == Layout::Row && !batches_.empty();
    const std::size_t limit = rowsBatched_ - (follows ? batches_.back().count : 0) < protocol::kFirstBatch
                                  ? protocol::kFirstBatch
                                  : protocol::kBatch;
    if (follows && batches_.back().count < limit && batchBytes_ + path.size() <= protocol::kBatchBytes) {
        ++batches_.back().count;
        batchBytes_ += path.size();
    } else {
        batches_.push_back({static_cast<std::uint32_t>(entries_.size()), 1});
        batchBytes_ = path.size();
    }
    ++rowsBatched_;
    entries_.push_back({Layout::Row, width, height, static_cast<std::uint32_t>(path.size()), std::max(width, ownWidth),
                        paths_.size()});
    paths_.append(path);
}

std::string Gallery::folderUrl() const
{
    const std::size_t slash = pagePath_.rfind('/');
    return fileUrlOfFolder(slash == 0 || slash == std::string::npos ? std::string("/") : pagePath_.substr(0, slash));
}

std::string_view Gallery::path(std::size_t index) const
{
    const Entry& e = entries_[index];
    return std::string_view(paths_).substr(e.pathStart, e.pathLength);
}

namespace {

void appendWrittenEntry(const Gallery& gallery, std::size_t index, std::string& out)
{
    const Gallery::Entry& e = gallery.entry(index);
    if (e.layout == Gallery::Layout::Row)
        appendRowEntry(out, gallery.path(index), e.width, e.height);
    else
        appendFlowEntry(out, gallery.path(index));
}

constexpr std::size_t kPiece = std::size_t{1} << 16;

// Where the picture's src attribute of the entry written at `start` of `out` begins. A path
// cannot hold "<img " (its "<" is always escaped), while an address before the picture (a
// flowing entry's link) can end in " src=" and so hold " src=\"" with its closing quote.
std::size_t pictureSrcAt(const std::string& out, std::size_t start)
{
    return out.find(" src=\"", out.find("<img ", start));
}

}  // namespace

bool Gallery::writePage(const std::function<bool(std::string_view)>& sink,
                        const std::function<std::string(std::size_t)>& pictureAddress) const
{
    std::string piece;
    appendPageHeader(piece);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const std::size_t start = piece.size();
        appendWrittenEntry(*this, i, piece);
        if (pictureAddress) {
            const std::size_t src = pictureSrcAt(piece, start) + 6;
            piece.replace(src, piece.find('"', src) - src, escapeUrl(pictureAddress(i)));
        }
        if (piece.size() >= kPiece) {
            if (!sink(piece))
                return false;
            piece.clear();
        }
    }
    if (closed_)
        appendPageFooter(piece);
    return sink(piece);
}

void appendServedEntry(const Gallery& gallery, std::size_t index, std::string& out)
{
    const std::size_t start = out.size();
    appendWrittenEntry(gallery, index, out);
    const std::size_t src = pictureSrcAt(out, start);
    out.replace(src, 6, " data-n=\"" + std::to_string(index) + "\" data-src=\"");
    const Gallery::Entry& e = gallery.entry(index);
    if (e.layout == Gallery::Layout::Flow && e.width > 0 && e.height > 0) {
        const std::size_t tagEnd = out.find("\">", src) + 1;
        out.insert(tagEnd, " width=\"" + std::to_string(e.width) + "\" height=\"" + std::to_string(e.height) + '"');
    }
}

ServedPage::ServedPage(std::shared_ptr<const Gallery> gallery, std::string prologue)
    : gallery_(std::move(gallery)), prologue_(std::move(prologue))
{
}

bool ServedPage::next(std::string& out)
{
    const Gallery& g = *gallery_;
    switch (stage_) {
    case 0:
        out += prologue_;
        appendPageHeader(out);
        stage_ = 1;
        return true;
    case 1:
        if (entry_ < g.size()) {
            const std::size_t start = out.size();
            while (entry_ < g.size() && out.size() - start < kPiece) {
                if (g.entry(entry_).layout == Gallery::Layout::Flow) {
                    appendServedEntry(g, entry_++, out);
                    continue;
                }
                // A batch of rows: only each picture's height and its link text, for the page
                // script to stand in for the rows and to find in them.
                const Gallery::Batch& batch = g.batches()[batch_];
                std::string heights;
                std::string texts;
                std::string widths;
                std::string widest;
                for (std::size_t i = batch.first; i < batch.first + batch.count; ++i) {
                    const char* separator = i > batch.first ? "," : "";
                    heights += separator + std::to_string(std::max(0, g.entry(i).height));
                    widths += separator + std::to_string(std::max(0, g.entry(i).width));
                    widest += separator + std::to_string(std::max(0, g.entry(i).widest));
                    texts += separator;
                    appendScriptString(escapeText(g.path(i)), texts);
                }
                out += "<script>" + std::string(protocol::kBatchCall) + '(' + std::to_string(batch_) + ",[" + heights
                       + "],[" + texts + "],[" + widths + "],[" + widest + "])</script>\r\n";
                entry_ = batch.first + batch.count;
                ++batch_;
            }
            return true;
        }
        stage_ = 2;
        if (g.closed()) {
            appendPageFooter(out);
            return true;
        }
        [[fallthrough]];
    default:
        stage_ = 2;
        return false;
    }
}

std::optional<std::string> rowsScript(const Gallery& gallery, std::size_t batch)
{
    if (batch >= gallery.batches().size())
        return std::nullopt;
    const Gallery::Batch& b = gallery.batches()[batch];
    std::string script = std::string(protocol::kRowsCall) + '(' + std::to_string(batch) + ",[";
    std::string markup;
    for (std::size_t i = b.first; i < b.first + b.count; ++i) {
        if (i > b.first)
            script += ',';
        markup.clear();
        appendServedEntry(gallery, i, markup);
        appendScriptString(markup, script);
    }
    script += "]);\n";
    return script;
}

namespace {

// Copies the regular file at `from` to a new file `to`; false (and nothing left) when it fails.
bool copyFile(const std::string& from, const std::string& to)
{
    const FileDescriptor in = openRegularFile(from);
    if (!in.isOpen())
        return false;
    FileDescriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!out.isOpen())
        return false;
    char block[1 << 16];
    for (;;) {
        const ssize_t got = ::read(in.get(), block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || !out.writeAll(std::string_view(block, static_cast<std::size_t>(got)))) {
            if (got == 0 && out.close())
                return true;
            ::unlink(to.c_str());
            return false;
        }
    }
}

}  // namespace

bool savePageWithPictures(const Gallery& gallery, const std::string& target, std::string_view head,
                          const SaveProgress& progress)
{
    const std::size_t slash = target.rfind('/');
    const std::string name = target.substr(slash + 1);
    const std::string stem = name.substr(0, std::min(name.rfind('.'), name.size()));
    const std::string filesName = stem + "_files";
    const std::string filesFolder = target.substr(0, slash + 1) + filesName;
    if (::mkdir(filesFolder.c_str(), 0777) != 0 && errno != EEXIST)
        return false;

    // Each picture's copy, by entry: its name in the folder, or empty when it was not copied.
    std::vector<std::string> copies(gallery.size());
    std::set<std::string> taken;
    for (std::size_t i = 0; i < gallery.size(); ++i) {
        const std::string path(gallery.path(i));
        const std::string own = path.substr(path.rfind('/') + 1);
        const std::size_t dot = own.rfind('.');
        const std::string base = own.substr(0, dot == 0 ? std::string::npos : dot);
        const std::string extension = dot == 0 || dot == std::string::npos ? std::string() : own.substr(dot);
        std::string copy = own;
        for (int n = 2; copy.empty() || taken.count(copy) > 0; ++n)
            copy = base + " (" + std::to_string(n) + ')' + extension;
        if (copyFile(path, filesFolder + '/' + copy)) {
            taken.insert(copy);
            copies[i] = copy;
        }
        if (progress && !progress(i + 1, gallery.size()))
            return false;
    }

    const std::string partial = target + ".part";
    FileDescriptor page(::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    bool ok = page.isOpen() && page.writeAll(head)
              && gallery.writePage([&page](std::string_view piece) { return page.writeAll(piece); },
                                   [&](std::size_t i) {
                                       return copies[i].empty() ? std::string(gallery.path(i)) : filesName + '/' + copies[i];
                                   });
    ok = page.close() && ok && ::rename(partial.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(partial.c_str());
    return ok;
}

}  // namespace pictarre
