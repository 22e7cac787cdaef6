#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

#include "gallery/pictureservice.h"
#include "support/picturefiles.h"
#include "support/processcost.h"
#include "support/sandbox.h"

namespace pictarre {
namespace {

using namespace std::chrono_literals;
using Names = std::vector<std::string>;

// Runs services on a fake decoder that records each file's content, can hold every call at a
// gate, and answers a 100-byte copy of the content's first letter; answers are kept by name.
class PictureServiceTest : public ::testing::Test {
protected:
    PictureServiceOptions fake(unsigned workers, std::size_t cacheBytes = 1 << 20)
    {
        return {cacheBytes, workers, [this](int fd, std::uint32_t, std::uint32_t) {
            char head[16] = {};
            const std::string content(head, static_cast<std::size_t>(std::max<ssize_t>(0, ::read(fd, head, 15))));
            std::unique_lock lock(mutex);
            decoded.push_back(content);
            changed.notify_all();
            changed.wait(lock, [this] { return gateOpen; });
            return std::optional(EncodedPicture{std::string(100, content[0]), "image/png"});
        }, nullptr};
    }
    PictureService::Callback to(std::string name)
    {
        return [this, name](PictureAnswer answer) {
            const std::lock_guard lock(mutex);
            answers.emplace(name, std::move(answer));
            changed.notify_all();
        };
    }
    // False when `done` did not come true in a time far beyond any honest wait.
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, done);
    }
    bool ask(PictureService& service, const std::string& path, const std::string& name, std::uint32_t width = 10)
    {
        service.request(path, width, 10, to(name));
        return waitUntil([&] { return answers.contains(name); });
    }
    void setGate(bool open)
    {
        const std::lock_guard lock(mutex);
        gateOpen = open;
        changed.notify_all();
    }
    std::string file(const std::string& name, const std::string& content) { return sandbox.write(name, content); }

    test::Sandbox sandbox;
    std::mutex mutex;
    std::condition_variable changed;
    bool gateOpen = true;
    Names decoded;
    std::multimap<std::string, PictureAnswer> answers;
};

TEST_F(PictureServiceTest, ConcurrentRequestsForOneVersionDecodeOnce)
{
    const std::string a = file("a", "a");
    PictureService service(fake(2));
    setGate(false);
    service.request(a, 10, 10, to("first"));
    service.request(a, 10, 10, to("second"));
    ASSERT_TRUE(waitUntil([&] { return !decoded.empty(); }));
    // A second decode would begin on the free worker at once.
    EXPECT_FALSE(waitUntil([&] { return decoded.size() > 1; }, 300ms));
    setGate(true);
    ASSERT_TRUE(waitUntil([&] { return answers.size() == 2; }));
    EXPECT_EQ(answers.find("first")->second.copy, answers.find("second")->second.copy);
}

TEST_F(PictureServiceTest, CacheKeepsTheRecentlyUsedVersionsWithinItsBytes)
{
    const std::string a = file("a", "a"), b = file("b", "b"), c = file("c", "c");
    PictureService service(fake(1, 250));  // room for two 100-byte copies
    for (const auto& [path, name] : {std::pair{a, "a1"}, {b, "b1"}, {a, "a2"}, {c, "c1"}, {a, "a3"}, {b, "b2"}})
        ASSERT_TRUE(ask(service, path, name));  // a2 and a3 from the cache; c1 lets b go, not a
    ASSERT_TRUE(ask(service, a, "a at another size", 20));
    // Written anew with the same size: another version.
    const auto written = std::filesystem::last_write_time(b);
    file("b", "B");
    std::filesystem::last_write_time(b, written + 1s);
    ASSERT_TRUE(ask(service, b, "b3"));
    EXPECT_EQ(decoded, (Names{"a", "b", "c", "b", "a", "B"}));
    EXPECT_EQ(*answers.find("b3")->second.copy, std::string(100, 'B'));
}

TEST_F(PictureServiceTest, CopiesOnDiskServeTheNextRunOnlyForTheSameVersionOfTheFile)
{
    const std::string a = file("a", "a");
    const auto disk = std::make_shared<DiskCache>(sandbox.folder() + "copies");
    const auto run = [&](const std::string& name, std::uint32_t width = 10) {
        PictureServiceOptions options = fake(1);
        options.disk = disk;
        PictureService service(std::move(options));  // a new run: nothing in its memory
        return ask(service, a, name, width);
    };
    ASSERT_TRUE(run("first run"));
    ASSERT_TRUE(run("second run"));
    ASSERT_TRUE(run("another size", 20));
    const auto written = std::filesystem::last_write_time(a);
    file("a", "A");
    std::filesystem::last_write_time(a, written + 1s);
    ASSERT_TRUE(run("changed"));
    ASSERT_TRUE(run("changed, again"));
    EXPECT_EQ(decoded, (Names{"a", "a", "A"}));
    EXPECT_EQ(*answers.find("second run")->second.copy, std::string(100, 'a'));
    EXPECT_EQ(*answers.find("changed, again")->second.copy, std::string(100, 'A'));
}

