#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace pictarre::test {

// A temporary folder, removed with everything in it when the object goes away.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::filesystem::path& root() const { return root_; }
    // The root as a native string with a trailing separator.
    std::string folder() const;
    // Creates every entry of the list below the root: a path ending in "/" is a folder, any
    // other a file (its folders are made as needed). Files get `content` as their bytes.
    void fill(const std::vector<std::string>& relativePaths, std::string_view content = "x");
    // Writes one file with the given bytes, making its folders.
    std::filesystem::path write(const std::string& relativePath, std::string_view bytes);

private:
    std::filesystem::path root_;
};

// The whole content of a file as bytes ("" when it cannot be read).
std::string readFileBytes(const std::filesystem::path& path);

// How many file descriptors the process holds open, for before/after comparisons.
int openDescriptorCount();

// How many of the process's open descriptors point at something below `folder`.
int openDescriptorsUnder(const std::string& folder);

// A readable, line-by-line difference of two texts, for assertion messages.
std::string describeDifference(std::string_view expected, std::string_view actual);

}  // namespace pictarre::test
