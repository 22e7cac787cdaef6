// The image list file read back by its reader, alone and as the gallery writer's list source.
// Each line read must be one line of the file, and the lines together must give the file back
// under the CR LF rule.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "collect/listfile.h"
#include "fuzz/fuzzcheck.h"
#include "gallery/makefile.h"

namespace {

std::string folder;

void removeFolder()
{
    ::unlink((folder + "/opendir.tmp").c_str());
    ::unlink((folder + "/picture.htm").c_str());
    ::rmdir(folder.c_str());
}

// The lines the file holds, computed apart from the reader: split at LF, drop one CR before
// each LF, and no line after a final LF.
std::vector<std::string> expectedLines(std::string_view bytes)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t lf = bytes.find('\n', start);
        if (lf == std::string_view::npos) {
            lines.emplace_back(bytes.substr(start));
            break;
        }
        std::string_view line = bytes.substr(start, lf - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.emplace_back(line);
        start = lf + 1;
    }
    return lines;
}

bool writeAll(const std::string& path, std::string_view bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char pattern[] = "/tmp/pictarre-listfile-fuzz-XXXXXX";
    FUZZ_CHECK(::mkdtemp(pattern) != nullptr);
    folder = pattern;
    std::atexit(removeFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string listPath = folder + "/opendir.tmp";
    FUZZ_CHECK(writeAll(listPath, input));
    const std::vector<std::string> expected = expectedLines(input);

    // The reader alone.
    std::vector<std::string> lines;
    {
        pictarre::ImageListReader reader(listPath);
        FUZZ_CHECK(reader.isOpen());
        while (auto line = reader.nextLine()) {
            FUZZ_CHECK(line->find('\n') == std::string::npos);
            lines.push_back(std::move(*line));
            FUZZ_CHECK(lines.size() <= expected.size());
        }
        FUZZ_CHECK(reader.ok());
    }
    FUZZ_CHECK(lines == expected);

    // The gallery writer's list source: every non-empty line becomes one row, in order, and is
    // appended to the shared list text as "line\r\n". No size query is answered.
    std::string ImageListText;
    pictarre::SizeReader sizes{pictarre::SizeQueries{}};
    const auto result = pictarre::makefile(folder + "/picture.htm",
                                           pictarre::ListSource{listPath, static_cast<std::int32_t>(expected.size())},
                                           sizes, ImageListText, pictarre::GalleryHooks{});
    FUZZ_CHECK(result == pictarre::RunResult::Completed);
    std::string rows;
    for (const std::string& line : expected)
        if (!line.empty())
            rows += line + "\r\n";
    FUZZ_CHECK(ImageListText == rows);

    // The written list file: ImageListText plus one CR LF reads back as its lines and one empty line.
    FUZZ_CHECK(pictarre::writeImageListFile(listPath, rows));
    pictarre::ImageListReader again(listPath);
    std::vector<std::string> reread;
    while (auto line = again.nextLine())
        reread.push_back(std::move(*line));
    std::vector<std::string> nonEmpty;
    for (const std::string& line : expected)
        if (!line.empty())
            nonEmpty.push_back(line);
    nonEmpty.emplace_back();
    FUZZ_CHECK(reread == nonEmpty);
    return 0;
}
