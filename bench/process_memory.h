#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pictarre::bench {

struct ProcessInfo {
    int pid = 0;
    int ppid = 0;
};

// The processes below `root` in /proc, each with its parent.
std::vector<ProcessInfo> descendantsOf(int root);

// Ends every process below this one (the browser engine's), by their ids.
void killDescendants();

// Peaks of a sum over processes, overall and by kind of process, in KiB.
struct MemoryPeak {
    std::int64_t total = 0;
    std::int64_t atMs = 0;
    std::map<std::string, std::int64_t> byKind;
};

struct MemoryFigures {
    MemoryPeak rss;  // resident sizes, summed
    MemoryPeak pss;  // proportional sizes (shared pages counted once), summed
    std::int64_t maxProcesses = 0;
    std::int64_t rssSamples = 0;
    std::int64_t pssSamples = 0;
    double rssSampleCpuMs = 0;  // CPU time of one sample, on average
    double pssSampleCpuMs = 0;
};

// Samples the memory of this process and all its descendants (the engine's processes) from a
// thread of its own: the resident sizes every interval, the proportional sizes as often as their
// cost allows (at most a twentieth of one core). Kinds: "bench" (this process), "gallery" (the
// renderer given by setGalleryPid), "renderer", "zygote", "gpu", "utility", "other".
class MemorySampler {
public:
    // `nowMs` is the clock of all times; `trace`, when not empty, receives every sample as CSV.
    MemorySampler(int intervalMs, std::int64_t limitKb, const std::string& trace, std::function<std::int64_t()> nowMs);
    ~MemorySampler();
    MemorySampler(const MemorySampler&) = delete;
    MemorySampler& operator=(const MemorySampler&) = delete;

    void start();
    void stop();
    void setGalleryPid(std::int64_t pid) { galleryPid_ = static_cast<int>(pid); }
    // Times in the trace count from here.
    void setOriginMs(std::int64_t ms) { originMs_ = ms; }
    // Called on the sampler's thread when the resident sum has stayed over the limit for 15 s,
    // or past the deadline: the main thread did not end the run. It should report and exit.
    void setHungHandler(std::int64_t deadlineMs, std::function<void(const char* status)> handler);
    // The resident sum has passed the limit (checked on every sample; it is never below the
    // proportional sum).
    bool overLimit() const { return overLimit_; }
    // The latest sums, in KiB.
    std::int64_t currentRssKb() const { return lastRss_; }
    std::int64_t currentPssKb() const { return lastPss_; }
    MemoryFigures figures() const;

private:
    void run();
    std::int64_t sample(int self, bool withPss);

    const int intervalMs_;
    const std::int64_t limitKb_;
    const std::function<std::int64_t()> nowMs_;
    std::FILE* trace_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> galleryPid_{0};
    std::atomic<bool> overLimit_{false};
    std::atomic<std::int64_t> overSinceMs_{0};
    std::atomic<std::int64_t> lastRss_{0};
    std::atomic<std::int64_t> lastPss_{0};
    std::atomic<std::int64_t> originMs_{0};
    std::int64_t deadlineMs_ = 0;
    std::function<void(const char*)> hung_;
    mutable std::mutex mutex_;
    MemoryFigures figures_;
    std::int64_t rssCpuUs_ = 0;
    std::int64_t pssCpuUs_ = 0;
};

}  // namespace pictarre::bench
