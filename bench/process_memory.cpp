#include "process_memory.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace pictarre::bench {

namespace {

std::vector<ProcessInfo> allProcesses()
{
    std::vector<ProcessInfo> out;
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return out;
    while (const dirent* entry = readdir(proc)) {
        const int pid = std::atoi(entry->d_name);
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text;
        std::getline(stat, text);
        // The command name in parentheses may hold spaces: the fields follow the last ')'.
        const auto close = text.rfind(')');
        if (close == std::string::npos || close + 4 >= text.size())
            continue;
        int ppid = 0;
        if (std::sscanf(text.c_str() + close + 2, "%*c %d", &ppid) == 1)
            out.push_back({pid, ppid});
    }
    closedir(proc);
    return out;
}

// Resident size of one process in KiB, from statm (cheap: no walk over its memory); 0 when the
// process has gone.
std::int64_t rssKb(int pid)
{
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    std::int64_t size = 0;
    std::int64_t resident = 0;
    if (!(statm >> size >> resident))
        return 0;
    static const std::int64_t pageKb = sysconf(_SC_PAGESIZE) / 1024;
    return resident * pageKb;
}

// Proportional set size of one process in KiB: each shared page counted once across the
// processes that share it. Reading it walks the process's page tables, about 1-3 ms of CPU per
// 100 MB resident on this kind of machine; 0 when the process has gone.
std::int64_t pssKb(int pid)
{
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string key;
    std::int64_t value = 0;
    while (rollup >> key) {
        if (key == "Pss:" && rollup >> value)
            return value;
        rollup.ignore(1 << 12, '\n');
    }
    return 0;
}

// What an engine process is, from its command line. Renderers are forked from a zygote without
// a new command line, so a "zygote" whose parent is a zygote is a renderer.
std::string processKind(const ProcessInfo& p, int self, int gallery)
{
    if (p.pid == self)
        return "bench";
    if (p.pid == gallery)
        return "gallery";
    std::ifstream cmdline("/proc/" + std::to_string(p.pid) + "/cmdline");
    std::string args((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
    for (const std::string kind : {"renderer", "gpu-process", "utility", "zygote"}) {
        if (args.find("--type=" + kind) == std::string::npos)
            continue;
        if (kind == "zygote")
            return p.ppid == self ? "zygote" : "renderer";
        return kind == "gpu-process" ? "gpu" : kind;
    }
    return "other";
}

std::int64_t threadCpuUs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void addPeak(MemoryPeak& peak, std::int64_t sum, const std::map<std::string, std::int64_t>& kinds, std::int64_t now)
{
    if (sum > peak.total) {
        peak.total = sum;
        peak.atMs = now;
    }
    for (const auto& [kind, kb] : kinds)
        peak.byKind[kind] = std::max(peak.byKind[kind], kb);
}

}  // namespace

std::vector<ProcessInfo> descendantsOf(int root)
{
    std::multimap<int, int> children;
    for (const auto& p : allProcesses())
        children.emplace(p.ppid, p.pid);
    std::vector<ProcessInfo> out;
    std::vector<int> todo{root};
    while (!todo.empty()) {
        const int pid = todo.back();
        todo.pop_back();
        const auto [first, last] = children.equal_range(pid);
        for (auto it = first; it != last; ++it) {
            out.push_back({it->second, pid});
            todo.push_back(it->second);
        }
    }
    return out;
}

void killDescendants()
{
    for (const auto& p : descendantsOf(static_cast<int>(getpid())))
        kill(p.pid, SIGKILL);
}

MemorySampler::MemorySampler(int intervalMs, std::int64_t limitKb, const std::string& trace,
                             std::function<std::int64_t()> nowMs)
    : intervalMs_(intervalMs), limitKb_(limitKb), nowMs_(std::move(nowMs))
{
    if (!trace.empty()) {
        trace_ = std::fopen(trace.c_str(), "w");
        if (trace_)
            std::fputs("ms,processes,rss_kb,pss_kb,gallery_rss_kb,bench_rss_kb\n", trace_);
    }
}

MemorySampler::~MemorySampler()
{
    stop();
    if (trace_)
        std::fclose(trace_);
}

void MemorySampler::start()
{
    thread_ = std::thread([this] { run(); });
}

void MemorySampler::stop()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
}

void MemorySampler::setHungHandler(std::int64_t deadlineMs, std::function<void(const char*)> handler)
{
    std::lock_guard lock(mutex_);
    deadlineMs_ = deadlineMs;
    hung_ = std::move(handler);
}

MemoryFigures MemorySampler::figures() const
{
    std::lock_guard lock(mutex_);
    MemoryFigures f = figures_;
    f.rssSampleCpuMs = f.rssSamples ? rssCpuUs_ / 1000.0 / f.rssSamples : 0;
    f.pssSampleCpuMs = f.pssSamples ? pssCpuUs_ / 1000.0 / f.pssSamples : 0;
    return f;
}

void MemorySampler::run()
{
    const int self = static_cast<int>(getpid());
    std::int64_t nextPss = 0;
    while (!stopping_) {
        const auto began = std::chrono::steady_clock::now();
        const bool withPss = nowMs_() >= nextPss;
        const std::int64_t pssCostUs = sample(self, withPss);
        // Reading PSS walks every page table: it is kept to a twentieth of a core, so that the
        // sampler, which runs in the measured process, does not slow what it measures.
        if (withPss)
            nextPss = nowMs_() + std::max<std::int64_t>(intervalMs_, 20 * pssCostUs / 1000);
        std::function<void(const char*)> hung;
        std::int64_t deadline = 0;
        {
            std::lock_guard lock(mutex_);
            hung = hung_;
            deadline = deadlineMs_;
        }
        if (hung && overLimit_ && nowMs_() - overSinceMs_ > 15000)
            hung("memlimit");
        if (hung && deadline > 0 && nowMs_() > deadline)
            hung("timeout");
        std::this_thread::sleep_until(began + std::chrono::milliseconds(intervalMs_));
    }
}

// One sample; returns the CPU time its proportional sizes took, in microseconds.
std::int64_t MemorySampler::sample(int self, bool withPss)
{
    const std::int64_t cpu0 = threadCpuUs();
    std::vector<ProcessInfo> processes = descendantsOf(self);
    processes.push_back({self, 0});
    std::vector<std::string> kinds;
    std::map<std::string, std::int64_t> rssByKind;
    std::int64_t rss = 0;
    for (const auto& p : processes) {
        kinds.push_back(processKind(p, self, galleryPid_));
        const std::int64_t r = rssKb(p.pid);
        rssByKind[kinds.back()] += r;
        rss += r;
    }
    const std::int64_t cpu1 = threadCpuUs();
    std::map<std::string, std::int64_t> pssByKind;
    std::int64_t pss = -1;
    if (withPss) {
        pss = 0;
        for (std::size_t i = 0; i < processes.size(); ++i) {
            const std::int64_t p = pssKb(processes[i].pid);
            pssByKind[kinds[i]] += p;
            pss += p;
        }
    }
    const std::int64_t cpu2 = threadCpuUs();
    const std::int64_t at = nowMs_();
    lastRss_ = rss;
    if (pss >= 0)
        lastPss_ = pss;
    if (limitKb_ > 0 && rss > limitKb_ && !overLimit_) {
        overSinceMs_ = at;
        overLimit_ = true;
    }
    std::lock_guard lock(mutex_);
    ++figures_.rssSamples;
    rssCpuUs_ += cpu1 - cpu0;
    figures_.maxProcesses = std::max<std::int64_t>(figures_.maxProcesses, static_cast<std::int64_t>(processes.size()));
    addPeak(figures_.rss, rss, rssByKind, at);
    if (pss >= 0) {
        ++figures_.pssSamples;
        pssCpuUs_ += cpu2 - cpu1;
        addPeak(figures_.pss, pss, pssByKind, at);
    }
    if (trace_) {
        std::fprintf(trace_, "%lld,%zu,%lld,%s,%lld,%lld\n", static_cast<long long>(at - originMs_),
                     processes.size(), static_cast<long long>(rss), pss >= 0 ? std::to_string(pss).c_str() : "",
                     static_cast<long long>(rssByKind["gallery"]), static_cast<long long>(rssByKind["bench"]));
        std::fflush(trace_);
    }
    return cpu2 - cpu1;
}

}  // namespace pictarre::bench
