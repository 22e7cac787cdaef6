#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "gallery/pictureservice.h"
#include "support/picturefiles.h"
#include "support/sandbox.h"

namespace pictarre {
namespace {

using namespace std::chrono_literals;
using test::Sandbox;

// A decoder that records the file content of every call, can hold the calls at a closed gate,
// and answers a 100-byte copy, or nothing (serve the original) for content starting "small".
struct FakeDecoder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> calls;
    bool gateOpen = true;

    PictureDecoder decoder()
    {
        return [this](int fd, std::uint32_t, std::uint32_t) -> std::optional<EncodedPicture> {
            char text[64] = {};
            const ssize_t got = ::read(fd, text, sizeof text - 1);
            const std::string content(text, got > 0 ? static_cast<std::size_t>(got) : 0);
            std::unique_lock lock(mutex);
            calls.push_back(content);
            changed.notify_all();
            changed.wait(lock, [this] { return gateOpen; });
            if (content.starts_with("small"))
                return std::nullopt;
            return EncodedPicture{std::string(100, content.empty() ? '?' : content[0]), "image/png"};
        };
    }
    void setGate(bool open)
    {
        const std::lock_guard lock(mutex);
        gateOpen = open;
        changed.notify_all();
    }
    // False when fewer than `count` calls came within a time far beyond any honest wait.
    bool waitForCalls(std::size_t count, std::chrono::milliseconds limit = 10s)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [&] { return calls.size() >= count; });
    }
    std::vector<std::string> seen()
    {
        const std::lock_guard lock(mutex);
        return calls;
    }
};

// The answers received, by the name the test gave each request.
struct Answers {
    std::mutex mutex;
    std::condition_variable changed;
    std::multimap<std::string, PictureAnswer> got;

    PictureService::Callback to(std::string name)
    {
        return [this, name](PictureAnswer answer) {
            const std::lock_guard lock(mutex);
            got.emplace(name, std::move(answer));
            changed.notify_all();
        };
    }
    bool waitFor(const std::string& name, std::size_t count = 1)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return got.count(name) >= count; });
    }
    std::size_t count(const std::string& name)
    {
        const std::lock_guard lock(mutex);
        return got.count(name);
    }
};

class PictureServiceTest : public ::testing::Test {
protected:
    std::string file(const std::string& name, const std::string& content)
    {
        return sandbox.write(name, content).string();
    }
    PictureServiceOptions options(unsigned workers, std::size_t cacheBytes = 1 << 20)
    {
        return {cacheBytes, workers, decoder.decoder()};
    }

    Sandbox sandbox;
    FakeDecoder decoder;
    Answers answers;
};

TEST_F(PictureServiceTest, ConcurrentRequestsForOneVersionDecodeOnce)
{
    const std::string a = file("a.jpg", "a");
    PictureService service(options(2));
    decoder.setGate(false);
    service.request(a, 10, 10, answers.to("first"));
    ASSERT_TRUE(decoder.waitForCalls(1));
    service.request(a, 10, 10, answers.to("second"));
    // A second decode would begin on the free worker at once.
    EXPECT_FALSE(decoder.waitForCalls(2, 300ms));
    decoder.setGate(true);
    ASSERT_TRUE(answers.waitFor("first") && answers.waitFor("second"));
    EXPECT_EQ(decoder.seen().size(), 1u);
    EXPECT_EQ(answers.got.find("first")->second.copy, answers.got.find("second")->second.copy);
}

TEST_F(PictureServiceTest, CacheKeepsTheRecentlyUsedCopiesWithinItsBytes)
{
    const std::string a = file("a.jpg", "a"), b = file("b.jpg", "b"), c = file("c.jpg", "c");
    PictureService service(options(1, 250));  // room for two 100-byte copies
    const auto ask = [&](const std::string& path, const std::string& name) {
        service.request(path, 10, 10, answers.to(name));
        ASSERT_TRUE(answers.waitFor(name));
    };
    ask(a, "a1");
    ask(b, "b1");
    ask(a, "a2");  // from the cache, and now more recent than b
    ask(c, "c1");  // b goes, not a
    ask(a, "a3");
    ask(b, "b2");  // decoded again
    EXPECT_EQ(decoder.seen(), (std::vector<std::string>{"a", "b", "c", "b"}));
    // Another size of the same file is another copy.
    ask(a, "a4");
    service.request(a, 20, 10, answers.to("wide"));
    ASSERT_TRUE(answers.waitFor("wide"));
    EXPECT_EQ(decoder.seen().size(), 5u);
}

