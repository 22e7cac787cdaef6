#include "collect/search.h"

#include <climits>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "collect/filedescriptor.h"
#include "collect/paths.h"

namespace pictarre {

namespace {

// A path this long cannot be opened by name, and the gallery writer opens pictures by name.
constexpr std::size_t kPathLimit = PATH_MAX;

// Folder levels deeper than this are read whole and closed before their entries are handled, so
// a deep tree never holds more than this many directory handles (the soft limit is often 1024).
constexpr std::size_t kMaxOpenFolders = 64;

struct FolderId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const FolderId&) const = default;
};

// The folders already walked, as a flat open-addressing table: one insert per folder and no
// allocation per insert.
class VisitedFolders {
public:
    VisitedFolders() : slots_(256) {}

    // Records the folder; false when it was recorded before.
    bool insert(FolderId id)
    {
        if ((used_ + 1) * 2 > slots_.size())
            grow();
        if (!place(slots_, id))
            return false;
        ++used_;
        return true;
    }

private:
    struct Slot {
        FolderId id;
        bool used = false;
    };

    static std::size_t hash(FolderId id) noexcept
    {
        std::uint64_t h = static_cast<std::uint64_t>(id.ino) * 0x9E3779B97F4A7C15ull;
        h ^= static_cast<std::uint64_t>(id.dev) + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2);
        return static_cast<std::size_t>(h ^ (h >> 29));
    }

    static bool place(std::vector<Slot>& table, FolderId id)
    {
        const std::size_t mask = table.size() - 1;
        for (std::size_t i = hash(id) & mask;; i = (i + 1) & mask) {
            if (!table[i].used) {
                table[i] = {id, true};
                return true;
            }
            if (table[i].id == id)
                return false;
        }
    }

    void grow()
    {
        std::vector<Slot> bigger(slots_.size() * 2);
        for (const Slot& slot : slots_)
            if (slot.used)
                place(bigger, slot.id);
        slots_.swap(bigger);
    }

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
};

// One folder level of the walk. While `dir` is open the entries are read as they are handled;
// deep levels are read whole into `names`/`entries` and closed at once.
struct Frame {
    struct Entry {
        std::size_t offset;
        std::size_t length;
        unsigned char type;
    };

    DIR* dir = nullptr;
    std::size_t pathLength = 0;  // this folder's path in the walk's buffer, separator included
    bool firstEntry = true;
    std::string names;
    std::vector<Entry> entries;
    std::size_t next = 0;
};

class Walker {
public:
    Walker(std::int32_t& count, std::string& text, const YieldFn& yield)
        : count_(count), text_(text), yield_(yield)
    {
        path_.reserve(kPathLimit + 256);
    }

    ~Walker()
    {
        while (depth_ > 0)
            pop();
    }

    bool run(const std::string& folder);

private:
    bool enterStart(const std::string& folder);
    void markAncestorsWalked(FileDescriptor folder);
    bool nextEntry(Frame& frame, std::string_view& name, unsigned char& type);
    void handle(std::size_t level, std::string_view name, unsigned char type);
    void enter(std::size_t level);
    bool push(FileDescriptor folder);
    void pop();
    void addPicture();

    std::int32_t& count_;
    std::string& text_;
    const YieldFn& yield_;
    std::string path_;
    std::vector<Frame> frames_;
    std::size_t depth_ = 0;
    VisitedFolders visited_;
};

bool Walker::run(const std::string& folder)
{
    if (!enterStart(folder))
        return true;
    while (depth_ > 0) {
        const std::size_t level = depth_ - 1;
        std::string_view name;
        unsigned char type = DT_UNKNOWN;
        if (!nextEntry(frames_[level], name, type)) {
            pop();
            continue;
        }
        // The window gets its turn before every entry of a folder except the first one.
        if (!frames_[level].firstEntry && yield_ && !yield_())
            return false;
        frames_[level].firstEntry = false;
        handle(level, name, type);
    }
    return true;
}

