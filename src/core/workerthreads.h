// SPDX-License-Identifier: MIT
#pragma once
// A fixed set of threads that run posted jobs, first posted first started. The save run builds the
// next mails' files on them while it writes the current one; the search reads the headers of a folder's
// messages on them, and takes the summaries in the folder's order (produceInOrder).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
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

/// A job whose result one thread waits for, that any thread may run, once: a worker thread in its turn, or
/// the waiting thread itself rather than wait (see runUntilDone).
template <class T> class OnceJob {
public:
    explicit OnceJob(std::function<T()> make)
        : m_make(std::move(make))
        , m_result(m_make.get_future())
    {
    }
    /// Runs the job unless a thread has started it already.
    void run()
    {
        if (!m_taken.exchange(true, std::memory_order_acq_rel))
            m_make();
    }
    bool taken() const { return m_taken.load(std::memory_order_acquire); }
    bool done() const { return m_result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }
    /// The result, taken once: waits for the thread that runs the job.
    T take() { return m_result.get(); }

private:
    std::atomic<bool> m_taken = false;
    std::packaged_task<T()> m_make;
    std::future<T> m_result;
};

/// Until `job` is done: runs it on this thread when no thread has started it, and while another thread
/// runs it, the jobs of [first, last) that none has started, the last first (the workers take jobs in
/// the order posted, so the two meet late). jobOf(element) gives an element's job, or null. Returns when
/// `job` is done or every job of the range has been started; its result is then taken as usual.
template <class T, class Iterator, class JobOf>
void runUntilDone(OnceJob<T>& job, Iterator first, Iterator last, JobOf&& jobOf)
{
    job.run();
    while (!job.done()) {
        OnceJob<T>* waiting = nullptr;
        for (Iterator at = last; at != first && !waiting;) {
            OnceJob<T>* other = jobOf(*--at);
            if (other && !other->taken())
                waiting = other;
        }
        if (!waiting)
            return;
        waiting->run();
    }
}

/// Calls produce(i) for each i from 0 to count - 1, on the worker threads and on the calling thread, and
/// consume(i, result) on the calling thread in the order of i, each as soon as the results before it are
/// consumed. At most `window` results are produced ahead of the one consumed. Without workers (null, or
/// none) each is produced right before it is consumed. Returns when every result is consumed; a job that
/// starts later finds nothing left and produces nothing.
template <class T, class Produce, class Consume>
void produceInOrder(WorkerThreads* workers, std::size_t count, std::size_t window, Produce&& produce, Consume&& consume)
{
    if (!workers || workers->count() == 0 || count < 2 || window < 2) {
        for (std::size_t i = 0; i < count; ++i)
            consume(i, produce(i));
        return;
    }
    // Shared with the jobs, which may start after this call has returned: they only look at `next`.
    // A thread sleeps only when it has nothing to do, and is woken only when there is: the consumer when
    // the result it waits for is there, a producer when the window has half its room again (waking it
    // for each result taken would cost two thread switches a result, more than a small result costs).
    struct State {
        std::mutex mutex;
        std::condition_variable ready; ///< the consumer waits here for its result
        std::condition_variable room; ///< producers wait here for room in the window
        bool consumerWaiting = false;
        int producersWaiting = 0;
        std::size_t next = 0; ///< the first index nobody has taken
        std::size_t consumed = 0;
        std::size_t count = 0;
        std::size_t window = 0;
        std::vector<std::optional<T>> slots; ///< index % window
        Produce* produce = nullptr; ///< used only by who holds an index below count
        // An index to produce, taken under the lock: none when all are taken or the window is full.
        std::optional<std::size_t> take()
        {
            if (next >= count || next >= consumed + window)
                return std::nullopt;
            return next++;
        }
        void run(std::unique_lock<std::mutex>& lock, std::size_t index)
        {
            lock.unlock();
            T result = (*produce)(index);
            lock.lock();
            slots[index % window].emplace(std::move(result));
            if (consumerWaiting) {
                lock.unlock(); // woken, the consumer would wait again for the lock
                ready.notify_one();
                lock.lock();
            }
        }
    };
    auto state = std::make_shared<State>();
    state->count = count;
    state->window = window;
    state->slots.resize(window);
    state->produce = &produce;
    for (int helper = 0; helper < workers->count(); ++helper) {
        workers->post([state] {
            std::unique_lock lock(state->mutex);
            for (;;) {
                if (state->next >= state->count)
                    return;
                if (const auto index = state->take()) {
                    state->run(lock, *index);
                } else {
                    ++state->producersWaiting;
                    state->room.wait(lock);
                    --state->producersWaiting;
                }
            }
        });
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::unique_lock lock(state->mutex);
        std::optional<T>& slot = state->slots[i % window];
        // Waiting for another thread's result, this thread produces the next ones meanwhile.
        while (!slot) {
            if (const auto index = state->take()) {
                state->run(lock, *index);
            } else {
                state->consumerWaiting = true;
                state->ready.wait(lock);
                state->consumerWaiting = false;
            }
        }
        T result = std::move(*slot);
        slot.reset();
        state->consumed = i + 1;
        // The last result taken leaves the whole window free: waiting producers then see that nothing is left.
        const bool wake
            = state->producersWaiting > 0 && state->consumed + state->window - state->next >= state->window / 2;
        lock.unlock();
        if (wake)
            state->room.notify_all();
        consume(i, std::move(result));
    }
}

} // namespace quillbox
