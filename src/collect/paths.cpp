#include "collect/paths.h"

#include <algorithm>

namespace pictarre {

namespace {

constexpr char asciiLower(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string CutAtNull(std::string_view text)
{
    const std::size_t nul = text.find('\0');
    return std::string(nul == std::string_view::npos ? text : text.substr(0, nul));
}

bool endsWithSeparator(std::string_view path) noexcept
{
    return !path.empty() && path.back() == kSeparator;
}

void appendSeparator(std::string& path)
{
    if (!endsWithSeparator(path))
        path += kSeparator;
}

std::string folderOfFile(std::string_view filePath)
{
    const std::size_t last = filePath.rfind(kSeparator);
    if (last == std::string_view::npos)
        return {};
    return std::string(filePath.substr(0, last + 1));
}

std::string joinPath(std::string_view folder, std::string_view name)
{
    std::string path;
    path.reserve(folder.size() + name.size() + 1);
    path.append(folder);
    if (!endsWithSeparator(folder))
        path += kSeparator;
    if (!name.empty() && name.front() == kSeparator)
        name.remove_prefix(1);
    path.append(name);
    return path;
}

bool isPictureExtension(std::string_view fullPath) noexcept
{
    // ",ext," must occur in ",bmp,jpg,gif,": the extension is one of the three names, or a run
    // of them joined by commas that starts and ends on a name boundary ("jpg,gif").
    static constexpr std::string_view kList = ",bmp,jpg,gif,";
    const std::size_t dot = fullPath.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    const std::string_view ext = fullPath.substr(dot + 1);
    if (ext.size() + 2 > kList.size())
        return false;
    for (std::size_t start = 0; start + ext.size() + 2 <= kList.size(); ++start) {
        if (kList[start] != ',' || kList[start + ext.size() + 1] != ',')
            continue;
        if (std::equal(ext.begin(), ext.end(), kList.begin() + static_cast<std::ptrdiff_t>(start + 1),
                       [](char a, char b) { return asciiLower(a) == b; }))
            return true;
    }
    return false;
}

bool hasLineBreak(std::string_view name) noexcept
{
    return name.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace pictarre
