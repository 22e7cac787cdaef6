#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace pictarre::test {

// One parsed entry of a gallery page: the path its markup points at, read back from the
// escaped values, and the size written for it (rows only).
struct PageEntry {
    std::string path;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// The entries of a page, or the first way in which the page departs from its format.
struct ParsedPage {
    bool wellFormed = false;
    std::string problem;
    std::vector<PageEntry> entries;
};

enum class Layout { Flow, Rows };

// Parses a whole gallery page: the fixed header and footer lines, and between them only
// entries of the given layout, each matching its template line for line. Every attribute value
// must hold no raw quote, "<" or ">", the link text no "<" or ">", and an entry's link and
// picture must name the same path. Shares no code with the writer.
ParsedPage parsePage(const std::string& page, Layout layout);


// Makes `levels` nested folders named `name` below `root`, by descriptor (the paths outgrow
// PATH_MAX), with an empty "p.jpg" in the folders at `pictureDepths` (1 = the first level).
void makeDeepChain(const std::filesystem::path& root, const std::string& name, int levels,
                   const std::vector<int>& pictureDepths);
// Removes such a chain bottom-up by descriptor, in one pass.
void removeDeepChain(const std::filesystem::path& root, const std::string& name);

// Creates `count` empty files in `folder` in one tight loop; `nameOf(i)` names file i.
template <typename NameOf>
void makeManyFiles(const std::filesystem::path& folder, int count, NameOf nameOf);
bool createEmptyFile(int folderFd, const std::string& name);

}  // namespace pictarre::test

#include <fcntl.h>
#include <unistd.h>

template <typename NameOf>
void pictarre::test::makeManyFiles(const std::filesystem::path& folder, int count, NameOf nameOf)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    for (int i = 0; i < count; ++i)
        createEmptyFile(fd, nameOf(i));
    ::close(fd);
}
