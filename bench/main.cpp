#include <cstdio>
#include <cstring>

#include "commands.h"

namespace {

void usage()
{
    std::fputs("usage: pictarre-bench search DIR\n"
               "       pictarre-bench sizes < LIST\n"
               "       pictarre-bench copy WIDTH HEIGHT RUNS PICTURE...\n"
               "       pictarre-bench page --source folder|list --layout flow|row"
               " --web-width TWIPS --out FILE PATH\n",
               stderr);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        usage();
        return 2;
    }
    const char* command = argv[1];
    if (std::strcmp(command, "search") == 0)
        return benchSearch(argc - 2, argv + 2);
    if (std::strcmp(command, "sizes") == 0)
        return benchSizes(argc - 2, argv + 2);
    if (std::strcmp(command, "copy") == 0)
        return benchCopy(argc - 2, argv + 2);
    if (std::strcmp(command, "page") == 0)
        return benchPage(argc - 2, argv + 2);
    usage();
    return 2;
}
