// Collects file statuses from any thread and hands them over in batches, at
// most one batch per interval, each file with only its latest status. The
// task manager's screen model is the consumer: its callback gets the batches.
#pragma once

#include "store/TransferRecords.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class TaskStatusUpdater {
public:
    using FileStatusMap = std::map<std::string, TransferFileStatus>; // fid to status
    // Runs on the updater's thread, once per task of a batch, in key order.
    using BatchCallback = std::function<void(const TaskKey &key, const FileStatusMap &statuses)>;

    TaskStatusUpdater() = default;
    virtual ~TaskStatusUpdater();
    TaskStatusUpdater(const TaskStatusUpdater &) = delete;
    TaskStatusUpdater &operator=(const TaskStatusUpdater &) = delete;

    // Starts the batching thread (once; later calls change nothing). The first
    // batch may be handed over one interval after the start at the earliest.
    void start(BatchCallback callback, int intervalMs);
    // Any thread: records status as the latest of (key, fid).
    void update(const TaskKey &key, const std::string &fid, const TransferFileStatus &status);
    // Ends and joins the batching thread; pending statuses are dropped.
    void stopUpdater();

private:
    void loop(BatchCallback callback, int64_t intervalNs);

    std::shared_ptr<std::thread> m_thread;
    bool m_stopping = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int64_t m_nextDue = 0; // steady clock, nanoseconds
    std::map<TaskKey, FileStatusMap> m_pending;
};