bool Walker::enterStart(const std::string& folder)
{
    // Every line of the list holds the start folder: with a line break in it, no line would be
    // one path.
    if (hasLineBreak(folder) || folder.size() >= kPathLimit)
        return false;
    FileDescriptor start(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!start.isOpen())
        return false;
    FileDescriptor parent(::openat(start.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    path_ = folder;
    // The start folder is recorded before its ancestors: one that is a view of an ancestor (a
    // bind mount) must still be walked, once.
    if (!push(std::move(start)))
        return false;
    markAncestorsWalked(std::move(parent));
    return true;
}

// A link back to a folder that holds the start folder (a parent, "/") would lead the walk out of
// the chosen tree and round it again; those folders count as walked from the start. They are
// reached with O_PATH, which needs no read permission: a parent that can be entered but not
// listed (mode 711) is still recognised.
void Walker::markAncestorsWalked(FileDescriptor folder)
{
    FolderId previous{};
    struct stat st {};
    if (depth_ > 0 && ::fstat(::dirfd(frames_[0].dir), &st) == 0)
        previous = {st.st_dev, st.st_ino};
    while (folder.isOpen()) {
        // The root is its own parent.
        if (::fstat(folder.get(), &st) != 0 || FolderId{st.st_dev, st.st_ino} == previous)
            break;
        previous = {st.st_dev, st.st_ino};
        visited_.insert(previous);
        folder = FileDescriptor(::openat(folder.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
}

bool Walker::nextEntry(Frame& frame, std::string_view& name, unsigned char& type)
{
    if (frame.dir != nullptr) {
        const dirent* entry = ::readdir(frame.dir);
        if (entry == nullptr)
            return false;
        name = entry->d_name;
        type = entry->d_type;
        return true;
    }
    if (frame.next >= frame.entries.size())
        return false;
    const Frame::Entry& entry = frame.entries[frame.next++];
    name = std::string_view(frame.names).substr(entry.offset, entry.length);
    type = entry.type;
    return true;
}

void Walker::handle(std::size_t level, std::string_view name, unsigned char type)
{
    if (name == "." || name == ".." || hasLineBreak(name))
        return;
    const Frame& frame = frames_[level];
    if (frame.pathLength + name.size() >= kPathLimit)
        return;
    path_.resize(frame.pathLength);
    path_.append(name);

    if (type == DT_LNK || type == DT_UNKNOWN) {
        // A link is taken for what it points at; a dangling link or a vanished entry is skipped.
        struct stat st {};
        const bool found = frame.dir != nullptr
                               ? ::fstatat(::dirfd(frame.dir), path_.c_str() + frame.pathLength, &st, 0) == 0
                               : ::stat(path_.c_str(), &st) == 0;
        if (!found)
            return;
        type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
    }
    if (type == DT_DIR) {
        if (name.front() != '.')
            enter(level);
    } else if (type == DT_REG && isPictureExtension(name)) {
        // The name alone decides: without a "." in it, the text after the last dot of the full
        // path holds a separator and is never an extension of the list.
        addPicture();
    }
}

void Walker::enter(std::size_t level)
{
    const Frame& parent = frames_[level];
    FileDescriptor folder(parent.dir != nullptr
                              ? ::openat(::dirfd(parent.dir), path_.c_str() + parent.pathLength,
                                         O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                              : ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isOpen())
        return;
    path_ += kSeparator;
    push(std::move(folder));
}

// Takes over `folder`, whose path (with its separator) is in path_.
bool Walker::push(FileDescriptor folder)
{
    struct stat st {};
    if (::fstat(folder.get(), &st) != 0 || !visited_.insert({st.st_dev, st.st_ino}))
        return false;
    if (depth_ == frames_.size())
        frames_.emplace_back();
    DIR* dir = ::fdopendir(folder.get());
    if (dir == nullptr)
        return false;
    folder.release();  // the directory stream owns it now
    Frame& frame = frames_[depth_++];
    frame.dir = dir;
    frame.pathLength = path_.size();
    frame.firstEntry = true;
    frame.names.clear();
    frame.entries.clear();
    frame.next = 0;
    if (depth_ > kMaxOpenFolders) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::size_t length = std::strlen(entry->d_name);
            frame.entries.push_back({frame.names.size(), length, entry->d_type});
            frame.names.append(entry->d_name, length);
        }
        ::closedir(dir);
        frame.dir = nullptr;
    }
    return true;
}

void Walker::pop()
{
    Frame& frame = frames_[--depth_];
    if (frame.dir != nullptr) {
        ::closedir(frame.dir);
        frame.dir = nullptr;
    }
}

void Walker::addPicture()
{
    // The line goes in first: should the text fail to grow, the count still matches it.
    text_.append(path_);
    text_.append("\r\n", 2);
    if (count_ < INT32_MAX)
        ++count_;
}

}  // namespace

bool SearchPictures(std::string& folder, std::int32_t& PictureCount, std::string& ImageListText,
                    const YieldFn& yield)
{
    appendSeparator(folder);
    try {
        Walker walker(PictureCount, ImageListText, yield);
        return walker.run(folder);
    } catch (...) {
        // Out of memory while the list grows: the search reports nothing and keeps what it has.
        return true;
    }
}

}  // namespace pictarre
