// A fixed number of file read buffers, lent out one per answer being built
// or sent: reads wait for a free buffer rather than allocate without bound.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

class ReadBufferPool : public std::enable_shared_from_this<ReadBufferPool> {
public:
    ReadBufferPool(size_t count, size_t bufferSize) : m_count(count), m_bufferSize(bufferSize) {}

    // A buffer of bufferSize bytes, back in the pool when the last copy of
    // the handle goes. Made on first need and left uninitialised: only the
    // bytes read are sent, and clearing it made all of it resident.
    std::shared_ptr<char> take()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_returned.wait(lock, [this] { return !m_free.empty() || m_made < m_count; });
        char *buffer;
        if (!m_free.empty()) {
            buffer = m_free.back().release();
            m_free.pop_back();
        } else {
            buffer = new char[m_bufferSize];
            ++m_made;
        }
        std::weak_ptr<ReadBufferPool> pool = shared_from_this();
        return std::shared_ptr<char>(buffer, [pool](char *b) {
            if (const auto p = pool.lock())
                p->giveBack(b);
            else
                delete[] b;
        });
    }

private:
    void giveBack(char *buffer)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_free.emplace_back(buffer);
        }
        m_returned.notify_one();
    }

    const size_t m_count;
    const size_t m_bufferSize;
    std::mutex m_mutex;
    std::condition_variable m_returned;
    std::vector<std::unique_ptr<char[]>> m_free;
    size_t m_made = 0;
};
