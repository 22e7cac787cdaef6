#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "collect/filedescriptor.h"

namespace pictarre {

// Writes the image list file: ImageListText followed by one CR LF, native bytes, no BOM.
// Creates or empties the file. Returns false when the file could not be written completely;
// the file is closed on every way out.
bool writeImageListFile(const std::string& path, std::string_view ImageListText);

// Reads the image list file back one line at a time. A line ends at LF, and a CR right before
// the LF belongs to the line end; a last line without LF keeps a CR it ends in. Empty lines are
// returned as empty strings: they carry no picture, but the gallery writer still counts them.
class ImageListReader {
public:
    // Opens the list file at `path`. Only a regular file is read: a FIFO could block the open
    // or a read for good, and a device may never end.
    explicit ImageListReader(const std::string& path);
    // Reads a descriptor that is open already, whatever it is (a tool's standard input).
    explicit ImageListReader(FileDescriptor file);

    bool isOpen() const noexcept { return file_.isOpen(); }
    // False once a read has failed: the lines given so far are then not the whole file.
    bool ok() const noexcept { return ok_; }
    // The next line, or nothing at the end of the file, after a read error or once closed.
    std::optional<std::string> nextLine();
    void close() noexcept;

private:
    bool fill();

    FileDescriptor file_;
    std::string buffer_;
    std::size_t start_ = 0;
    std::size_t end_ = 0;
    bool ok_ = true;
};

}  // namespace pictarre
