// Makes received files durable before their "done" is recorded. A worker
// hands over the folder a finished file landed in and what to record; one
// thread syncs every file system handed over since its last round (one
// syncfs each, however many files) and then runs the records in the order
// they came. So a done status never reaches the store or the sender ahead of
// the file's bytes, and thousands of small files cost a few syncs (rounds are
// at least 200 ms apart). An optional hook runs after each round's records,
// on the same thread, so that what they queued can be written at once.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace taskmgr {

class DurableBatch {
public:
    // Gets 0 once the data is on the disk, or the errno of the failed sync.
    using Record = std::function<void(int syncError)>;

    DurableBatch();
    // stop().
    ~DurableBatch();
    DurableBatch(const DurableBatch &) = delete;
    DurableBatch &operator=(const DurableBatch &) = delete;

    // Any thread: record runs on the batch's thread after a sync of the file
    // system that holds folder. Once stopped, the sync and record run at once
    // on the caller's thread.
    void add(const std::string &folder, Record record);
    // Runs after the records of each round (and after each record once
    // stopped), on the thread that ran them. Set it before the first add().
    void setRoundEnd(std::function<void()> roundEnd);
    // Returns once everything handed over so far was synced and recorded.
    void flush();
    // Syncs and records what is pending, then ends the thread.
    void stop();
    // Syncs performed so far (one per file system per round).
    long syncCount() const;

private:
    void run();
    // One round: syncs fds (closing them), runs records, then roundEnd; without the lock.
    static void syncAndRecord(std::map<dev_t, int> &fds, std::vector<std::pair<dev_t, Record>> &records,
                              const std::function<void()> &roundEnd);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::map<dev_t, int> m_fds;                  // one open folder per file system
    std::map<std::string, dev_t> m_roundFolders; // the folders handed over this round
    std::vector<std::pair<dev_t, Record>> m_records;
    std::function<void()> m_roundEnd;
    long m_added = 0;
    long m_recorded = 0;
    long m_syncs = 0;
    int m_flushing = 0; // callers waiting in flush(): no pause between rounds
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace taskmgr
