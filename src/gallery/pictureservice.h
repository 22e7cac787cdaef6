#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "collect/filedescriptor.h"
#include "gallery/diskcache.h"
#include "gallery/scaledpicture.h"

namespace pictarre {

// What a picture request is answered with: the scaled copy, or the original file to be read
// from its start, or neither when the file cannot be opened as a regular file or the decoder
// refused it.
struct PictureAnswer {
    std::shared_ptr<const std::string> copy;  // shared with the cache; never changed
    std::string mimeType;                     // the copy's
    FileDescriptor original;                  // positioned at 0; the receiver owns it

    bool found() const { return copy || original.isOpen(); }
};

// Decodes the picture in `fd` for a box of `width` × `height` (see scaledPicture).
using PictureDecoder = std::function<std::optional<EncodedPicture>(int fd, std::uint32_t width, std::uint32_t height)>;

struct PictureServiceOptions {
    std::size_t cacheBytes = std::size_t(64) << 20;
    unsigned workers = std::max(2u, std::thread::hardware_concurrency());
    PictureDecoder decoder = scaledPicture;
    // Where copies are also kept between runs, or nothing.
    std::shared_ptr<DiskCache> disk;
};

// Serves the pictures of the gallery view from a fixed pool of workers: the newest request
// first, since that is the one nearest to what the user looks at now; each version of a file
// decoded once per size asked for, however many requests for it come at once; scaled copies
// kept in a cache bounded by their bytes, the least recently used going first, and on disk when
// given a disk cache, which is asked before decoding. A version of a file the decoder refused
// is remembered as refused, for every size, and not read again.
class PictureService {
public:
    using Ticket = std::uint64_t;
    // Runs on a worker thread.
    using Callback = std::function<void(PictureAnswer)>;

    explicit PictureService(PictureServiceOptions options = {});
    // Cancels every request and waits for the workers; a decode under way finishes first.
    ~PictureService();
    PictureService(const PictureService&) = delete;
    PictureService& operator=(const PictureService&) = delete;

    // Queues a request for the picture at `path` drawn in a box of `width` × `height`.
    Ticket request(std::string path, std::uint32_t width, std::uint32_t height, Callback done);
    // The request's callback will not be called: a queued request is dropped undecoded, a
    // running one still fills the cache. A callback already under way finishes.
    void cancel(Ticket ticket);

private:
    // One version of a file (device, inode, size, modification time) at one size asked for.
    struct Key {
        std::uint64_t device, inode;
        std::int64_t size, seconds, nanoseconds;
        std::uint32_t width, height;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const;
    };
    struct Request;
    using RequestPtr = std::shared_ptr<Request>;
    struct Cached {
        Key key;
        std::shared_ptr<const std::string> bytes;
        std::string mimeType;
    };

    void work();
    void serve(const RequestPtr& request);
    void deliver(Request& request, PictureAnswer answer);
    const Cached* lookUp(const Key& key);  // under mutex_
    void keep(const Key& key, std::shared_ptr<const std::string> bytes, std::string mimeType);  // under mutex_

    const std::size_t cacheBytes_;
    const PictureDecoder decode_;
    const std::shared_ptr<DiskCache> disk_;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    Ticket lastTicket_ = 0;
    std::map<Ticket, RequestPtr> queued_;  // the newest last
    std::unordered_map<Ticket, RequestPtr> live_;  // queued, running or waiting for a decode
    // Decodes under way, each with the requests that wait for its result.
    std::unordered_map<Key, std::vector<RequestPtr>, KeyHash> decoding_;
    std::list<Cached> recent_;  // the most recently used first
    std::unordered_map<Key, std::list<Cached>::iterator, KeyHash> cached_;
    std::size_t cachedBytes_ = 0;
    // Versions refused, each under the size 0 × 0; forgotten all at once past a bound.
    std::unordered_set<Key, KeyHash> refused_;
    std::vector<std::thread> workers_;
};

}  // namespace pictarre
