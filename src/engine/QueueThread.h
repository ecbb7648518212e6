// One Qt thread with an event loop that runs posted functions one after
// another, in the order posted: ordered background work such as store-wide
// loads, removals and stop notices.
#pragma once

#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>
#include <mutex>

class QueueThread {
public:
    QueueThread();
    ~QueueThread();
    QueueThread(const QueueThread &) = delete;
    QueueThread &operator=(const QueueThread &) = delete;

    // Any thread: starts the thread on first use (with the caller's priority)
    // and queues fn. With a context, fn is skipped when the context object is
    // gone by the time fn's turn comes. Ignored once stopping.
    void run(std::function<void()> fn, QObject *context = nullptr);
    // Sets the quitting flag, ends the event loop after the running function
    // and waits for the thread; functions still queued are dropped.
    void stop();
    // Long-running functions check this to give up early.
    bool isQuitting() const { return m_quitting; }
    QThread *thread() { return &m_thread; }

private:
    std::mutex m_mutex;
    QThread m_thread;
    QObject *m_receiver;
    std::atomic<bool> m_quitting{false};
};
