#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gallery/header.h"

namespace pictarre {

// One gallery page as the page writer wrote it, kept in memory for the view that shows it:
// every entry in page order with its path and the size it is drawn at, and the batches in
// which the page script receives the row entries. The view serves the page, its rows and its
// pictures from here, never by reading picture.htm back, so a page written anew meanwhile (by
// the next command, or by another window of the program) cannot change what it shows, saves
// or prints.
class Gallery {
public:
    enum class Layout : std::uint8_t { Flow, Row };
    struct Entry {
        Layout layout;
        std::int32_t width;   // as written for a row; the header's size for a flowing picture
        std::int32_t height;  // (0 when it has none)
        std::uint32_t pathLength;
        // The widest a row's picture may be drawn: its own width, which is more than it was
        // written at when the writer fitted it to the view.
        std::int32_t widest;
        std::uint64_t pathStart;
    };
    // A run of row entries that the page script receives in one piece.
    struct Batch {
        std::uint32_t first;
        std::uint32_t count;
    };

    explicit Gallery(std::string pagePath);

    void addFlow(std::string_view path, std::optional<PixelSize> size);
    void addRow(std::string_view path, std::int32_t width, std::int32_t height, std::int32_t ownWidth = 0);
    // The page's closing lines were written: the page is whole.
    void close() { closed_ = true; }

    const std::string& pagePath() const { return pagePath_; }
    // The file: address of the page's folder, against which its relative addresses resolve.
    std::string folderUrl() const;
    std::size_t size() const { return entries_.size(); }
    const Entry& entry(std::size_t index) const { return entries_[index]; }
    std::string_view path(std::size_t index) const;
    const std::vector<Batch>& batches() const { return batches_; }
    bool closed() const { return closed_; }

    // The page's bytes as the writer wrote them, handed to `sink` in pieces; false when the
    // sink refused one. With `pictureAddress`, each picture's src names the path it gives for
    // the entry instead (escaped as the writer escapes paths).
    bool writePage(const std::function<bool(std::string_view)>& sink,
                   const std::function<std::string(std::size_t)>& pictureAddress = {}) const;

private:
    std::string pagePath_;
    std::vector<Entry> entries_;
    std::string paths_;  // every entry's path, one after another
    std::vector<Batch> batches_;
    std::size_t batchBytes_ = 0;   // path bytes of the last batch
    std::size_t rowsBatched_ = 0;  // row entries in all batches
    bool closed_ = false;
};

// The gallery page as the browser view is given it (see galleryprotocol.h), made from the
// Gallery in pieces, so that a page of any size streams without being held whole.
class ServedPage {
public:
    ServedPage(std::shared_ptr<const Gallery> gallery, std::string prologue);

    // Appends the next piece to `out`; false once the page has ended.
    bool next(std::string& out);

private:
    std::shared_ptr<const Gallery> gallery_;
    std::string prologue_;
    int stage_ = 0;
    std::size_t entry_ = 0;
    std::size_t batch_ = 0;
};

// One entry's markup as the view is given it: the writer's markup with the picture's src made
// into data-n (the entry's number) and data-src, and a flowing picture's size added when its
// header has one, so the layout stands before the picture arrives.
void appendServedEntry(const Gallery& gallery, std::size_t index, std::string& out);

// The script with the markup of batch `batch` of the gallery; nothing when it has no such batch.
std::optional<std::string> rowsScript(const Gallery& gallery, std::size_t batch);

// What a long save tells while it works, from the thread it runs on: after each picture, how
// many of `total` are done. Returning false stops the save; it then leaves no page behind.
using SaveProgress = std::function<bool(std::size_t done, std::size_t total)>;

// Saves the gallery as a whole page at `target` with a copy of every picture in the folder
// beside it named after the page ("page_files" for "page.htm"): each picture keeps its own
// name (a second one of the same name gets " (2)" before its extension), and the page's
// pictures name those copies, its links the pictures themselves. `head` goes before the page
// (a statement of its encoding). A picture that cannot be read is left out of the folder and
// keeps its own address. False when the page or the folder cannot be written.
bool savePageWithPictures(const Gallery& gallery, const std::string& target, std::string_view head,
                          const SaveProgress& progress = {});

}  // namespace pictarre
