// The road of every file status of a receive task: written to the task
// store, batched for the screen (the TaskStatusUpdater part) and reported to
// the sending device, one status at a time on one thread, in commit order.
#pragma once

#include "QueueThread2.h"
#include "TaskStatusUpdater.h"

#include "client/LanferryHttpClient.h"
#include "client/PeerEndpoint.h"
#include "store/TransferRecords.h"

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace taskmgr {

class FileStatusCommitter : public TaskStatusUpdater {
public:
    FileStatusCommitter();
    ~FileStatusCommitter() override;

    // Any thread: queues the status. Once a file reached a final status (1 or
    // -1), its later statuses are dropped until forget(key), so a late
    // progress report can never overwrite the result.
    void commit(const PeerEndpoint &peer, const TaskKey &key, const std::string &fid, const TransferFileStatus &status);
    // Accept new results for every file of the task again (the task starts anew).
    void forget(const TaskKey &key);
    // Aborts the running report, drops queued commits and joins both threads.
    void stop();

private:
    void run(const PeerEndpoint &peer, const TaskKey &key, const std::string &fid, const TransferFileStatus &status);

    std::atomic<bool> m_stopping{false};
    LanferryHttpClient m_client;
    std::mutex m_mutex;
    std::map<TaskKey, std::set<std::string>> m_finalFiles;
    QueueThread2 m_queue; // last: its thread ends before the members it uses go
};

} // namespace taskmgr
