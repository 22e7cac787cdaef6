#include <cstdint>
#include <cstdio>
#include <string>

#include "collect/search.h"
#include "commands.h"

// pictarre-bench search DIR: runs the program's search on DIR and writes to standard output the
// exact bytes the program writes to temp/opendir.tmp (the list text, then one CR LF).
int benchSearch(int argc, char** argv)
{
    if (argc != 1) {
        std::fputs("usage: pictarre-bench search DIR\n", stderr);
        return 2;
    }
    std::string folder = argv[0];
    std::int32_t count = 0;
    std::string text;
    pictarre::SearchPictures(folder, count, text);
    text.append("\r\n");
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    return (std::fflush(stdout) == 0 && written) ? 0 : 1;
}
