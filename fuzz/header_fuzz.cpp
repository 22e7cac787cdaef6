// The picture header reader on untrusted bytes: it must never read past them, and the file
// reader (which reads by windows and seeks past large segments) must give the same answer as
// the in-memory one.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include "fuzz/fuzzcheck.h"
#include "gallery/header.h"

namespace {

int memoryFile = -1;
std::string memoryFilePath;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    memoryFile = ::memfd_create("pictarre-header-fuzz", MFD_CLOEXEC);
    FUZZ_CHECK(memoryFile >= 0);
    memoryFilePath = "/proc/self/fd/" + std::to_string(memoryFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto fromMemory = pictarre::readPictureHeader({data, size});
    if (fromMemory) {
        // Every size the reader gives must survive the size reader's 32-bit signed arithmetic.
        FUZZ_CHECK(fromMemory->width <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()));
        FUZZ_CHECK(fromMemory->height <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()));
    }

    FUZZ_CHECK(::ftruncate(memoryFile, 0) == 0);
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::pwrite(memoryFile, data + written, size - written, static_cast<off_t>(written));
        FUZZ_CHECK(n > 0);
        written += static_cast<std::size_t>(n);
    }
    const auto fromFile = pictarre::readPictureSize(memoryFilePath);
    FUZZ_CHECK(fromFile.has_value() == fromMemory.has_value());
    if (fromFile)
        FUZZ_CHECK(*fromFile == *fromMemory);
    return 0;
}
