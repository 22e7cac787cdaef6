#pragma once

#include <cstdint>
#include <string>

#include "collect/yield.h"

namespace pictarre {

// Walks `folder` and all its subfolders depth first, in the order the file system lists entries,
// and for every BMP/JPG/GIF file adds one to PictureCount and appends "path\r\n" to
// ImageListText. Folders whose name begins with "." are not entered; hidden files are collected.
// Appends a trailing separator to `folder` when it lacks one. Never throws, never reports:
// unreadable folders, dangling links and vanished entries are skipped. Links to folders are
// followed, but no directory (device, inode) is walked twice, and deep trees cannot overflow
// the stack. The folders that hold `folder` count as walked, so a link back to one of them
// ends at once; `folder` itself is walked even when it is a view (a bind mount) of one of them.
// Names holding a line break are left out and not counted. `yield` is called before every
// entry of a folder but its first. Returns false when the walk was stopped through `yield`.
bool SearchPictures(std::string& folder, std::int32_t& PictureCount, std::string& ImageListText,
                    const YieldFn& yield = {});

}  // namespace pictarre
