#pragma once

#include <string>
#include <string_view>

namespace pictarre {

// The platform's path separator; every "ends in a separator" rule is about this character.
inline constexpr char kSeparator = '/';

// The characters before the first NUL of a platform-filled buffer, or the text unchanged.
std::string CutAtNull(std::string_view text);

// True when the path ends in the separator (the root "/" does).
bool endsWithSeparator(std::string_view path) noexcept;

// Appends one separator unless the path already ends in one.
void appendSeparator(std::string& path);

// The folder part of a file path: everything up to and including its last separator.
std::string folderOfFile(std::string_view filePath);

// A folder followed by a name, with exactly one separator between them (none doubled at "/").
std::string joinPath(std::string_view folder, std::string_view name);

// The search's picture test: the text after the last "." of the full path, wrapped in commas,
// occurs in ",bmp,jpg,gif," ignoring ASCII letter case ("a.jpg,gif" counts, "x.jpeg" does not).
bool isPictureExtension(std::string_view fullPath) noexcept;

// True when the name holds a CR or LF: such a name cannot be one line of the list file.
bool hasLineBreak(std::string_view name) noexcept;

}  // namespace pictarre
