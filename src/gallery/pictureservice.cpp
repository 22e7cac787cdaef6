#include "gallery/pictureservice.h"

#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace pictarre {

namespace {
// Refused versions remembered at most; past it the memory starts afresh.
constexpr std::size_t kMostRefused = 1u << 16;
}  // namespace

struct PictureService::Request {
    Ticket ticket;
    std::string path;
    std::uint32_t width;
    std::uint32_t height;
    Callback done;
    bool cancelled = false;   // under mutex_
    FileDescriptor file;      // while it waits for another request's decode
};

std::size_t PictureService::KeyHash::operator()(const Key& key) const
{
    std::uint64_t h = 0xcbf29ce484222325u;
    for (const std::uint64_t part : {key.device, key.inode, std::uint64_t(key.size), std::uint64_t(key.seconds),
                                     std::uint64_t(key.nanoseconds), std::uint64_t(key.width) << 32 | key.height})
        h = (h ^ part) * 0x100000001b3u;
    return static_cast<std::size_t>(h ^ (h >> 29));
}

PictureService::PictureService(PictureServiceOptions options)
    : cacheBytes_(options.cacheBytes), decode_(std::move(options.decoder)), disk_(std::move(options.disk))
{
    workers_.reserve(std::max(1u, options.workers));
    for (unsigned i = 0; i < std::max(1u, options.workers); ++i)
        workers_.emplace_back([this] { work(); });
}

PictureService::~PictureService()
{
    {
        std::vector<RequestPtr> dropped;  // their callbacks are let go outside the lock
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        for (auto& [ticket, request] : live_) {
            request->cancelled = true;
            dropped.push_back(std::move(request));
        }
        live_.clear();
        queued_.clear();
    }
    wake_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

PictureService::Ticket PictureService::request(std::string path, std::uint32_t width, std::uint32_t height,
                                               Callback done)
{
    auto request = std::make_shared<Request>(Request{0, std::move(path), width, height, std::move(done), false, {}});
    {
        const std::lock_guard lock(mutex_);
        request->ticket = ++lastTicket_;
        queued_.emplace(request->ticket, request);
        live_.emplace(request->ticket, request);
    }
    wake_.notify_one();
    return request->ticket;
}

void PictureService::cancel(Ticket ticket)
{
    RequestPtr dropped;  // its callback is let go outside the lock
    const std::lock_guard lock(mutex_);
    const auto found = live_.find(ticket);
    if (found == live_.end())
        return;
    dropped = std::move(found->second);
    dropped->cancelled = true;
    live_.erase(found);
    queued_.erase(ticket);
}

void PictureService::work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queued_.empty(); });
        if (stopping_)
            return;
        RequestPtr request = std::move(queued_.extract(std::prev(queued_.end())).mapped());
        lock.unlock();
        serve(request);
        request.reset();
        lock.lock();
    }
}

void PictureService::serve(const RequestPtr& request)
{
    FileDescriptor file = openRegularFile(request->path);
    struct stat st {};
    if (!file.isOpen() || ::fstat(file.get(), &st) != 0) {
        deliver(*request, {});
        return;
    }
    const Key key{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), std::int64_t(st.st_size),
                  std::int64_t(st.st_mtim.tv_sec), std::int64_t(st.st_mtim.tv_nsec), request->width, request->height};
    Key version = key;
    version.width = version.height = 0;
    {
        std::unique_lock lock(mutex_);
        if (refused_.contains(version)) {
            lock.unlock();
            deliver(*request, {});
            return;
        }
        if (const Cached* hit = lookUp(key)) {
            PictureAnswer answer{hit->bytes, hit->mimeType, {}};
            lock.unlock();
            deliver(*request, std::move(answer));
            return;
        }
        if (const auto running = decoding_.find(key); running != decoding_.end()) {
            // The request that decodes this version answers this one too.
            request->file = std::move(file);
            running->second.push_back(request);
            return;
        }
        decoding_.emplace(key, std::vector<RequestPtr>());
    }

    const DiskCache::Key diskKey{key.device, key.inode, key.size, key.seconds, key.nanoseconds, key.width, key.height};
    std::optional<EncodedPicture> picture;
    if (auto kept = disk_ ? disk_->find(diskKey) : std::nullopt)
        picture = EncodedPicture{std::move(kept->bytes), std::move(kept->mimeType)};
    else {
        try {
            picture = decode_(file.get(), request->width, request->height);
        } catch (...) {
            picture.reset();  // a picture that cannot be decoded is served as it is
        }
        // Kept on disk only when the file is still the version the key names.
        struct stat now {};
        if (picture && disk_ && ::fstat(file.get(), &now) == 0 && now.st_size == st.st_size &&
            now.st_mtim.tv_sec == st.st_mtim.tv_sec && now.st_mtim.tv_nsec == st.st_mtim.tv_nsec)
            disk_->store(diskKey, picture->bytes, picture->mimeType);
    }
    std::shared_ptr<const std::string> bytes;
    std::vector<RequestPtr> answered{request};
    const bool refused = picture && picture->refused;
    {
        const std::lock_guard lock(mutex_);
        if (refused) {
            if (refused_.size() >= kMostRefused)
                refused_.clear();
            refused_.insert(version);
        } else if (picture) {
            bytes = std::make_shared<const std::string>(std::move(picture->bytes));
            keep(key, bytes, picture->mimeType);
        }
        const auto running = decoding_.find(key);
        for (RequestPtr& waiting : running->second)
            answered.push_back(std::move(waiting));
        decoding_.erase(running);
    }
    request->file = std::move(file);
    for (const RequestPtr& each : answered) {
        PictureAnswer answer;
        if (bytes) {
            answer.copy = bytes;
            answer.mimeType = picture->mimeType;
        } else if (!refused && ::lseek(each->file.get(), 0, SEEK_SET) == 0) {
            answer.original = std::move(each->file);
        }
        deliver(*each, std::move(answer));
    }
}

void PictureService::deliver(Request& request, PictureAnswer answer)
{
    {
        const std::lock_guard lock(mutex_);
        if (request.cancelled)
            return;
        live_.erase(request.ticket);
    }
    try {
        request.done(std::move(answer));
    } catch (...) {
        // The receiver's failure is its own; the worker goes on with the next request.
    }
}

const PictureService::Cached* PictureService::lookUp(const Key& key)
{
    const auto found = cached_.find(key);
    if (found == cached_.end())
        return nullptr;
    recent_.splice(recent_.begin(), recent_, found->second);
    return &*found->second;
}

void PictureService::keep(const Key& key, std::shared_ptr<const std::string> bytes, std::string mimeType)
{
    const std::size_t size = bytes->size();
    if (size > cacheBytes_ || cached_.contains(key))
        return;
    recent_.push_front(Cached{key, std::move(bytes), std::move(mimeType)});
    cached_.emplace(key, recent_.begin());
    cachedBytes_ += size;
    while (cachedBytes_ > cacheBytes_) {
        cachedBytes_ -= recent_.back().bytes->size();
        cached_.erase(recent_.back().key);
        recent_.pop_back();
    }
}

}  // namespace pictarre
