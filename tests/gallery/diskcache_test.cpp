#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "gallery/diskcache.h"
#include "support/sandbox.h"

namespace pictarre {
namespace {

DiskCache::Key key(std::uint64_t inode, std::uint32_t width = 100)
{
    return {7, inode, 5000, 1700000000, 123456789, width, 75};
}

std::uint64_t folderBytes(const std::string& folder)
{
    std::uint64_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        total += entry.file_size();
    return total;
}

TEST(DiskCache, DamagedForeignOrStrangeEntriesAreIgnoredAndReplaced)
{
    test::Sandbox sandbox;
    DiskCache cache(sandbox.folder() + "cache/copies");  // its folders are made on first use
    cache.store(key(1), std::string(1000, 'a'), "image/jpeg");
    cache.store(key(2), std::string(1000, 'b'), "image/png");
    ASSERT_EQ(cache.find(key(1))->bytes, std::string(1000, 'a'));
    EXPECT_EQ(cache.find(key(2))->mimeType, "image/png");
    EXPECT_FALSE(cache.find(key(1, 200)));  // another size asked

    // Another key's entry under this key's name, then this key's own entry with a byte changed,
    // cut short, or longer than it says.
    const std::string path = cache.pathOf(key(1)), valid = path + ".valid";
    std::filesystem::copy_file(path, valid);
    std::filesystem::copy_file(cache.pathOf(key(2)), path, std::filesystem::copy_options::overwrite_existing);
    EXPECT_FALSE(cache.find(key(1)));
    for (const auto& damage : std::vector<std::function<void()>>{
             [&] { std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary); f.seekp(500); f.put('x'); },
             [&] { std::filesystem::resize_file(path, 900); },
             [&] { std::ofstream(path, std::ios::app | std::ios::binary) << "more"; }}) {
        std::filesystem::copy_file(valid, path, std::filesystem::copy_options::overwrite_existing);
        ASSERT_TRUE(cache.find(key(1)));
        damage();
        EXPECT_FALSE(cache.find(key(1)));
    }
    std::filesystem::remove(path);
    std::filesystem::create_symlink(cache.pathOf(key(2)), path);
    EXPECT_FALSE(cache.find(key(1)));
    cache.store(key(1), "new", "image/jpeg");
    EXPECT_EQ(cache.find(key(1))->bytes, "new");
}

TEST(DiskCache, StaysUnderItsBoundDroppingTheOldestAndTwoWritersLeaveWholeEntries)
{
    test::Sandbox sandbox;
    const std::string folder = sandbox.folder() + "copies";
    {
        DiskCache cache(folder, 100'000);
        for (std::uint64_t i = 0; i < 60; ++i) {
            cache.store(key(i), std::string(4000, char('a' + i % 26)), "image/jpeg");
            ASSERT_LE(folderBytes(folder), 100'000u) << "after entry " << i;
        }
        EXPECT_TRUE(cache.find(key(59)));
        EXPECT_FALSE(cache.find(key(0)));
    }
    // Two caches on one folder, as two program windows have, write the same keys at once.
    DiskCache first(folder, 10'000'000), second(folder, 10'000'000);
    const auto write = [](DiskCache& cache, char letter, std::size_t size) {
        for (int round = 0; round < 20; ++round)
            for (std::uint64_t i = 100; i < 120; ++i)
                cache.store(key(i), std::string(size, letter), "image/jpeg");
    };
    int whole = 0;
    {
        std::jthread a([&] { write(first, 'x', 30'000); }), b([&] { write(second, 'y', 50'000); });
        for (int look = 0; look < 2000; ++look)
            if (const auto found = first.find(key(100 + look % 20))) {
                ASSERT_TRUE(found->bytes == std::string(30'000, 'x') || found->bytes == std::string(50'000, 'y'));
                ++whole;
            }
    }
    EXPECT_GT(whole, 0);
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        EXPECT_EQ(entry.path().extension(), ".copy") << "left behind: " << entry.path();
}

}  // namespace
}  // namespace pictarre
