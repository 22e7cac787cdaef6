#include "treehelpers.h"

#include <gtest/gtest.h>

#include "support/sandbox.h"

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
    bool whole = false;
    std::vector<std::string> lines = crlfLines(text, &whole);
    if (!whole)
        ADD_FAILURE() << "list text does not end in CR LF: " << lines.back();
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

}  // namespace pictarre::test
