// The write queue without a browser or files: pictures begin in the order they were taken as far as the
// memory budget allows, one always begins when nothing else is in memory, every ended write wakes the loop
// and is reported once with its error, and a stop gives up what waits. The writers are the test's: each
// holds until the test lets it end, so nothing depends on timing.
#include "cli/WriteQueue.h"
#include "browser/Engine.h"
#include "tests/cli/ScriptedJobPage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <poll.h>
#include <set>
#include <stdexcept>

namespace korvane::testing {
namespace {

// Writers that hold until released; they tell which have begun.
class THeldWriters {
public:
    TWriteQueue::TWriter Writer() {
        return [this](const TPageShot&, const TEncoding&, const std::string& path, std::stop_token stop) {
            std::shared_future<std::string> release;
            {
                std::lock_guard lock(FMutex);
                FBegun.push_back(path);
                release = Gate(path).get_future().share();
                FChanged.notify_all();
            }
            // A stop ends the wait as a release with a failure would.
            std::stop_callback onStop(stop, [this, path] { Release(path, "stopped"); });
            const std::string error = release.get();
            if (!error.empty()) throw std::runtime_error(error);
        };
    }
    void Release(const std::string& path, const std::string& error = {}) {
        std::lock_guard lock(FMutex);
        if (FReleased.insert(path).second) Gate(path).set_value(error);
    }
    std::vector<std::string> Begun() {
        std::lock_guard lock(FMutex);
        return FBegun;
    }
    // Waits until `count` writers have begun (they begin on threads of their own).
    void WaitForBegun(std::size_t count) {
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [&] { return FBegun.size() >= count; });
    }

private:
    std::promise<std::string>& Gate(const std::string& path) { return FGates[path]; }
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::map<std::string, std::promise<std::string>> FGates;
    std::set<std::string> FReleased;
    std::vector<std::string> FBegun;
};

TWriteQueue::TPicture Picture(std::size_t job, std::int64_t bytes) {
    return {job, std::make_shared<TPlainShot>(1, 1), TSaveFormat::Png, "page" + std::to_string(job), bytes};
}

// Waits for the queue's wake fd, then takes what has been written.
std::vector<TWriteQueue::TWritten> NextWritten(TWriteQueue& queue) {
    pollfd wake{queue.WakeFd(), POLLIN, 0};
    EXPECT_EQ(::poll(&wake, 1, 60000), 1) << "no write ended within a minute";
    queue.ClearWake();
    return queue.TakeWritten();
}

TEST(WriteQueue, PicturesBeginInTheirOrderAsFarAsTheBudgetAllows) {
    TManualClock clock;
    THeldWriters writers;
    TWriteQueue queue(100, clock, writers.Writer());
    ASSERT_GE(queue.WakeFd(), 0);
    queue.Add(Picture(0, 60));
    queue.Add(Picture(1, 60)); // 120 would be over the budget: it waits
    queue.Add(Picture(2, 30)); // would fit, but waits its turn behind 1
    writers.WaitForBegun(1);
    EXPECT_EQ(queue.Writing(), 1u);
    EXPECT_EQ(queue.Waiting(), 2u);
    EXPECT_EQ(queue.BytesInUse(), 60);

    clock.Advance(std::chrono::milliseconds(1500));
    writers.Release("page0");
    const auto first = NextWritten(queue);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].Job, 0u);
    EXPECT_EQ(first[0].Error, "");
    EXPECT_DOUBLE_EQ(first[0].Seconds, 1.5);
    // Its room goes to 1 and 2 (60 + 30), both at once: their threads may tell of it in either order.
    writers.WaitForBegun(3);
    auto begun = writers.Begun();
    std::sort(begun.begin() + 1, begun.end());
    EXPECT_EQ(begun, (std::vector<std::string>{"page0", "page1", "page2"}));
    EXPECT_EQ(queue.Writing(), 2u);
    EXPECT_EQ(queue.Waiting(), 0u);
    EXPECT_EQ(queue.BytesInUse(), 90);

    writers.Release("page2", "No space left on device");
    const auto second = NextWritten(queue);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].Job, 2u);
    EXPECT_EQ(second[0].Error, "No space left on device");
    writers.Release("page1");
    EXPECT_EQ(NextWritten(queue).size(), 1u);
    EXPECT_TRUE(queue.TakeWritten().empty()); // each once
    EXPECT_EQ(queue.BytesInUse(), 0);

    // A picture larger than the whole budget begins when nothing else is in memory.
    queue.Add(Picture(3, 500));
    writers.WaitForBegun(4);
    EXPECT_EQ(queue.Writing(), 1u);
    queue.Add(Picture(4, 10));
    EXPECT_EQ(queue.Waiting(), 1u);
    writers.Release("page3");
    EXPECT_EQ(NextWritten(queue).size(), 1u);
    writers.WaitForBegun(5);
    writers.Release("page4");
    EXPECT_EQ(NextWritten(queue)[0].Job, 4u);
}

TEST(WriteQueue, AStopGivesUpWhatWaitsAndEndsTheWriters) {
    TManualClock clock;
    THeldWriters writers;
    std::stop_source stop;
    TWriteQueue queue(100, clock, writers.Writer());
    queue.SetStopToken(stop.get_token());
    queue.Add(Picture(0, 80));
    queue.Add(Picture(1, 80));
    writers.WaitForBegun(1);
    stop.request_stop();
    queue.Cancel(); // returns once the writer has seen the stop
    EXPECT_EQ(queue.Writing(), 0u);
    EXPECT_EQ(queue.Waiting(), 0u);
    EXPECT_EQ(writers.Begun(), std::vector<std::string>{"page0"});
}

} // namespace
} // namespace korvane::testing
