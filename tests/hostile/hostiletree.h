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
// picture must name the same path; the link text shows that path as the browser reads it
// (ill-formed UTF-8 as U+FFFD), and the page as a whole is valid UTF-8. Shares no code with
// the writer.
ParsedPage parsePage(const std::string& page, Layout layout);

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
