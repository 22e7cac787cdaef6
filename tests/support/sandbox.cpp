#include "support/sandbox.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
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

bool makeDeepChain(const fs::path& root, const std::string& name, int levels, const std::vector<int>& pictureDepths)
{
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool made = fd >= 0;
    for (int depth = 1; fd >= 0 && depth <= levels; ++depth) {
        made = ::mkdirat(fd, name.c_str(), 0755) == 0 && made;
        const int child = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = child;
        if (fd >= 0 && std::find(pictureDepths.begin(), pictureDepths.end(), depth) != pictureDepths.end()) {
            const int file = ::openat(fd, "p.jpg", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            made = file >= 0 && made;
            if (file >= 0)
                ::close(file);
        }
    }
    if (fd < 0)
        return false;
    ::close(fd);
    return made;
}

void removeDeepChain(const fs::path& root, const std::string& name)
{
    // Down to the deepest level holding one descriptor at a time, then back up through "..",
    // emptying each level and removing the one below it.
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int depth = 0;
    while (fd >= 0) {
        const int child = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (child < 0)
            break;
        ::close(fd);
        fd = child;
        ++depth;
    }
    while (fd >= 0 && depth > 0) {
        ::unlinkat(fd, "p.jpg", 0);
        const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = parent;
        if (fd >= 0)
            ::unlinkat(fd, name.c_str(), AT_REMOVEDIR);
        --depth;
    }
    if (fd >= 0)
        ::close(fd);
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

std::vector<std::string> crlfLines(std::string_view text, bool* endsWithCrLf)
{
    std::vector<std::string> lines;
    bool whole = true;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            whole = false;
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 2;
    }
    if (endsWithCrLf != nullptr)
        *endsWithCrLf = whole;
    return lines;
}

namespace {

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
    bool wantWhole = false;
    bool gotWhole = false;
    auto want = crlfLines(expected, &wantWhole);
    auto got = crlfLines(actual, &gotWhole);
    // A last line without its CR LF differs from the same line with it.
    if (!wantWhole)
        want.back() += "<no CR LF>";
    if (!gotWhole)
        got.back() += "<no CR LF>";
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
