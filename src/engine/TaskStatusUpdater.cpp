#include "TaskStatusUpdater.h"

#include <chrono>
#include <exception>
#include <iostream>

namespace {

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

TaskStatusUpdater::~TaskStatusUpdater()
{
    stopUpdater();
}

void TaskStatusUpdater::start(BatchCallback callback, int intervalMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_thread)
        return;
    m_stopping = false;
    const int64_t intervalNs = static_cast<int64_t>(intervalMs) * 1000000;
    m_nextDue = nowNs() + intervalNs;
    m_thread = std::make_shared<std::thread>(&TaskStatusUpdater::loop, this, std::move(callback), intervalNs);
}

void TaskStatusUpdater::update(const TaskKey &key, const std::string &fid, const TransferFileStatus &status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending[key][fid] = status;
    m_changed.notify_one();
}

void TaskStatusUpdater::stopUpdater()
{
    std::shared_ptr<std::thread> thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        thread = m_thread;
    }
    m_changed.notify_all();
    if (thread && thread->joinable() && thread->get_id() != std::this_thread::get_id())
        thread->join();
}

void TaskStatusUpdater::loop(BatchCallback callback, int64_t intervalNs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_pending.empty(); });
        if (m_stopping)
            return;
        const auto due = std::chrono::steady_clock::time_point(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::nanoseconds(m_nextDue)));
        // Updates arriving meanwhile only join the batch; only stopping ends the wait early.
        m_changed.wait_until(lock, due, [this] { return m_stopping; });
        if (m_stopping)
            return;
        m_nextDue = nowNs() + intervalNs;
        std::map<TaskKey, FileStatusMap> batch;
        batch.swap(m_pending);
        lock.unlock();
        for (const auto &entry : batch) {
            try {
                callback(entry.first, entry.second);
            } catch (const std::exception &e) {
                std::cerr << "TaskStatusUpdater callback failed:" << e.what() << std::endl;
            }
        }
        lock.lock();
    }
}
