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

// Makes `levels` nested folders named `name` below `root` by descriptor (the paths outgrow
// PATH_MAX), with an empty "p.jpg" in the folders at `pictureDepths` (1 = the first level).
// False when a level or a picture could not be made.
bool makeDeepChain(const std::filesystem::path& root, const std::string& name, int levels,
                   const std::vector<int>& pictureDepths);
// Removes such a chain bottom-up by descriptor, in one pass; std::filesystem cannot, its paths
// being too long.
void removeDeepChain(const std::filesystem::path& root, const std::string& name);

// The whole content of a file as bytes ("" when it cannot be read).
std::string readFileBytes(const std::filesystem::path& path);

// How many file descriptors the process holds open, for before/after comparisons.
int openDescriptorCount();

// How many of the process's open descriptors point at something below `folder`.
int openDescriptorsUnder(const std::string& folder);

// The lines of a CR LF text without their line ends. A last piece that no CR LF ends is a line
// too; `endsWithCrLf`, when given, tells whether the text ended in CR LF (an empty text does).
std::vector<std::string> crlfLines(std::string_view text, bool* endsWithCrLf = nullptr);

// A readable, line-by-line difference of two CR LF texts, for assertion messages.
std::string describeDifference(std::string_view expected, std::string_view actual);

}  // namespace pictarre::test
