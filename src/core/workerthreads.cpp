// SPDX-License-Identifier: MIT
#include "core/workerthreads.h"

#include <algorithm>

namespace quillbox {

WorkerThreads::WorkerThreads(int count)
{
    for (int i = 0; i < count; ++i)
        m_threads.emplace_back([this] { run(); });
}

WorkerThreads::~WorkerThreads()
{
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        dropped.swap(m_jobs);
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
    // `dropped` goes here, outside the lock: a job's captures may take time to release.
}

void WorkerThreads::post(std::function<void()> job)
{
    if (m_threads.empty()) {
        job();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

int WorkerThreads::spareProcessors()
{
    return std::clamp(int(std::thread::hardware_concurrency()) - 1, 1, 8);
}

void WorkerThreads::run()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}

} // namespace quillbox