TEST_F(PictureServiceTest, NewestComesFirstAndCancelledOnesAreNeverAnswered)
{
    PictureService service(fake(1));
    setGate(false);
    const std::string busy = file("busy", "busy");
    const auto running = service.request(busy, 10, 10, to("busy"));
    ASSERT_TRUE(waitUntil([&] { return !decoded.empty(); }));
    for (const char* name : {"1", "2", "3"})
        service.request(file(name, name), 10, 10, to(name));
    service.cancel(service.request(file("x", "x"), 10, 10, to("x")));
    service.cancel(running);
    setGate(true);
    ASSERT_TRUE(waitUntil([&] { return answers.contains("1"); }));
    ASSERT_TRUE(ask(service, busy, "busy again"));  // the cancelled decode still filled the cache
    EXPECT_EQ(decoded, (Names{"busy", "3", "2", "1"}));
    EXPECT_FALSE(answers.contains("x") || answers.contains("busy"));
}

TEST_F(PictureServiceTest, DestroyedWithRequestsQueuedEndsWithoutAnsweringThem)
{
    auto queuedHeld = std::make_shared<int>(0);
    const std::weak_ptr<int> queued = queuedHeld;
    setGate(false);
    {
        // The running decode goes on only once the service has let go of every queued request.
        std::jthread opener([&] {
            for (int i = 0; i < 1000 && !queued.expired(); ++i)
                std::this_thread::sleep_for(10ms);
            setGate(true);
        });
        PictureService service(fake(1));
        service.request(file("busy", "busy"), 10, 10, to("busy"));
        ASSERT_TRUE(waitUntil([&] { return !decoded.empty(); }));
        for (int i = 0; i < 20; ++i) {
            service.request(file(std::to_string(i), "q"), 10, 10,
                            [queuedHeld, done = to("q")](PictureAnswer a) { done(std::move(a)); });
        }
        queuedHeld.reset();
    }
    EXPECT_EQ(decoded, Names{"busy"});
    EXPECT_TRUE(answers.empty());
}

// A picture's file with its header claiming `width` × `height`, cut to `size` bytes.
std::string claiming(std::string file, std::uint32_t width, std::uint32_t height, std::size_t size)
{
    if (file[0] == 'B') {
        std::string sizes;
        test::putLe32(sizes, width);
        test::putLe32(sizes, height);
        file.replace(18, 8, sizes);
    } else {
        const std::size_t frame = file.find("\xFF\xC0");
        file.replace(frame + 5, 4, {char(height >> 8), char(height), char(width >> 8), char(width)});
    }
    file.resize(size, '\0');
    return file;
}

TEST_F(PictureServiceTest, HostileHeadersAndHugeFilesCostLittleAndAreRefusedOncePerVersion)
{
    const std::string bmp = file("claims.bmp", claiming(test::makeBmp(test::BmpForm::Info40, 16, 16), 40000, 262144, 1082));
    const std::string jpeg = file("claims.jpg", claiming(test::makeJpeg({}), 65500, 65500, 633));
    const std::string sparse = file("sparse.jpg", test::makeJpeg({.width = 640, .height = 480}));
    std::filesystem::resize_file(sparse, std::uintmax_t{1} << 30);
    int decodes = 0;
    PictureService service({1 << 20, 2, [&decodes](int fd, std::uint32_t width, std::uint32_t height) {
        ++decodes;
        return scaledPicture(fd, width, height);
    }, nullptr});
    struct Case { std::string name, path; std::uint32_t width, height; };
    for (const Case& c : {Case{"bmp own size", bmp, 40000, 262144}, Case{"bmp", bmp, 100, 75},
                          Case{"jpeg own size", jpeg, 65500, 65500}, Case{"jpeg", jpeg, 100, 75},
                          Case{"sparse", sparse, 100, 75}, Case{"sparse own size", sparse, 640, 480}}) {
        const std::uint64_t readBefore = test::bytesRead();
        const long peakBefore = test::peakKb();
        service.request(c.path, c.width, c.height, to(c.name));
        ASSERT_TRUE(waitUntil([&] { return answers.contains(c.name); })) << c.name;
        EXPECT_FALSE(answers.find(c.name)->second.found()) << c.name;
        EXPECT_LT(test::bytesRead() - readBefore, 1u << 20) << c.name;
        EXPECT_LT(test::peakKb() - peakBefore, 64 << 10) << c.name;
    }
    EXPECT_EQ(decodes, 3);  // once per file: the second request finds it refused
}

TEST_F(PictureServiceTest, RealDecoderCopiesOnlyPicturesMuchLargerThanTheirBox)
{
    const std::string bmp = file("p.bmp", test::makeBmp(test::BmpForm::Info40, 400, 300));
    PictureService service;
    struct Case { std::string name, path; std::uint32_t width, height; bool copy, original; };
    for (const Case& c : {Case{"quarter", bmp, 100, 75, true, false}, Case{"own size", bmp, 400, 300, false, true},
                          Case{"missing", file("none", "") + ".bmp", 100, 75, false, false}}) {
        service.request(c.path, c.width, c.height, to(c.name));
        ASSERT_TRUE(waitUntil([&] { return answers.contains(c.name); })) << c.name;
        PictureAnswer& answer = answers.find(c.name)->second;
        EXPECT_EQ(answer.copy ? answer.mimeType : "", c.copy ? "image/jpeg" : "") << c.name;
        char head[2] = {};
        EXPECT_EQ(answer.original.isOpen() && ::read(answer.original.get(), head, 2) == 2 && head[0] == 'B', c.original)
            << c.name;
    }
}

}  // namespace
}  // namespace pictarre
