#include "treehelpers.h"

#include <algorithm>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace pictarre::test {

namespace fs = std::filesystem;

SearchRun searchFrom(std::string folder, const YieldFn& yield)
{
    SearchRun run;
    run.finished = SearchPictures(folder, run.count, run.text, yield);
    run.folderAfter = folder;
    return run;
}

std::vector<std::string> listLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "list text does not end in CR LF: " << text.substr(start);
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<std::string> relativeLines(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> lines = listLines(text);
    for (std::string& line : lines) {
        if (line.compare(0, prefix.size(), prefix) != 0)
            ADD_FAILURE() << "line outside the searched folder: " << line;
        else
            line.erase(0, prefix.size());
    }
    return lines;
}

namespace {

void collectJpgs(const fs::path& folder, const std::string& relative, std::vector<std::string>& out)
{
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory()) {
            if (name.front() != '.')
                collectJpgs(entry.path(), relative + name + "/", out);
        } else if (name.size() > 4 && name.ends_with(".jpg")) {
            out.push_back(relative + name);
        }
    }
}

}  // namespace

std::vector<std::string> listingOrderJpgs(const fs::path& folder)
{
    std::vector<std::string> out;
    collectJpgs(folder, "", out);
    return out;
}

void makeDeepChain(const fs::path& root, const std::string& name, int levels,
                   const std::vector<int>& pictureDepths)
{
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (int depth = 1; depth <= levels; ++depth) {
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0) << "depth " << depth;
        const int child = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        ASSERT_GE(child, 0) << "depth " << depth;
        fd = child;
        if (std::find(pictureDepths.begin(), pictureDepths.end(), depth) != pictureDepths.end()) {
            const int file = ::openat(fd, "p.jpg", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            ASSERT_GE(file, 0);
            ::close(file);
        }
    }
    ::close(fd);
}

void removeDeepChain(const fs::path& root, const std::string& name)
{
    // Lift the chain one level at a time: move the top folder's child up beside it, then the
    // emptied top can go. Every path used stays short.
    const fs::path top = root / name;
    const fs::path lifted = root / (name + ".lifted");
    std::error_code ec;
    while (fs::exists(top, ec)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(top, ec))
            if (entry.path().filename() != name)
                fs::remove_all(entry.path(), ec);
        const bool hasChild = fs::exists(top / name, ec);
        if (hasChild)
            fs::rename(top / name, lifted, ec);
        fs::remove(top, ec);
        if (!hasChild)
            break;
        fs::rename(lifted, top, ec);
    }
}

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

}  // namespace pictarre::test
