#include "collect/listfile.h"

#include <cstdlib>

#include <stdio.h>

namespace pictarre {

bool writeImageListFile(const std::string& path, std::string_view ImageListText)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool ok = std::fwrite(ImageListText.data(), 1, ImageListText.size(), file) == ImageListText.size();
    ok = ok && std::fwrite("\r\n", 1, 2, file) == 2;
    // fclose flushes: a full disk shows up here, so its result counts too.
    ok = (std::fclose(file) == 0) && ok;
    return ok;
}

ImageListReader::ImageListReader(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {}

ImageListReader::~ImageListReader()
{
    close();
}

void ImageListReader::close() noexcept
{
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

std::optional<std::string> ImageListReader::nextLine()
{
    if (file_ == nullptr)
        return std::nullopt;
    char* buffer = nullptr;
    std::size_t capacity = 0;
    const ssize_t length = ::getline(&buffer, &capacity, file_);
    std::optional<std::string> line;
    if (length > 0) {
        std::size_t size = static_cast<std::size_t>(length);
        if (buffer[size - 1] == '\n') {
            --size;
            if (size > 0 && buffer[size - 1] == '\r')
                --size;
        }
        line.emplace(buffer, size);
    }
    std::free(buffer);
    return line;
}

}  // namespace pictarre