TEST_F(PictureServiceTest, FileWrittenAnewWithTheSameSizeIsDecodedAgain)
{
    const std::string a = file("a.jpg", "old");
    PictureService service(options(1));
    service.request(a, 10, 10, answers.to("before"));
    ASSERT_TRUE(answers.waitFor("before"));
    const auto written = std::filesystem::last_write_time(a);
    file("a.jpg", "new");
    std::filesystem::last_write_time(a, written + 1s);
    service.request(a, 10, 10, answers.to("after"));
    ASSERT_TRUE(answers.waitFor("after"));
    EXPECT_EQ(decoder.seen(), (std::vector<std::string>{"old", "new"}));
    EXPECT_EQ(*answers.got.find("after")->second.copy, std::string(100, 'n'));
}

TEST_F(PictureServiceTest, NewestRequestComesFirstAndCancelledOnesNever)
{
    PictureService service(options(1));
    decoder.setGate(false);
    service.request(file("busy.jpg", "busy"), 10, 10, answers.to("busy"));
    ASSERT_TRUE(decoder.waitForCalls(1));
    for (const char* name : {"1", "2", "3", "4"})
        service.request(file(name, name), 10, 10, answers.to(name));
    const auto dropped = service.request(file("x", "x"), 10, 10, answers.to("x"));
    service.cancel(dropped);
    decoder.setGate(true);
    ASSERT_TRUE(answers.waitFor("1"));
    EXPECT_EQ(decoder.seen(), (std::vector<std::string>{"busy", "4", "3", "2", "1"}));
    EXPECT_EQ(answers.count("x"), 0u);
}

TEST_F(PictureServiceTest, CancelledRunningRequestStillFillsTheCache)
{
    const std::string a = file("a.jpg", "a");
    PictureService service(options(1));
    decoder.setGate(false);
    const auto running = service.request(a, 10, 10, answers.to("dropped"));
    ASSERT_TRUE(decoder.waitForCalls(1));
    service.cancel(running);
    decoder.setGate(true);
    service.request(a, 10, 10, answers.to("again"));
    ASSERT_TRUE(answers.waitFor("again"));
    EXPECT_EQ(decoder.seen().size(), 1u);
    EXPECT_EQ(answers.count("dropped"), 0u);
}

TEST_F(PictureServiceTest, DestroyedWithRequestsQueuedEndsWithoutAnsweringThem)
{
    // The running decode is held until the service has let go of every queued request.
    auto queuedHeld = std::make_shared<int>(0);
    const std::weak_ptr<int> queued = queuedHeld;
    decoder.setGate(false);
    {
        std::jthread opener([&] {
            for (int i = 0; i < 1000 && !queued.expired(); ++i)
                std::this_thread::sleep_for(10ms);
            decoder.setGate(true);
        });
        PictureService service(options(1));
        service.request(file("busy.jpg", "busy"), 10, 10, answers.to("busy"));
        ASSERT_TRUE(decoder.waitForCalls(1));
        for (int i = 0; i < 20; ++i) {
            service.request(file(std::to_string(i), "q"), 10, 10,
                            [held = queuedHeld, done = answers.to("queued")](PictureAnswer a) { done(std::move(a)); });
        }
        queuedHeld.reset();
    }
    EXPECT_EQ(decoder.seen().size(), 1u);
    EXPECT_EQ(answers.count("queued") + answers.count("busy"), 0u);
}

// The real decoder: a picture much larger than its box comes as a copy, one not larger as its
// own bytes from the start; a missing file as nothing.
TEST_F(PictureServiceTest, RealDecoderAnswersCopiesOnlyForLargePictures)
{
    const std::string bmp = test::makeBmp(test::BmpForm::Info40, 400, 300);
    const std::string path = file("p.bmp", bmp);
    PictureService service;
    struct Case {
        std::string name, path;
        std::uint32_t width, height;
        bool copy, original;
    };
    for (const Case& c : {Case{"small box", path, 100, 75, true, false}, Case{"own size", path, 400, 300, false, true},
                          Case{"missing", (sandbox.root() / "none.bmp").string(), 100, 75, false, false}}) {
        service.request(c.path, c.width, c.height, answers.to(c.name));
        ASSERT_TRUE(answers.waitFor(c.name)) << c.name;
        PictureAnswer& answer = answers.got.find(c.name)->second;
        EXPECT_EQ(bool(answer.copy), c.copy) << c.name;
        EXPECT_EQ(answer.original.isOpen(), c.original) << c.name;
        if (answer.copy) {
            EXPECT_EQ(answer.mimeType, "image/jpeg");
        }
        if (answer.original.isOpen()) {
            std::string head(2, '\0');
            ASSERT_EQ(::read(answer.original.get(), head.data(), 2), 2);
            EXPECT_EQ(head, "BM");
        }
    }
}

}  // namespace
}  // namespace pictarre
