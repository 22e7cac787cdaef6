#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace pictarre {

// An owned file descriptor: closed when the handle goes away, moved but never copied. The
// destructor closes and never throws.
//
// close() is never retried: Linux releases the descriptor even when close reports EINTR, and a
// second close could close a descriptor another thread has just been given
// (https://lwn.net/Articles/576478/). An interrupted close still counts as a failed one, since
// what was written may not have reached the file.
class FileDescriptor {
public:
    FileDescriptor() noexcept = default;
    explicit FileDescriptor(int fd) noexcept : fd_(fd < 0 ? -1 : fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) {
            close();
            fd_ = other.release();
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    bool isOpen() const noexcept { return fd_ >= 0; }
    int get() const noexcept { return fd_; }
    // Gives up ownership: the caller closes the descriptor.
    int release() noexcept { return std::exchange(fd_, -1); }
    // Closes the descriptor now; false when close reported an error. Closing a closed handle
    // does nothing and succeeds.
    bool close() noexcept;
    // Writes all of `bytes`, going on after short writes and interrupted ones; false on an error.
    bool writeAll(std::string_view bytes) const noexcept;

private:
    int fd_ = -1;
};

// Opens `path` for reading only if it is a regular file. The open cannot block on what it
// finds: it is made non-blocking, so a FIFO without a writer or a device returns at once, and
// the type is checked on the descriptor opened, not on the path, so nothing can be swapped in
// between the check and the open. Not open when the path cannot be opened or is no regular file.
FileDescriptor openRegularFile(const std::string& path) noexcept;

// Creates the file at `path`, or empties it, for writing (mode 0666 less the umask).
FileDescriptor createFile(const std::string& path) noexcept;

}  // namespace pictarre
