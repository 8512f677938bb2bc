// SPDX-License-Identifier: MIT
#include "core/workerthreads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace quillbox;

// Results taken in order whatever thread made them, each made once, never more than the window ahead.
TEST(produceInOrder, ConsumesEachResultOnceInOrderWithinTheWindow)
{
    struct Case {
        int threads;
        std::size_t count;
        std::size_t window;
    };
    const Case cases[] = { { 0, 50, 8 }, { 1, 1, 8 }, { 1, 200, 2 }, { 3, 200, 5 }, { 3, 7, 64 }, { 2, 1000, 16 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.threads << " threads, " << c.count << " results, window " << c.window);
        WorkerThreads workers(c.threads);
        std::atomic<int> produced { 0 };
        std::atomic<std::size_t> consumed { 0 };
        std::atomic<std::size_t> furthestAhead { 0 };
        std::vector<std::size_t> order;
        produceInOrder<std::size_t>(
            &workers, c.count, c.window,
            [&](std::size_t i) {
                ++produced;
                // Later results are often ready first.
                if (i % 3 == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                const std::size_t ahead = i - consumed.load();
                for (std::size_t seen = furthestAhead.load(); ahead > seen;)
                    furthestAhead.compare_exchange_weak(seen, ahead);
                return i * 10;
            },
            [&](std::size_t i, std::size_t result) {
                EXPECT_EQ(result, i * 10);
                order.push_back(i);
                consumed = i + 1;
            });
        ASSERT_EQ(order.size(), c.count);
        for (std::size_t i = 0; i < c.count; ++i)
            EXPECT_EQ(order[i], i);
        EXPECT_EQ(produced.load(), int(c.count));
        EXPECT_LE(furthestAhead.load(), c.window);
    }
}

// A job is run once, by whichever thread comes to it first; the waiting thread runs jobs rather than wait:
// the one it waits for when no worker has started it, else those furthest ahead, and it waits only when
// every job has been started.
TEST(runUntilDone, TheWaitingThreadRunsWhatNoWorkerHasStartedTheLastFirst)
{
    using Job = OnceJob<int>;
    const auto jobOf = [](const std::shared_ptr<Job>& job) { return job.get(); };
    struct Case {
        const char* why;
        int workers;
        int jobs;
        bool firstHeld; ///< the first job, started by the worker, waits until the others have run
    };
    const Case cases[] = {
        { "one worker, slow jobs now and then", 1, 300, false },
        { "three workers", 3, 300, false },
        { "the worker holds the first job: the waiting thread runs the others, the last first", 1, 6, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const std::thread::id waiting = std::this_thread::get_id();
        std::vector<std::atomic<int>> runs(std::size_t(c.jobs));
        std::vector<int> runHere; // the jobs this thread ran, in order
        std::atomic<int> othersRun { 0 };
        std::atomic<bool> started { false }; // the first job, by a worker
        std::vector<std::shared_ptr<Job>> jobs;
        for (int i = 0; i < c.jobs; ++i)
            jobs.push_back(std::make_shared<Job>([&, i] {
                started = true;
                ++runs[std::size_t(i)];
                if (std::this_thread::get_id() == waiting)
                    runHere.push_back(i);
                if (i > 0)
                    ++othersRun;
                if (c.firstHeld && i == 0)
                    for (int ms = 0; ms < 10000 && othersRun < c.jobs - 1; ++ms)
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                else if (i % 7 == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
                return i * 10;
            }));
        WorkerThreads workers(c.workers);
        workers.post([&jobs] { jobs[0]->run(); });
        while (!started)
            std::this_thread::yield();
        for (std::size_t i = 1; i < jobs.size(); i += 8)
            workers.post([&jobs, i] {
                for (std::size_t j = i; j < std::min(i + 8, jobs.size()); ++j)
                    jobs[j]->run();
            });
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            runUntilDone(*jobs[i], jobs.begin() + std::ptrdiff_t(i) + 1, jobs.end(), jobOf);
            EXPECT_EQ(jobs[i]->take(), int(i) * 10);
        }
        for (std::size_t i = 0; i < runs.size(); ++i)
            EXPECT_EQ(runs[i].load(), 1) << "job " << i;
        if (c.firstHeld) {
            EXPECT_EQ(runHere, (std::vector<int> { 5, 4, 3, 2, 1 }));
        }
    }
}
