#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "collect/search.h"

namespace pictarre::test {

// What one call of SearchPictures left behind.
struct SearchRun {
    bool finished = false;
    std::int32_t count = 0;
    std::string text;
    std::string folderAfter;
};

// Runs the search on `folder` from a zero count and an empty text.
SearchRun searchFrom(std::string folder, const YieldFn& yield = {});

// The lines of the list text with their CR LF removed; fails the test when a line lacks CR LF.
std::vector<std::string> listLines(const std::string& text);

// The same lines with `prefix` (the searched folder) cut off the front of each.
std::vector<std::string> relativeLines(const std::string& text, const std::string& prefix);

// The pictures a depth-first walk in directory listing order finds below `folder`, for trees in
// which only names ending in ".jpg" are pictures and no links exist. Built on
// std::filesystem so it shares no code with the search.
std::vector<std::string> listingOrderJpgs(const std::filesystem::path& folder);

}  // namespace pictarre::test
