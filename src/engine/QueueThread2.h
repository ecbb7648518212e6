// One thread that runs functions at a due time, earliest first; each function
// carries a cancel flag that its poster may set until it runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

class QueueThread2 {
public:
    // The cancel flag of a posted function.
    struct Handler {
        std::atomic<bool> cancelled{false};
    };

    QueueThread2();
    ~QueueThread2() { stop(); }
    QueueThread2(const QueueThread2 &) = delete;
    QueueThread2 &operator=(const QueueThread2 &) = delete;

    // Any thread: runs fn delayMs from now unless handler is cancelled by then.
    // Functions due at the same time run in the order posted.
    void post(std::shared_ptr<Handler> handler, std::function<void()> fn, int64_t delayMs = 0);
    // Joins the thread after the running function; the rest are dropped.
    void stop();

private:
    struct Item {
        std::shared_ptr<Handler> handler;
        std::function<void()> fn;
        int64_t due; // steady clock, nanoseconds
        uint64_t seq;
    };
    struct Later {
        bool operator()(const Item &a, const Item &b) const { return a.due != b.due ? a.due > b.due : a.seq > b.seq; }
    };

    void loop();

    std::mutex m_mutex;
    std::condition_variable m_jobAvailable;
    std::priority_queue<Item, std::vector<Item>, Later> m_heap;
    uint64_t m_nextSeq = 0;
    bool m_stopping = false;
    std::thread m_thread;
};
