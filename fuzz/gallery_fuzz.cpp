// The gallery as the browser view is given it: whatever paths a page holds, in either layout
// and in whatever locale the program runs, the served page with every batch filled in from its
// rows answer and the picture tags undone reads as the same characters as the page file; every
// script it writes parses as the program's own calls; every answer stays within its batch's
// bounds; and no address outside the gallery's batches is answered.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "gallery/gallery.h"
#include "gallery/galleryprotocol.h"
#include "gallery/pagewriter.h"
#include "tests/support/servedreader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The locale of the run (LC_ALL), as the program takes it at start-up; a run meant for a
    // locale that is missing must not pass in another.
    if (!std::setlocale(LC_ALL, "")) {
        std::fprintf(stderr, "the locale of LC_ALL is not available\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Entries separated by NUL bytes (a path cannot hold one); each entry's first byte chooses
    // its layout and size, the rest is its path.
    auto gallery = std::make_shared<pictarre::Gallery>("/p/picture.htm");
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t longest = 0;
    for (std::size_t start = 0; start < input.size();) {
        const std::size_t end = std::min(input.find('\0', start), input.size());
        const std::string_view entry = input.substr(start, end - start);
        start = end + 1;
        if (entry.empty())
            continue;
        const auto choice = static_cast<unsigned char>(entry[0]);
        const std::string_view path = entry.substr(1);
        longest = std::max(longest, path.size());
        if (choice & 1)
            gallery->addFlow(path, choice & 2 ? std::optional(pictarre::PixelSize{choice, choice / 4u}) : std::nullopt);
        else
            gallery->addRow(path, choice >> 1, choice & 2 ? -choice : choice);
    }
    if (!input.empty() && input.back() != '\0')
        gallery->close();

    std::string written;
    FUZZ_CHECK(gallery->writePage([&written](std::string_view piece) {
        written += piece;
        return true;
    }));
    pictarre::ServedPage page(gallery, "<base href=\"file:///p/\"><script>prologue</script>\r\n");
    std::string served;
    while (page.next(served)) {
    }
    const auto undone = pictarre::test::undoServedPage(served, *gallery);
    FUZZ_CHECK(undone.has_value());
    FUZZ_CHECK(*undone == pictarre::test::decodePage(written));

    // Batches: within their count and bytes (a single entry may be longer than the budget).
    for (const auto& batch : gallery->batches()) {
        FUZZ_CHECK(batch.count >= 1 && batch.count <= pictarre::protocol::kBatch);
        std::size_t bytes = 0;
        for (std::size_t i = batch.first; i < batch.first + batch.count; ++i)
            bytes += gallery->path(i).size();
        FUZZ_CHECK(batch.count == 1 || bytes <= pictarre::protocol::kBatchBytes);
        // An answer is at most the batch's markup, each byte written as a six-byte escape.
        const auto rows = pictarre::rowsScript(*gallery, static_cast<std::size_t>(&batch - gallery->batches().data()));
        FUZZ_CHECK(rows && rows->size() <= 64 + batch.count * 6 * (15 * (longest + 1) + 400));
    }
    FUZZ_CHECK(!pictarre::rowsScript(*gallery, gallery->batches().size()));
    return 0;
}
