#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "gallery/header.h"

namespace pictarre {

// The path a src or href value of the gallery page names: its character references and %XX
// escapes undone, giving the path's bytes. Nothing when a "%" is not followed by two hex digits.
std::optional<std::string> pathOfPageAddress(std::string_view address);

// A path (native bytes) as the path of a URL: every byte other than ASCII letters, digits and
// "-._~/" percent-encoded, so any name, in any encoding, survives the URL parser unchanged.
std::string percentEncodePath(std::string_view path);

// A file: URL for an absolute folder path (native bytes), ending in "/".
std::string fileUrlOfFolder(std::string_view folder);

// Turns the gallery page, line by line, into the page the browser view is given. Each picture's
// address moves from `src` into `data-src`, so the view fetches only the pictures its page
// script asks for (those near the screen); a picture tag without a size gets the picture's own
// size as width and height, so that the layout stands before the picture arrives. The table
// rows of the row layout (each picture's two rows) do not go into the page as markup: for each
// batch of them the page gets pictarreGallery.batch(OFFSET, [heights], [texts]), the batch's
// byte offset in the page file with each picture's height and link text; the page script asks
// for a batch's markup (RowsScript) only when its rows come near the screen, since a page
// holding tens of thousands of rows would take the engine minutes and gigabytes to lay out.
// Everything else passes unchanged.
class LazyPage {
public:
    using SizeLookup = std::function<std::optional<PixelSize>(const std::string& path)>;

    // Sizes come from `sizeOf`, by default from the picture's header.
    explicit LazyPage(SizeLookup sizeOf = {});

    // Appends the served form of `line` (given with its line end) to `out`.
    void transform(std::string_view line, std::string& out);
    // Appends what is still held back at the end of the page.
    void finish(std::string& out);

private:
    void flushRows(std::string& out);

    SizeLookup sizeOf_;
    std::uint64_t offset_ = 0;       // bytes of the page read so far
    std::uint64_t batchOffset_ = 0;  // where the batch being gathered begins
    int batchEntries_ = 0;
    int entriesSent_ = 0;
    int entryRowsClosed_ = -1;       // "</tr>" lines of the entry being read; -1 outside one
    std::string entryHeight_;        // the entry's picture height, as written
    std::string entryText_;          // and its link text
    std::string heights_;            // the batch's picture heights, comma-separated
    std::string texts_;              // and its link texts, as script strings
};

// The script with the markup of one batch of row entries: reads the page's lines from the
// first line of an entry on (the batch's offset) and makes pictarreGallery.rows(OFFSET, [...])
// with the markup of `count` entries (each picture's address in data-src), or of those up to
// the end of the page. An entry the page ends inside of is left out.
class RowsScript {
public:
    RowsScript(std::uint64_t offset, int count);

    // Takes the next line; false once the batch is complete and needs no more.
    bool add(std::string_view line);
    // The script's text.
    std::string text() const;

private:
    std::uint64_t offset_;
    int count_;
    int entries_ = 0;
    int entryRowsClosed_ = -1;
    std::string entry_;
    std::string strings_;  // the finished entries as script strings, comma-separated
};

// Splits a stream of bytes into lines, each with its "\n", holding only the unfinished last
// line. A line longer than kLongestLine is handed on in pieces of that size, so that a file
// without line ends is neither held whole nor searched again from its start for each block.
class LineSplitter {
public:
    static constexpr std::size_t kLongestLine = std::size_t{1} << 20;
    using Each = std::function<bool(std::string_view line)>;  // false: no more lines wanted

    // Hands on each line `bytes` completes; false once `each` wanted no more.
    bool feed(std::string_view bytes, const Each& each);
    // Hands on the last line when the stream did not end with a line end.
    bool finish(const Each& each);

private:
    std::string held_;
};

// What identifies one version of a page file: its inode, size and modification time. The row
// markup is read from the file again as the user scrolls, and a page written anew meanwhile
// (the next command writes the same file) must not lend its rows to the page on screen.
std::string pageStamp(int fd);

// The script for `count` row entries of the page file at `pagePath` from byte `offset` on (a
// batch LazyPage named); nothing when the file cannot be read there or is no longer the
// version `stamp` names.
std::optional<std::string> readRowsScript(const std::string& pagePath, std::uint64_t offset, int count,
                                          std::string_view stamp);

}  // namespace pictarre
