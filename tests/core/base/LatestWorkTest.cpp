#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "core/base/LatestWork.h"

namespace latest_work_test {

// Jobs given faster than they are worked: some are skipped, none is worked
// out of order, the newest always is, and an end with a job waiting and one
// in hand neither hangs nor works the waiting one.
TEST(LatestWorkTest, WorksTheNewestInOrderAndEndsWithJobsPending) {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> worked;
    {
        LatestWork<int> work([&](int& job) {
            std::lock_guard<std::mutex> lock(mutex);
            worked.push_back(job);
            changed.notify_all();
        });
        for (int job = 1; job <= 1000; ++job) work.Give(job);
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10),
                                     [&] { return !worked.empty() && worked.back() == 1000; }));
        lock.unlock();
        work.Give(1001);
        work.Give(1002);
    }
    EXPECT_TRUE(std::is_sorted(worked.begin(), worked.end()));
    EXPECT_EQ(std::adjacent_find(worked.begin(), worked.end()), worked.end());
}

}  // namespace latest_work_test
