#include "LanferryHttpClientPool.h"

#include <exception>
#include <iostream>

void LanferryHttpClientPool::submit(const Handler &owner, Job job, int limit)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping)
        return;
    if (static_cast<int>(m_workers.size()) < limit) {
        auto worker = std::make_shared<Worker>();
        worker->thread = std::thread(&LanferryHttpClientPool::workerLoop, this, worker.get());
        m_workers.push_back(std::move(worker));
    }
    m_jobs.push_back(QueuedJob{owner.m_record, std::move(job)});
    m_jobAvailable.notify_one();
}

void LanferryHttpClientPool::cancel(Handler &owner)
{
    if (owner.empty())
        return;
    owner.clear();
    // Lock order: the pool, then a worker.
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto &worker : m_workers) {
        std::lock_guard<std::mutex> workerLock(worker->mutex);
        // Idle workers are touched too, harmlessly: each request clears the flags.
        if (worker->owner.expired())
            worker->client.abort();
    }
}

void LanferryHttpClientPool::shutdown()
{
    std::vector<std::shared_ptr<Worker>> workers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_stoppingFlag = true;
        for (const auto &worker : m_workers) {
            std::lock_guard<std::mutex> workerLock(worker->mutex);
            worker->client.abort();
        }
        workers.swap(m_workers);
        m_jobs.clear();
    }
    m_jobAvailable.notify_all();
    for (const auto &worker : workers) {
        if (worker->thread.joinable())
            worker->thread.join();
    }
}

size_t LanferryHttpClientPool::workerCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_workers.size();
}

void LanferryHttpClientPool::workerLoop(Worker *worker)
{
    worker->client.setCancelCheck([this, worker] {
        std::lock_guard<std::mutex> lock(worker->mutex);
        return m_stoppingFlag.load() || worker->owner.expired();
    });
    for (;;) {
        QueuedJob next;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            for (;;) {
                while (!m_jobs.empty() && m_jobs.front().owner.expired())
                    m_jobs.pop_front();
                if (m_stopping)
                    return;
                if (!m_jobs.empty())
                    break;
                m_jobAvailable.wait(lock);
            }
            next = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        if (next.owner.expired())
            continue;
        {
            std::lock_guard<std::mutex> lock(worker->mutex);
            worker->owner = next.owner;
        }
        try {
            next.job(&worker->client);
        } catch (const std::exception &e) {
            std::cerr << " LanferryHttpClientPool Task execution failed:" << e.what() << std::endl;
        } catch (...) {
            std::cerr << " LanferryHttpClientPool Task execution failed:unknown exception" << std::endl;
        }
    }
}
