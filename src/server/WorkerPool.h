// A fixed set of threads running jobs in the order they were queued; the
// HTTPS front end runs blocking route work here, away from its io threads.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WorkerPool {
public:
    explicit WorkerPool(size_t threads);
    // Finishes the jobs already queued, then joins the threads.
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    void post(std::function<void()> job);
    // Returns once no job is queued or running.
    void waitIdle();
    size_t size() const { return m_threads.size(); }

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_jobs;
    size_t m_running = 0;
    bool m_quit = false;
    std::vector<std::thread> m_threads;
};
