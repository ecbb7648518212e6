// Worker threads, each with its own LanferryHttpClient, that run queued jobs
// in submission order. Jobs are grouped by an owner (one per running task) so
// that all of an owner's queued jobs can be dropped and its running requests
// aborted at once.
#pragma once

#include "client/LanferryHttpClient.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class LanferryHttpClientPool {
public:
    // The owner token of a group of jobs. Jobs keep weak references to its
    // record, so replacing or dropping the record kills every job queued
    // under it. Used from one thread (the owner's).
    class Handler {
    public:
        // A fresh record: jobs queued before are dead, later ones live.
        void reset() { m_record = std::make_shared<Record>(); }
        // No record: jobs queued before are dead; later ones are dropped too.
        void clear() { m_record.reset(); }
        bool empty() const { return !m_record; }

    private:
        friend class LanferryHttpClientPool;
        struct Record {};
        std::shared_ptr<Record> m_record;
    };

    using Job = std::function<void(LanferryHttpClient *client)>;

    LanferryHttpClientPool() = default;
    ~LanferryHttpClientPool() { shutdown(); }
    LanferryHttpClientPool(const LanferryHttpClientPool &) = delete;
    LanferryHttpClientPool &operator=(const LanferryHttpClientPool &) = delete;

    // Queues job under the owner's current record. Adds one worker when there
    // are fewer than limit (workers are never removed before shutdown).
    void submit(const Handler &owner, Job job, int limit);
    // Empties the owner: its queued jobs never run, and a worker running one
    // of its jobs has its request aborted; its further requests fail at once.
    void cancel(Handler &owner);
    // Aborts every request, joins every worker, drops the queued jobs. Later
    // submissions are ignored.
    void shutdown();

    size_t workerCount() const;

private:
    struct Worker {
        std::mutex mutex;
        LanferryHttpClient client;
        std::thread thread;
        std::weak_ptr<Handler::Record> owner; // of the job running or run last
    };
    struct QueuedJob {
        std::weak_ptr<Handler::Record> owner;
        Job job;
    };

    void workerLoop(Worker *worker);

    mutable std::mutex m_mutex;
    std::condition_variable m_jobAvailable;
    std::vector<std::shared_ptr<Worker>> m_workers;
    std::deque<QueuedJob> m_jobs;
    bool m_stopping = false;
    std::atomic<bool> m_stoppingFlag{false}; // read by the clients' cancel checks without the lock
};
