#include "collect/listfile.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace pictarre {

namespace {

constexpr std::size_t kReadSize = 1 << 16;

}  // namespace

bool writeImageListFile(const std::string& path, std::string_view ImageListText)
{
    FileDescriptor file = createFile(path);
    if (!file.isOpen())
        return false;
    const bool written = file.writeAll(ImageListText) && file.writeAll("\r\n");
    // A full disk may show only when the file is closed, so the close counts too.
    return file.close() && written;
}

ImageListReader::ImageListReader(const std::string& path) : ImageListReader(openRegularFile(path)) {}

ImageListReader::ImageListReader(FileDescriptor file) : file_(std::move(file)) {}

void ImageListReader::close() noexcept
{
    file_.close();
    start_ = end_ = 0;
}

// Reads the next piece of the file into the buffer; false at the end of the file or on an error.
bool ImageListReader::fill()
{
    if (!file_.isOpen() || !ok_)
        return false;
    buffer_.resize(kReadSize);
    for (;;) {
        const ssize_t got = ::read(file_.get(), buffer_.data(), buffer_.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            ok_ = false;
        start_ = 0;
        end_ = got > 0 ? static_cast<std::size_t>(got) : 0;
        return got > 0;
    }
}

std::optional<std::string> ImageListReader::nextLine()
{
    std::string line;
    bool any = false;
    while (start_ < end_ || fill()) {
        const char* begin = buffer_.data() + start_;
        const std::size_t available = end_ - start_;
        const void* lf = std::memchr(begin, '\n', available);
        if (lf != nullptr) {
            const auto length = static_cast<std::size_t>(static_cast<const char*>(lf) - begin);
            line.append(begin, length);
            start_ += length + 1;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        line.append(begin, available);
        start_ = end_;
        any = true;
    }
    if (!any || !ok_)
        return std::nullopt;
    return line;
}

}  // namespace pictarre
