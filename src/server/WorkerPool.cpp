#include "WorkerPool.h"

WorkerPool::WorkerPool(size_t threads)
{
    for (size_t i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    for (std::thread &t : m_threads)
        t.join();
}

void WorkerPool::post(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void WorkerPool::waitIdle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return m_jobs.empty() && m_running == 0; });
}

void WorkerPool::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || !m_jobs.empty(); });
        if (m_jobs.empty())
            return; // quitting, nothing left
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        ++m_running;
        lock.unlock();
        job();
        job = nullptr; // what it holds goes before the pool counts it done
        lock.lock();
        --m_running;
        if (m_jobs.empty() && m_running == 0)
            m_idle.notify_all();
    }
}
