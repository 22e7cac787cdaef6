#include "gallery/diskcache.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "collect/filedescriptor.h"

namespace pictarre {

namespace {

// An entry: the magic, the key, the lengths and the checksum, then the MIME type and the bytes.
// Numbers are little-endian.
constexpr char kMagic[8] = {'P', 'I', 'C', 'T', 'C', 'P', 'Y', '1'};
constexpr std::size_t kKeyBytes = 5 * 8 + 2 * 4;
constexpr std::size_t kHeaderBytes = sizeof kMagic + kKeyBytes + 4 + 8 + 8;
constexpr std::size_t kMaxMimeType = 255;
constexpr char kEntrySuffix[] = ".copy";
constexpr char kTemporaryPrefix[] = "tmp.";
// A temporary file this old was left by a process that ended while writing it.
constexpr std::time_t kStaleTemporarySeconds = 600;
// The entries of a full folder are dropped down to this share of the bound, so that the folder
// is not counted again after every store.
constexpr std::uint64_t kTrimTo(std::uint64_t limit) { return limit / 8 * 7; }

void put(std::string& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

std::uint64_t get(const char* in, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= std::uint64_t(static_cast<unsigned char>(in[i])) << (8 * i);
    return value;
}

std::string keyBytes(const DiskCache::Key& key)
{
    std::string out;
    put(out, key.device, 8);
    put(out, key.inode, 8);
    put(out, std::uint64_t(key.size), 8);
    put(out, std::uint64_t(key.seconds), 8);
    put(out, std::uint64_t(key.nanoseconds), 8);
    put(out, key.width, 4);
    put(out, key.height, 4);
    return out;
}

// A 64-bit checksum of `bytes` taken eight at a time; it finds torn and damaged entries, it is
// no defence against a forger (who could as well write a copy of his own under the right key).
std::uint64_t checksum(std::string_view a, std::string_view b)
{
    std::uint64_t h = 0x9e3779b97f4a7c15u ^ (a.size() * 31 + b.size());
    for (const std::string_view part : {a, b}) {
        std::size_t i = 0;
        for (; i + 8 <= part.size(); i += 8) {
            std::uint64_t word;
            std::memcpy(&word, part.data() + i, 8);
            h = (h ^ word) * 0xff51afd7ed558ccdu;
            h ^= h >> 32;
        }
        for (; i < part.size(); ++i)
            h = (h ^ static_cast<unsigned char>(part[i])) * 0x100000001b3u;
    }
    return h ^ (h >> 29);
}

bool readAll(int fd, char* out, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, out + done, size - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool endsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// Makes `folder` and those above it that are missing, for the user alone.
bool makeFolder(const std::string& folder)
{
    if (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST)
        return true;
    const std::size_t slash = folder.find_last_of('/');
    if (errno != ENOENT || slash == std::string::npos || slash == 0)
        return false;
    return makeFolder(folder.substr(0, slash)) && (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST);
}

}  // namespace

DiskCache::DiskCache(std::string folder, std::uint64_t limitBytes) : folder_(std::move(folder)), limit_(limitBytes) {}

std::string DiskCache::pathOf(const Key& key) const
{
    const std::string bytes = keyBytes(key);
    std::uint64_t h = 0xcbf29ce484222325u;
    for (const char c : bytes)
        h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name(16, '0');
    for (int i = 15; i >= 0; --i, h >>= 4)
        name[static_cast<std::size_t>(i)] = kHex[h & 15];
    return folder_ + '/' + name + kEntrySuffix;
}

std::optional<DiskCache::Entry> DiskCache::find(const Key& key) const
{
    const FileDescriptor file(::open(pathOf(key).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!file.isOpen() || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size < off_t(kHeaderBytes) || std::uint64_t(st.st_size) > limit_)
        return std::nullopt;
    std::string data(static_cast<std::size_t>(st.st_size), '\0');
    if (!readAll(file.get(), data.data(), data.size()))
        return std::nullopt;
    const char* at = data.data();
    if (std::memcmp(at, kMagic, sizeof kMagic) != 0 || data.compare(sizeof kMagic, kKeyBytes, keyBytes(key)) != 0)
        return std::nullopt;
    at += sizeof kMagic + kKeyBytes;
    const std::uint64_t mimeLength = get(at, 4);
    const std::uint64_t length = get(at + 4, 8);
    const std::uint64_t sum = get(at + 12, 8);
    if (mimeLength > kMaxMimeType || length != data.size() - kHeaderBytes - mimeLength || length > data.size())
        return std::nullopt;
    const std::string_view mimeType(data.data() + kHeaderBytes, mimeLength);
    const std::string_view bytes(data.data() + kHeaderBytes + mimeLength, length);
    if (checksum(mimeType, bytes) != sum)
        return std::nullopt;
    // Marked as used, for the bound's oldest-first; not more often than once a minute, to spare
    // the disk a write for every picture scrolled past again.
    if (std::time(nullptr) - st.st_mtim.tv_sec > 60)
        ::futimens(file.get(), nullptr);
    return Entry{std::string(bytes), std::string(mimeType)};
}

void DiskCache::store(const Key& key, std::string_view bytes, std::string_view mimeType)
{
    if (mimeType.size() > kMaxMimeType || kHeaderBytes + mimeType.size() + bytes.size() > limit_ / 4)
        return;
    std::string entry(kMagic, sizeof kMagic);
    entry.reserve(kHeaderBytes + mimeType.size() + bytes.size());
    entry += keyBytes(key);
    put(entry, mimeType.size(), 4);
    put(entry, bytes.size(), 8);
    put(entry, checksum(mimeType, bytes), 8);
    entry += mimeType;
    entry += bytes;

    const std::string temporary = folder_ + '/' + kTemporaryPrefix + std::to_string(::getpid()) + '.' +
        std::to_string(sequence_.fetch_add(1)) + '.' + std::to_string(std::uint64_t(std::time(nullptr)));
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    FileDescriptor file(::open(temporary.c_str(), flags, 0600));
    if (!file.isOpen() && errno == ENOENT && makeFolder(folder_))
        file = FileDescriptor(::open(temporary.c_str(), flags, 0600));
    if (!file.isOpen())
        return;
    const bool written = file.writeAll(entry) && file.close();
    if (!written || ::rename(temporary.c_str(), pathOf(key).c_str()) != 0) {
        ::unlink(temporary.c_str());
        return;
    }
    trimIfDue(entry.size());
}

void DiskCache::trimIfDue(std::uint64_t written)
{
    // Other processes write to the folder too: it is counted again, from the disk, when this
    // process's own count passes the bound or after a sixteenth of the bound written here.
    const std::unique_lock lock(trimming_, std::try_to_lock);
    if (!lock.owns_lock())
        return;  // another thread is counting, and counts this entry too
    estimate_ += written;
    writtenSinceCount_ += written;
    if (counted_ && estimate_ <= limit_ && writtenSinceCount_ <= limit_ / 16)
        return;
    trim();
}

void DiskCache::trim()
{
    struct Found {
        std::string path;
        std::int64_t usedSeconds, usedNanoseconds;
        std::uint64_t bytes;
    };
    std::vector<Found> entries;
    std::uint64_t total = 0;
    const std::time_t now = std::time(nullptr);
    if (DIR* dir = ::opendir(folder_.c_str())) {
        while (const dirent* each = ::readdir(dir)) {
            const std::string_view name = each->d_name;
            const bool isEntry = endsWith(name, kEntrySuffix);
            if (!isEntry && !name.starts_with(kTemporaryPrefix))
                continue;
            std::string path = folder_ + '/' + std::string(name);
            struct stat st {};
            if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
            if (!isEntry) {
                if (now - st.st_mtim.tv_sec > kStaleTemporarySeconds)
                    ::unlink(path.c_str());
                continue;
            }
            total += std::uint64_t(st.st_size);
            entries.push_back({std::move(path), st.st_mtim.tv_sec, st.st_mtim.tv_nsec, std::uint64_t(st.st_size)});
        }
        ::closedir(dir);
    }
    if (total > limit_) {
        std::sort(entries.begin(), entries.end(), [](const Found& a, const Found& b) {
            return a.usedSeconds != b.usedSeconds ? a.usedSeconds < b.usedSeconds : a.usedNanoseconds < b.usedNanoseconds;
        });
        for (const Found& oldest : entries) {
            if (total <= kTrimTo(limit_))
                break;
            // Another process may have dropped or replaced it already; either way it is gone.
            ::unlink(oldest.path.c_str());
            total -= oldest.bytes;
        }
    }
    estimate_ = total;
    writtenSinceCount_ = 0;
    counted_ = true;
}

}  // namespace pictarre
