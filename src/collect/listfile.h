#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace pictarre {

// Writes the image list file: ImageListText followed by one CR LF, native bytes, no BOM.
// Creates or empties the file. Returns false when the file could not be written completely;
// the file is closed on every way out.
bool writeImageListFile(const std::string& path, std::string_view ImageListText);

// Reads the image list file back one line at a time (a line ends at LF; a CR before it is
// dropped). Empty lines are returned as empty strings: they carry no picture, but the gallery
// writer still counts them.
class ImageListReader {
public:
    explicit ImageListReader(const std::string& path);
    ~ImageListReader();
    ImageListReader(const ImageListReader&) = delete;
    ImageListReader& operator=(const ImageListReader&) = delete;

    bool isOpen() const noexcept { return file_ != nullptr; }
    // The next line, or nothing at the end of the file (or after a read error).
    std::optional<std::string> nextLine();
    void close() noexcept;

private:
    std::FILE* file_ = nullptr;
};

}  // namespace pictarre
