#include "FileStatusCommitter.h"

#include "store/TaskStore.h"

#include <iostream>

namespace taskmgr {

FileStatusCommitter::FileStatusCommitter()
{
    m_client.setCancelCheck([this] { return m_stopping.load(); });
}

FileStatusCommitter::~FileStatusCommitter()
{
    stop();
}

void FileStatusCommitter::stop()
{
    m_stopping = true;
    m_client.abort();
    m_queue.stop();
    stopUpdater();
}

void FileStatusCommitter::commit(const PeerEndpoint &peer, const TaskKey &key, const std::string &fid,
                                 const TransferFileStatus &status)
{
    m_queue.post(std::make_shared<QueueThread2::Handler>(),
                 [this, peer, key, fid, status] { run(peer, key, fid, status); });
}

void FileStatusCommitter::forget(const TaskKey &key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finalFiles.erase(key);
}

void FileStatusCommitter::run(const PeerEndpoint &peer, const TaskKey &key, const std::string &fid,
                              const TransferFileStatus &status)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::set<std::string> &finals = m_finalFiles[key];
        if (finals.count(fid))
            return;
        if (status.status != 0)
            finals.insert(fid);
    }
    TaskStore store(key.fromMe);
    if (!store.writeFileStatus(key.tid, fid, status))
        std::cerr << "FileStatusCommitter: " << store.lastError() << std::endl;
    update(key, fid, status);
    if (peer.host.empty())
        return;
    // The sender stores the state from its own side: what we blame on it is its own failure.
    TransferFileStatus report = status;
    report.remote = !status.remote;
    m_client.taskRecvProgress(peer, key.tid, fid, report);
}

} // namespace taskmgr
