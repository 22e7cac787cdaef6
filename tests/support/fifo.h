#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

namespace pictarre::test {

// A named pipe that nothing writes to, standing where a picture or a list file was. Should a
// reader block on it for longer than `patience` (the fault these tests guard against), the
// watcher opens it for writing and closes it again, so the reader sees an end of file and the
// test fails instead of hanging.
class UnwrittenFifo {
public:
    explicit UnwrittenFifo(std::filesystem::path path,
                           std::chrono::milliseconds patience = std::chrono::milliseconds(3000));
    ~UnwrittenFifo();
    UnwrittenFifo(const UnwrittenFifo&) = delete;
    UnwrittenFifo& operator=(const UnwrittenFifo&) = delete;

    bool made() const { return made_; }
    // True once the watcher had to release a reader that blocked on the pipe.
    bool releasedABlockedReader() const { return released_; }

private:
    void watch(std::chrono::milliseconds patience);

    std::filesystem::path path_;
    bool made_ = false;
    std::atomic<bool> released_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread watcher_;
};

}  // namespace pictarre::test
