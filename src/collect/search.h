#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace pictarre {

// Called by the search between directory entries. Returns false to abandon the walk (the window
// is closing); the caller decides how often it really pumps events.
using YieldFn = std::function<bool()>;

// Walks `folder` and all its subfolders depth first, in the order the file system lists entries,
// and for every BMP/JPG/GIF file adds one to PictureCount and appends "path\r\n" to
// ImageListText. Folders whose name begins with "." are not entered; hidden files are collected.
// Appends a trailing separator to `folder` when it lacks one. Never throws, never reports:
// unreadable folders, dangling links and vanished entries are skipped. Links to folders are
// followed, but no directory (device, inode) is walked twice, and deep trees cannot overflow
// the stack. Names holding a line break are left out and not counted.
// Returns false when the walk was abandoned through `yield`.
bool SearchPictures(std::string& folder, std::int32_t& PictureCount, std::string& ImageListText,
                    const YieldFn& yield = {});

}  // namespace pictarre
