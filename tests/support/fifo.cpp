#include "support/fifo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pictarre::test {

UnwrittenFifo::UnwrittenFifo(std::filesystem::path path, std::chrono::milliseconds patience)
    : path_(std::move(path)), made_(::mkfifo(path_.c_str(), 0644) == 0)
{
    if (made_)
        watcher_ = std::thread([this, patience] { watch(patience); });
}

UnwrittenFifo::~UnwrittenFifo()
{
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (watcher_.joinable())
        watcher_.join();
}

void UnwrittenFifo::watch(std::chrono::milliseconds patience)
{
    std::unique_lock lock(mutex_);
    if (wake_.wait_for(lock, patience, [this] { return stop_; }))
        return;
    // A reader waiting in open() or read() is the only one that lets a non-blocking open for
    // writing succeed; closing at once gives it an end of file.
    while (!wake_.wait_for(lock, std::chrono::milliseconds(10), [this] { return stop_; })) {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            released_ = true;
            ::close(fd);
        }
    }
}

}  // namespace pictarre::test
