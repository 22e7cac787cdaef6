#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pictarre {

// The file list box's pattern "*.bmp;*jpg;*.gif" ignoring ASCII letter case: the name ends in
// ".bmp", "jpg" (no dot needed: "xjpg" matches) or ".gif".
bool matchesListPattern(std::string_view name) noexcept;

// The names (not paths) of the regular files of one folder that the file list box shows:
// matching the pattern, not hidden (no leading "."), without line breaks, sorted by name with
// ASCII A-Z folded to a-z and ties in plain byte order. Links to regular files count.
// An unreadable or missing folder gives an empty list.
std::vector<std::string> listFolderPictures(const std::string& folder);

// True when `folder` names a directory that can be listed.
bool canListFolder(const std::string& folder);

}  // namespace pictarre
