#include "QueueThread2.h"

#include <chrono>
#include <exception>
#include <iostream>

namespace {

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr int64_t kLongestWaitNs = 10LL * 24 * 3600 * 1000000000LL;

} // namespace

QueueThread2::QueueThread2() : m_thread(&QueueThread2::loop, this)
{
}

void QueueThread2::post(std::shared_ptr<Handler> handler, std::function<void()> fn, int64_t delayMs)
{
    const int64_t due = nowNs() + delayMs * 1000000;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return;
        m_heap.push(Item{std::move(handler), std::move(fn), due, m_nextSeq++});
    }
    m_jobAvailable.notify_one();
}

void QueueThread2::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_jobAvailable.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_heap = {};
}

void QueueThread2::loop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        while (!m_heap.empty() && m_heap.top().handler && m_heap.top().handler->cancelled)
            m_heap.pop();
        if (m_stopping)
            return;
        if (m_heap.empty()) {
            m_jobAvailable.wait(lock);
            continue;
        }
        const int64_t now = nowNs();
        const int64_t due = m_heap.top().due;
        if (due > now) {
            const int64_t wait = std::min(due - now, kLongestWaitNs);
            m_jobAvailable.wait_for(lock, std::chrono::nanoseconds(wait));
            continue;
        }
        std::function<void()> fn = std::move(const_cast<Item &>(m_heap.top()).fn);
        m_heap.pop();
        lock.unlock();
        try {
            fn();
        } catch (const std::exception &e) {
            std::cerr << "Task execution failed:" << e.what() << std::endl;
        } catch (...) {
            std::cerr << "Task execution failed:unknown exception" << std::endl;
        }
        fn = nullptr; // release what the function holds before taking the lock again
        lock.lock();
    }
}
