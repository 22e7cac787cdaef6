#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace pictarre {

// Copies of pictures kept on disk between runs of the program, one file per copy in a folder of
// its own, shared by every program process of the user. An entry is named after a hash of its
// key and holds the whole key, its lengths and a checksum: only an entry that is whole and
// carries exactly the key asked for is used, anything else is treated as absent and replaced by
// the next copy stored. Entries are written to a temporary file and renamed into place, so a
// reader sees an old entry or a new one, never part of one. The folder is kept under its byte
// bound by dropping the entries used longest ago. Thread-safe.
class DiskCache {
public:
    // One version of a file (device, inode, size, modification time to the nanosecond) at one
    // size asked for.
    struct Key {
        std::uint64_t device = 0, inode = 0;
        std::int64_t size = 0, seconds = 0, nanoseconds = 0;
        std::uint32_t width = 0, height = 0;
        bool operator==(const Key&) const = default;
    };
    struct Entry {
        std::string bytes;
        std::string mimeType;
    };

    static constexpr std::uint64_t kDefaultLimit = std::uint64_t(1) << 30;

    // A cache in `folder` (made when first written to, readable by the user alone), bounded to
    // `limitBytes` over all its entries, whichever process wrote them.
    explicit DiskCache(std::string folder, std::uint64_t limitBytes = kDefaultLimit);
    DiskCache(const DiskCache&) = delete;
    DiskCache& operator=(const DiskCache&) = delete;

    // The copy kept for `key`, or nothing.
    std::optional<Entry> find(const Key& key) const;
    // Keeps `bytes` for `key`, replacing what the entry held; failures leave the cache as it was.
    void store(const Key& key, std::string_view bytes, std::string_view mimeType);

    const std::string& folder() const { return folder_; }
    // The entry's file, whether it exists or not.
    std::string pathOf(const Key& key) const;

private:
    void trimIfDue(std::uint64_t written);
    void trim();

    const std::string folder_;
    const std::uint64_t limit_;
    std::atomic<std::uint64_t> sequence_{0};
    std::mutex trimming_;
    std::uint64_t estimate_ = 0;          // under trimming_: the folder's bytes as last counted, plus since
    std::uint64_t writtenSinceCount_ = 0;  // under trimming_
    bool counted_ = false;                 // under trimming_
};

}  // namespace pictarre
