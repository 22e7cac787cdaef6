#include "support/sandbox.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include <unistd.h>

namespace pictarre::test {

namespace fs = std::filesystem;

Sandbox::Sandbox()
{
    std::string pattern = (fs::temp_directory_path() / "pictarre-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    root_ = pattern;
}

Sandbox::~Sandbox()
{
    std::error_code ec;
    // Folders a test made unreadable must be opened again before they can be removed.
    for (auto it = fs::recursive_directory_iterator(root_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(root_, ec);
}

std::string Sandbox::folder() const
{
    return root_.string() + "/";
}

void Sandbox::fill(const std::vector<std::string>& relativePaths, std::string_view content)
{
    for (const auto& rel : relativePaths) {
        if (!rel.empty() && rel.back() == '/')
            fs::create_directories(root_ / rel);
        else
            write(rel, content);
    }
}

fs::path Sandbox::write(const std::string& relativePath, std::string_view bytes)
{
    const fs::path path = root_ / relativePath;
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string readFileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

int openDescriptorCount()
{
    int count = 0;
    std::error_code ec;
    for (auto it = fs::directory_iterator("/proc/self/fd", ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
        ++count;
    return count;
}

int openDescriptorsUnder(const std::string& folder)
{
    int count = 0;
    std::error_code ec;
    for (auto it = fs::directory_iterator("/proc/self/fd", ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        std::error_code linkError;
        const auto target = fs::read_symlink(it->path(), linkError);
        if (!linkError && target.string().starts_with(folder))
            ++count;
    }
    return count;
}

namespace {

std::vector<std::string> splitLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start + 1));
        start = end + 1;
    }
    return lines;
}

std::string visible(std::string_view line)
{
    std::string out;
    for (char c : line) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string describeDifference(std::string_view expected, std::string_view actual)
{
    const auto want = splitLines(expected);
    const auto got = splitLines(actual);
    std::ostringstream out;
    const std::size_t n = std::max(want.size(), got.size());
    for (std::size_t i = 0; i < n; ++i) {
        const std::string w = i < want.size() ? want[i] : "<none>";
        const std::string g = i < got.size() ? got[i] : "<none>";
        if (w != g) {
            out << "first difference at line " << (i + 1) << ":\n  expected: " << visible(w)
                << "\n  actual:   " << visible(g) << "\n";
            break;
        }
    }
    out << "(expected " << expected.size() << " bytes, actual " << actual.size() << " bytes)";
    return out.str();
}

}  // namespace pictarre::test
