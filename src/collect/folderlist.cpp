#include "collect/folderlist.h"

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "collect/paths.h"

namespace pictarre {

namespace {

constexpr unsigned char foldByte(char c) noexcept
{
    const auto b = static_cast<unsigned char>(c);
    return (b >= 'A' && b <= 'Z') ? static_cast<unsigned char>(b - 'A' + 'a') : b;
}

bool endsWithIgnoringCase(std::string_view name, std::string_view suffix) noexcept
{
    if (name.size() < suffix.size())
        return false;
    const std::string_view tail = name.substr(name.size() - suffix.size());
    return std::equal(tail.begin(), tail.end(), suffix.begin(),
                      [](char a, char b) { return foldByte(a) == static_cast<unsigned char>(b); });
}

// The list box's order: bytes compared with A-Z folded to a-z, and names that are equal under
// that folding ("A.jpg", "a.jpg") in plain byte order so the order is total.
bool listBoxLess(const std::string& a, const std::string& b) noexcept
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = foldByte(a[i]);
        const unsigned char y = foldByte(b[i]);
        if (x != y)
            return x < y;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
}

bool isRegularFile(int folderFd, const char* name, unsigned char type)
{
    if (type == DT_REG)
        return true;
    if (type != DT_LNK && type != DT_UNKNOWN)
        return false;
    struct stat st {};
    return ::fstatat(folderFd, name, &st, 0) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool matchesListPattern(std::string_view name) noexcept
{
    return endsWithIgnoringCase(name, ".bmp") || endsWithIgnoringCase(name, "jpg") ||
           endsWithIgnoringCase(name, ".gif");
}

std::vector<std::string> listFolderPictures(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    const int fd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.empty() || name.front() == '.' || hasLineBreak(name) || !matchesListPattern(name))
            continue;
        if (isRegularFile(fd, entry->d_name, entry->d_type))
            names.emplace_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), listBoxLess);
    return names;
}

bool canListFolder(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return false;
    ::closedir(dir);
    return true;
}

}  // namespace pictarre
