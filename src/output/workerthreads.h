// SPDX-License-Identifier: MIT
#pragma once
// A fixed set of threads that run posted jobs, first posted first started. The save run builds the
// next mails' files on them while it writes the current one.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quillbox {

class WorkerThreads {
public:
    /// Starts `count` threads; with 0, post() runs each job at once on the caller's thread.
    explicit WorkerThreads(int count);
    /// Drops the jobs that have not started and waits for the running ones.
    ~WorkerThreads();
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    int count() const { return int(m_threads.size()); }
    void post(std::function<void()> job);

    /// The processors of this machine but the one of the calling thread: at least 1, at most 8.
    static int spareProcessors();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace quillbox
