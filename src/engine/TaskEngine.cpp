#include "TaskEngine.h"

#include "client/FileReceive.h"
#include "core/DataFolder.h"
#include "store/TaskStore.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <iostream>
#include <thread>

using ServerItem = LanferryUdpServer::ServerItem;

namespace {

// A folder's progress reaches the store, the screen and the sender at most
// this often while it runs (plus its final state).
constexpr int64_t kFolderReportSeconds = 2;
// Files of a folder from this size on are named in its progress while fetched.
constexpr int64_t kNamedWhileFetched = 1024 * 1024;
// Files up to this size are fetched whole into memory, several at a time
// (well below the piece a sender answers with, so one answer is the whole
// file). A larger file's transfer outlasts its round trip by far: it streams
// to the disk on its own.
constexpr int64_t kWholeFileMax = 256 * 1024;
// Files per batch job: enough to keep requests overlapping, few enough that
// a stop or another task's jobs wait little.
constexpr size_t kWholeBatch = 32;
// Connections of all workers to one sender stay well below what a sender
// takes from one address (32): each worker keeps its own connection beside
// those of its batch.
constexpr int kConnectionBudget = 23;

// Requests of one batch at once; 0 when batches would cost more connections
// than there are to spare (then every file has a job of its own).
size_t wholeInFlight(int workers)
{
    const int each = kConnectionBudget / std::max(workers, 1) - 1;
    return each < 1 ? 0 : static_cast<size_t>(std::min<int>(each, LanferryHttpClient::kWholeInFlight));
}
constexpr const char *kNoSavePath = "The file has no save path.";

int64_t nowSeconds()
{
    return static_cast<int64_t>(std::time(nullptr));
}

std::string joinPath(const std::string &folder, const std::string &subpath)
{
    return subpath.empty() ? folder : folder + "/" + subpath;
}

// The folder's database for a job on a pool worker. Each worker keeps the one
// it used last open: for a folder of many small files, opening, checking and
// closing it (which checkpoints its journal) cost more than the file itself.
// Commits are not flushed to the disk one by one (still atomic, and safe when
// the program dies): a row lost to a power cut only fetches its file again.
std::shared_ptr<TaskDirFileDb> workerDirDb(const TaskKey &key, const TransferFile &folder)
{
    thread_local std::string lastId;
    thread_local std::shared_ptr<TaskDirFileDb> last;
    const std::string id = (key.fromMe ? "send/" : "recv/") + key.tid + "/" + folder.uid;
    if (last && id == lastId && last->isOpen())
        return last;
    std::shared_ptr<TaskDirFileDb> db = openDirDb(key, folder);
    if (db->ensureOpen()) {
        db->exec("PRAGMA synchronous=NORMAL");
        last = db;
        lastId = id;
    }
    return db;
}

} // namespace

// Counts the failures recorded in folder rows, by every engine of the
// process; bumped after the row is written, so a reader that saw the count
// unchanged since its last query of a folder can trust that answer.
std::atomic<uint64_t> g_folderFailures{0};

void noteFolderFailure()
{
    ++g_folderFailures;
}

// Holds a destination path for one job.
class TaskEngine::PathGuard {
public:
    PathGuard(TaskEngine &engine, std::string path) : m_engine(engine), m_path(std::move(path))
    {
        m_engine.acquirePath(m_path);
    }
    ~PathGuard() { m_engine.releasePath(m_path); }
    PathGuard(const PathGuard &) = delete;
    PathGuard &operator=(const PathGuard &) = delete;

private:
    TaskEngine &m_engine;
    std::string m_path;
};

int TaskEntry::fileIndex(const std::string &fid) const
{
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].uid == fid)
            return static_cast<int>(i);
    }
    return -1;
}

TaskEngine::TaskEngine(Events events, int batchIntervalMs)
    : m_events(std::move(events)), m_invoker(std::make_unique<Invoker>())
{
    m_committer.start(
        [this](const TaskKey &key, const TaskStatusUpdater::FileStatusMap &statuses) {
            post([this, key, statuses] { applyBatch(key, statuses); });
        },
        batchIntervalMs);
    m_durable.setRoundEnd([this] { endFolderRound(); });
}

TaskEngine::~TaskEngine()
{
    m_queue.stop();
    m_pool.shutdown();
    // Finished files still waiting for their sync get it, and their statuses.
    m_durable.stop();
    m_committer.stop();
    m_entries.clear();
    m_invoker.reset();
}

void TaskEngine::setCandidateList(CandidateList candidates)
{
    std::lock_guard<std::mutex> lock(m_candidatesMutex);
    m_candidates = std::move(candidates);
}

void TaskEngine::post(std::function<void()> fn)
{
    if (m_invoker)
        m_invoker->post(std::move(fn));
}

const TaskEntry *TaskEngine::entry(const TaskKey &key) const
{
    auto it = m_entries.find(key);
    return it == m_entries.end() ? nullptr : &it->second;
}

TaskEntry *TaskEngine::findEntry(const TaskKey &key)
{
    auto it = m_entries.find(key);
    return it == m_entries.end() ? nullptr : &it->second;
}

TaskEntry *TaskEngine::liveEntry(const TaskKey &key, const WeakRun &run)
{
    TaskEntry *e = findEntry(key);
    if (!e || !e->token || e->token != run.lock())
        return nullptr;
    return e;
}

void TaskEngine::reloadTasks()
{
    m_queue.run([this] {
        std::vector<TransferTask> tasks;
        TaskStore(true).listTasks(&tasks);
        TaskStore(false).listTasks(&tasks);
        if (m_queue.isQuitting())
            return;
        post([this, tasks] {
            // A task started before the list arrived keeps its running state.
            for (const TransferTask &task : tasks) {
                const TaskKey key{task.uid, task.from_me != 0};
                if (m_entries.count(key))
                    continue;
                TaskEntry e;
                e.task = task;
                m_entries.emplace(key, std::move(e));
            }
            if (m_events.tasksReset)
                m_events.tasksReset();
        });
    });
}

void TaskEngine::refreshTask(const TaskKey &key)
{
    TaskStore store(key.fromMe);
    TransferTask task;
    if (!isValidStoreId(key.tid) || store.readTask(key.tid, &task) != 1) {
        if (m_entries.count(key)) {
            cancelTask(key);
            m_entries.erase(key);
            if (m_events.taskRemoved)
                m_events.taskRemoved(key);
        }
        return;
    }
    task.from_me = key.fromMe ? 1 : 0;
    TaskEntry *e = findEntry(key);
    if (!e) {
        TaskEntry fresh;
        fresh.task = task;
        m_entries.emplace(key, std::move(fresh));
        if (m_events.taskAdded)
            m_events.taskAdded(key);
        return;
    }
    // The stored counters lag behind a running task's own (successes are
    // written when it ends), so a running task keeps its counters.
    if (e->running())
        task.status = e->task.status;
    e->task = task;
    if (m_events.taskChanged)
        m_events.taskChanged(key);
}

void TaskEngine::loadTaskFiles(const TaskKey &key)
{
    TaskEntry *e = findEntry(key);
    if (!e || e->filesLoaded)
        return;
    std::vector<TransferFile> files;
    if (TaskStore(key.fromMe).readTaskFiles(key.tid, &files) != 1)
        return;
    sortFiles(files);
    e->files = std::move(files);
    e->filesLoaded = true;
    if (m_events.filesLoaded)
        m_events.filesLoaded(key, static_cast<int>(e->files.size()));
    if (m_events.taskChanged)
        m_events.taskChanged(key);
}

void TaskEngine::sortFiles(std::vector<TransferFile> &files)
{
    std::stable_sort(files.begin(), files.end(), [](const TransferFile &a, const TransferFile &b) {
        const int sa = a.status.status < 0 ? -1 : (a.status.status > 0 ? 1 : 0);
        const int sb = b.status.status < 0 ? -1 : (b.status.status > 0 ? 1 : 0);
        if (sa != sb)
            return sa < sb;
        return a.file_name < b.file_name;
    });
}

void TaskEngine::setBusyListener(std::function<void(bool)> listener)
{
    m_busyListener = std::move(listener);
}

void TaskEngine::setTaskEndListener(std::function<void(const TaskKey &, const TaskEntry &)> listener)
{
    m_endListener = std::move(listener);
}

void TaskEngine::setRunning(TaskEntry &entry, bool running)
{
    if (entry.running() != running) {
        m_runningCount += running ? 1 : -1;
        if (m_busyListener && m_runningCount == (running ? 1 : 0))
            m_busyListener(running);
    }
    if (running) {
        entry.run.reset();
    } else {
        m_pool.cancel(entry.run);
        entry.run.clear();
    }
    // Taken after the pool's locks, never while holding them.
    std::lock_guard<std::mutex> lock(m_runMutex);
    entry.token = running ? std::make_shared<TaskEntry::RunToken>() : nullptr;
}

void TaskEngine::recount(TaskEntry &entry)
{
    if (!entry.filesLoaded)
        return;
    TransferTaskStatus &s = entry.task.status;
    s.total = static_cast<int32_t>(entry.files.size());
    s.successes = 0;
    s.failed = 0;
    for (const TransferFile &f : entry.files) {
        if (f.status.status > 0)
            ++s.successes;
        else if (f.status.status < 0)
            ++s.failed;
    }
}

void TaskEngine::startTask(const TaskKey &key)
{
    refreshTask(key);
    loadTaskFiles(key);
    TaskEntry *e = findEntry(key);
    // Without its files a task cannot know when it is done.
    if (!e || e->running() || !e->filesLoaded)
        return;
    setRunning(*e, true);

    // Unfinished files start over from their offsets; until their new status
    // arrives they show as waiting, and the counters count this run only.
    for (TransferFile &f : e->files) {
        if (f.status.status < 0) {
            f.status.status = 0;
            f.status.remote = false;
            f.status.error.clear();
        }
    }
    recount(*e);
    e->task.status.remote = false;
    TaskStore(key.fromMe).writeTaskStatus(key.tid, e->task.status);
    m_committer.forget(key);
    if (m_events.taskChanged)
        m_events.taskChanged(key);
    if (m_events.filesChanged)
        m_events.filesChanged(key);

    // Nothing left to do: no job would ever end the run.
    if (e->task.status.total - e->task.status.successes < 1) {
        finishIfDone(key, *e);
        return;
    }
    if (key.fromMe)
        return; // the receiver reports its progress
    CandidateList candidates;
    {
        std::lock_guard<std::mutex> lock(m_candidatesMutex);
        candidates = m_candidates;
    }
    const WeakRun run = e->token;
    const TransferTask task = e->task;
    submit(*e, [this, key, run, task, candidates](LanferryHttpClient *client) {
        startJob(client, key, run, task, candidates);
    });
}

void TaskEngine::submit(TaskEntry &entry, LanferryHttpClientPool::Job job)
{
    m_pool.submit(entry.run, std::move(job), readMaxThreads());
}

void TaskEngine::cancelTask(const TaskKey &key)
{
    TaskEntry *e = findEntry(key);
    if (e && e->running())
        setRunning(*e, false);
}

void TaskEngine::stopTask(const TaskKey &key)
{
    TaskEntry *e = findEntry(key);
    if (!e)
        return;
    cancelTask(key);
    sortFiles(e->files);
    if (m_events.taskChanged)
        m_events.taskChanged(key);
    if (m_events.filesChanged)
        m_events.filesChanged(key);
    if (key.fromMe)
        return;
    const TransferTask task = e->task;
    m_queue.run([task] {
        LanferryHttpClient client;
        if (!task.ip.empty())
            client.taskRecvStop(PeerEndpoint{task.ip, task.port, task.pwd}, task.uid);
    });
}

void TaskEngine::removeEntry(const TaskKey &key)
{
    if (!m_entries.count(key))
        return;
    cancelTask(key);
    m_entries.erase(key);
    if (m_events.taskRemoved)
        m_events.taskRemoved(key);
}

void TaskEngine::updateFileStatus(const TaskKey &key, const std::string &fid, const TransferFileStatus &status)
{
    m_committer.update(key, fid, status);
}

void TaskEngine::applyBatch(const TaskKey &key, const std::map<std::string, TransferFileStatus> &statuses)
{
    TaskEntry *e = findEntry(key);
    if (!e)
        return;
    bool failure = false;
    for (const auto &[fid, status] : statuses) {
        const int index = e->fileIndex(fid);
        if (index < 0)
            continue;
        e->files[static_cast<size_t>(index)].status = status;
        if (status.status < 0) {
            e->task.status.remote = status.remote;
            e->task.status.error = status.error;
            failure = true;
        }
        if (m_events.fileChanged)
            m_events.fileChanged(key, index);
    }
    // Counted from the files, so a file reported final twice counts once.
    recount(*e);
    if (failure)
        TaskStore(key.fromMe).writeTaskStatus(key.tid, e->task.status);
    finishIfDone(key, *e);
    if (m_events.taskChanged)
        m_events.taskChanged(key);
}

void TaskEngine::finishIfDone(const TaskKey &key, TaskEntry &entry)
{
    const TransferTaskStatus &s = entry.task.status;
    if (!entry.filesLoaded || s.total - s.successes - s.failed >= 1)
        return;
    const bool ended = entry.running();
    if (ended)
        setRunning(entry, false);
    TaskStore(key.fromMe).writeTaskStatus(key.tid, s);
    sortFiles(entry.files);
    if (m_events.taskChanged)
        m_events.taskChanged(key);
    if (m_events.filesChanged)
        m_events.filesChanged(key);
    if (ended && m_endListener)
        m_endListener(key, entry);
}

bool TaskEngine::whileLive(const WeakRun &run, const std::function<void()> &fn)
{
    std::lock_guard<std::mutex> lock(m_runMutex);
    if (run.expired())
        return false;
    fn();
    return true;
}

void TaskEngine::commit(const WeakRun &run, const PeerEndpoint &peer, const TaskKey &key, const std::string &fid,
                        const TransferFileStatus &status)
{
    whileLive(run, [&] { m_committer.commit(peer, key, fid, status); });
}

PeerEndpoint TaskEngine::endpointOf(const ServerItem &peer)
{
    return PeerEndpoint{peer.ip, peer.port, peer.info.pwd};
}

bool TaskEngine::findPeer(LanferryHttpClient &client, const TransferTask &task, const CandidateList &candidates,
                          ServerItem *peer)
{
    // Another device may have taken over the address since: only the task's own device counts.
    const auto isTheDevice = [&task](const ServerInfo &info) {
        return task.remote_uid.empty() || info.uid == task.remote_uid;
    };
    const auto answer = [&task](const std::string &ip, int32_t port, ServerInfo info, ServerItem *out) {
        out->ip = ip;
        out->port = port;
        // The answer carries the device's password; a device without one takes any.
        if (info.pwd.empty())
            info.pwd = task.pwd;
        out->info = std::move(info);
    };
    if (!task.ip.empty()) {
        ServerInfo info;
        if (client.getInfo(PeerEndpoint{task.ip, task.port, task.pwd}, &info).status == 200 && isTheDevice(info)) {
            answer(task.ip, task.port, std::move(info), peer);
            return true;
        }
    }
    // Without the device's id every known device would be a candidate.
    if (!candidates || task.remote_uid.empty())
        return false;
    for (const ServerItem &item : candidates(task.remote_uid)) {
        if (client.isStopped())
            return false;
        if (item.ip.empty())
            continue;
        ServerInfo info;
        if (client.getInfo(PeerEndpoint{item.ip, item.port, task.pwd}, &info).status == 200 && isTheDevice(info)) {
            const int32_t id = item.id;
            answer(item.ip, item.port, std::move(info), peer);
            peer->id = id;
            return true;
        }
    }
    return false;
}

void TaskEngine::startJob(LanferryHttpClient *client, const TaskKey &key, const WeakRun &run, const TransferTask &task,
                          const CandidateList &candidates)
{
    ServerItem peer;
    if (findPeer(*client, task, candidates, &peer)) {
        const PeerEndpoint ep = endpointOf(peer);
        TaskStore(key.fromMe).updateServerInfo(key.tid, ep.host, ep.port, ep.pwd);
        post([this, key, ep] {
            if (TaskEntry *e = findEntry(key)) {
                e->task.ip = ep.host;
                e->task.port = ep.port;
                e->task.pwd = ep.pwd;
                if (m_events.taskChanged)
                    m_events.taskChanged(key);
            }
        });
        // The answer changes nothing: the pieces are asked for either way.
        client->taskRecvStart(ep, key.tid);
    }
    // Without a peer every job fails at once with the reason, and the task ends.
    post([this, key, run, peer] {
        if (liveEntry(key, run))
            launch(key, peer);
    });
}

void TaskEngine::launch(const TaskKey &key, const ServerItem &peer)
{
    TaskEntry *e = findEntry(key);
    if (!e)
        return;
    const PeerEndpoint ep = endpointOf(peer);
    const WeakRun run = e->token;
    const std::vector<TransferFile> files = e->files;
    for (const TransferFile &file : files) {
        if (file.status.status >= 1)
            continue;
        if (file.mime != kDirectoryMime) {
            startRecvFile(key, peer, file);
            continue;
        }
        std::shared_ptr<TaskDirFileDb> db = openDirDb(key, file);
        std::vector<DirTaskEntry> pending;
        bool ok = db->ensureOpen();
        if (ok) {
            // Its failure only leaves the database's text behind; the rows are read either way.
            db->resetFailed();
            ok = db->pendingEntries(&pending);
        }
        if (!ok) {
            TransferFileStatus status = toFileStatus(db->readContext());
            status.status = -1;
            status.error = db->lastError();
            commit(run, ep, key, file.uid, status);
            continue;
        }
        if (pending.empty()) {
            startRecvDir(key, peer, file, std::nullopt);
            continue;
        }
        DirFileQueue queue(*this, folderJobs(key, peer, file));
        for (const DirTaskEntry &row : pending) {
            if (row.isdir)
                startRecvDir(key, peer, file, row);
            else
                queue.add(row, row.offset);
        }
    }
}

void TaskEngine::startRecvFile(const TaskKey &key, const ServerItem &peer, const TransferFile &file)
{
    TaskEntry *e = findEntry(key);
    if (!e || !e->running())
        return;
    const WeakRun run = e->token;
    const PeerEndpoint ep = endpointOf(peer);
    const Placement place = placementOf(e->task, file);
    submit(*e, [this, key, run, ep, file, place](LanferryHttpClient *client) {
        fileJob(client, key, run, ep, file, place);
    });
}

void TaskEngine::startRecvDir(const TaskKey &key, const ServerItem &peer, const TransferFile &folder,
                              const std::optional<DirTaskEntry> &row)
{
    TaskEntry *e = findEntry(key);
    if (!e || !e->running())
        return;
    const WeakRun run = e->token;
    const std::string subpath = row ? row->subpath : std::string();
    const Placement place = placementOf(e->task, folder);
    submit(*e, [this, key, run, peer, folder, place, subpath](LanferryHttpClient *client) {
        dirJob(client, key, run, peer, folder, place, subpath);
    });
}

std::shared_ptr<const TaskEngine::FolderJobs> TaskEngine::folderJobs(const TaskKey &key, const ServerItem &peer,
                                                                     const TransferFile &folder)
{
    TaskEntry *e = findEntry(key);
    if (!e || !e->running())
        return nullptr;
    return std::make_shared<const FolderJobs>(
        FolderJobs{key, e->token, endpointOf(peer), folder, placementOf(e->task, folder)});
}

void TaskEngine::startRecvDirFile(const std::shared_ptr<const FolderJobs> &jobs, const DirTaskEntry &row,
                                  int64_t offset)
{
    TaskEntry *e = findEntry(jobs->key);
    if (!e || !e->running() || e->token != jobs->run.lock())
        return;
    submit(*e, [this, jobs, subpath = row.subpath, offset, total = row.total](LanferryHttpClient *client) {
        dirFileJob(client, jobs->key, jobs->run, jobs->peer, jobs->folder, jobs->place, subpath, offset, total);
    });
}

void TaskEngine::DirFileQueue::add(const DirTaskEntry &row, int64_t offset)
{
    if (!m_jobs)
        return;
    if (m_inFlight < 0)
        m_inFlight = static_cast<int>(wholeInFlight(readMaxThreads()));
    // A resumed file keeps its partial file and goes on from there.
    if (offset != 0 || row.total > kWholeFileMax || m_jobs->peer.host.empty() || m_inFlight == 0) {
        m_engine.startRecvDirFile(m_jobs, row, offset);
        return;
    }
    m_batch.push_back(row);
    if (m_batch.size() >= kWholeBatch)
        flush();
}

void TaskEngine::DirFileQueue::flush()
{
    if (m_batch.empty())
        return;
    if (m_batch.size() == 1) {
        m_engine.startRecvDirFile(m_jobs, m_batch.front(), 0);
        m_batch.clear();
        return;
    }
    TaskEntry *e = m_engine.findEntry(m_jobs->key);
    if (e && e->running() && e->token == m_jobs->run.lock()) {
        const auto inFlight = static_cast<size_t>(m_inFlight);
        m_engine.submit(*e, [engine = &m_engine, jobs = m_jobs, rows = std::move(m_batch), inFlight](
                                LanferryHttpClient *client) { engine->dirFilesJob(client, *jobs, rows, inFlight); });
    }
    m_batch = {};
}

void TaskEngine::acquirePath(const std::string &path)
{
    std::unique_lock<std::mutex> lock(m_pathMutex);
    m_pathFreed.wait(lock, [&] { return !m_busyPaths.count(path); });
    m_busyPaths.insert(path);
}

void TaskEngine::releasePath(const std::string &path)
{
    {
        std::lock_guard<std::mutex> lock(m_pathMutex);
        m_busyPaths.erase(path);
    }
    m_pathFreed.notify_all();
}

TaskEngine::Placement TaskEngine::placementOf(const TransferTask &task, const TransferFile &file)
{
    std::string root = task.root;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    const std::string prefix = root == "/" ? root : root + "/";
    if (!root.empty() && file.save_path.size() > prefix.size() && file.save_path.compare(0, prefix.size(), prefix) == 0)
        return Placement{root, file.save_path.substr(prefix.size())};
    // Without a root that holds it: the save path's own folder.
    const size_t slash = file.save_path.rfind('/');
    if (slash == std::string::npos)
        return Placement{std::string(), file.save_path};
    return Placement{slash == 0 ? std::string("/") : file.save_path.substr(0, slash), file.save_path.substr(slash + 1)};
}

void TaskEngine::fileJob(LanferryHttpClient *client, const TaskKey &key, const WeakRun &run, const PeerEndpoint &peer,
                         const TransferFile &file, const Placement &place)
{
    if (file.save_path.empty()) {
        TransferFileStatus status = file.status;
        status.status = -1;
        status.remote = false;
        status.error = kNoSavePath;
        commit(run, peer, key, file.uid, status);
        return;
    }
    // A job of a stopped run may still be ending on this file.
    PathGuard guard(*this, file.save_path);
    // The store is ahead of the screen's copy (which is updated once a second).
    int64_t offset = file.status.offset;
    TransferFile stored;
    if (TaskStore(key.fromMe).readTaskFile(key.tid, file.uid, &stored) == 1) {
        if (stored.status.status >= 1) {
            commit(run, peer, key, file.uid, stored.status); // done meanwhile: nothing to fetch
            return;
        }
        offset = std::max(offset, stored.status.offset);
    }
    std::string landed;
    TransferFileStatus result = receiveFile(
        *client, peer, key, file.uid, std::string(), offset, ReceiveTarget{place.folder, place.relative, file.total},
        [&](const TransferFileStatus &status) { commit(run, peer, key, file.uid, status); }, nullptr, &landed);
    if (result.status != 1) {
        commit(run, peer, key, file.uid, result);
        return;
    }
    const std::string landedPath = joinPath(place.folder, landed);
    const std::string fid = file.uid;
    const bool moved = landedPath != file.save_path;
    m_durable.add(place.folder, [this, run, peer, key, fid, result, landedPath, moved](int syncError) mutable {
        if (syncError) {
            result.status = -1;
            result.remote = false;
            result.error = std::string("Failed to write file. ") + std::strerror(syncError);
        } else if (moved) {
            // Its name was taken meanwhile: the task follows the file.
            TaskStore(key.fromMe).updateSavePath(key.tid, fid, landedPath);
            post([this, key, fid, landedPath] {
                TaskEntry *e = findEntry(key);
                const int index = e ? e->fileIndex(fid) : -1;
                if (index < 0)
                    return;
                e->files[static_cast<size_t>(index)].save_path = landedPath;
                if (m_events.fileChanged)
                    m_events.fileChanged(key, index);
            });
        }
        commit(run, peer, key, fid, result);
    });
}

void TaskEngine::failFolder(TaskDirFileDb &db, const PeerEndpoint &peer, const TaskKey &key, const TransferFile &folder,
                            const std::string &error)
{
    TransferFileStatus status = toFileStatus(db.readContext());
    status.status = -1;
    status.error = error;
    m_committer.commit(peer, key, folder.uid, status);
}

void TaskEngine::reportFolder(TaskDirFileDb &db, const PeerEndpoint &peer, const TaskKey &key,
                              const TransferFile &folder)
{
    const DirTaskContext ctx = db.readContext();
    const int64_t now = nowSeconds();
    if (ctx.done || ctx.failed > 0 || now - ctx.dt > kFolderReportSeconds) {
        m_committer.commit(peer, key, folder.uid, toFileStatus(ctx));
        db.setDt(now);
    }
}

std::shared_ptr<TaskDirFileDb> TaskEngine::openFolderDb(const TaskKey &key, const WeakRun &run,
                                                        const PeerEndpoint &peer, const TransferFile &folder)
{
    std::shared_ptr<TaskDirFileDb> db = workerDirDb(key, folder);
    if (folder.save_path.empty() || !db->ensureOpen()) {
        const std::string error = folder.save_path.empty() ? std::string(kNoSavePath) : db->lastError();
        whileLive(run, [&] { failFolder(*db, peer, key, folder, error); });
        return nullptr;
    }
    // A failure inside the folder ends its walk until the task is started
    // again. Asking the database for every file of a large folder costs more
    // than fetching a small file, so a thread that found the folder clean asks
    // again only after some folder row was recorded as failed since then.
    thread_local std::weak_ptr<TaskDirFileDb> cleanDb;
    thread_local uint64_t cleanAt = 0;
    const uint64_t failures = g_folderFailures.load();
    if (cleanDb.lock() == db && cleanAt == failures)
        return db;
    if (db->failedCount() != 0)
        return nullptr;
    cleanDb = db;
    cleanAt = failures;
    return db;
}

void TaskEngine::dirJob(LanferryHttpClient *client, const TaskKey &key, const WeakRun &run, const ServerItem &peer,
                        const TransferFile &folder, const Placement &place, const std::string &subpath)
{
    const PeerEndpoint ep = endpointOf(peer);
    std::shared_ptr<TaskDirFileDb> db = openFolderDb(key, run, ep, folder);
    if (!db)
        return;
    db->setDesc(subpath);

    std::vector<DirTaskEntry> listed;
    TransferFileStatus result = makeReceiveFolder(place.folder, joinPath(place.relative, subpath));
    if (result.status == 1)
        result = listRemoteDirectory(*client, ep, key, folder.uid, subpath, &listed);

    if (result.status != 1) {
        whileLive(run, [&] {
            db->updateEntry(subpath, result.status, std::nullopt, result.error);
            noteFolderFailure();
            result.offset = db->readContext().finished;
            m_committer.commit(ep, key, folder.uid, result);
        });
        return;
    }

    // Rows already known are pending (queued when the task started) or done:
    // only the new ones are queued from here, so that none is queued twice.
    std::vector<DirTaskEntry> fresh;
    whileLive(run, [&] {
        std::vector<bool> inserted;
        if (!db->insertEntries(listed, &inserted) || !db->updateEntry(subpath, 1, std::nullopt, std::string())) {
            failFolder(*db, ep, key, folder, db->lastError());
            return;
        }
        reportFolder(*db, ep, key, folder);
        // Moved, not copied: a listing of 100,000 rows is held once.
        size_t kept = 0;
        for (size_t i = 0; i < listed.size(); ++i) {
            if (!inserted[i])
                continue;
            if (kept != i) // a string moved onto itself is left empty
                listed[kept] = std::move(listed[i]);
            ++kept;
        }
        listed.resize(kept);
        listed.shrink_to_fit();
        fresh.swap(listed);
    });
    if (fresh.empty())
        return;
    post([this, key, run, peer, folder, fresh = std::move(fresh)] {
        if (!liveEntry(key, run))
            return;
        DirFileQueue queue(*this, folderJobs(key, peer, folder));
        for (const DirTaskEntry &row : fresh) {
            if (row.isdir)
                startRecvDir(key, peer, folder, row);
            else
                queue.add(row, 0);
        }
    });
}

void TaskEngine::updateFolderRow(TaskDirFileDb &db, const PeerEndpoint &peer, const TaskKey &key,
                                 const TransferFile &folder, const std::string &subpath,
                                 const TransferFileStatus &status)
{
    const bool written = db.updateEntry(subpath, status.status, status.offset, status.error);
    if (status.status < 0)
        noteFolderFailure();
    if (!written) {
        failFolder(db, peer, key, folder, db.lastError());
        return;
    }
    reportFolder(db, peer, key, folder);
}

void TaskEngine::dirFileJob(LanferryHttpClient *client, const TaskKey &key, const WeakRun &run,
                            const PeerEndpoint &peer, const TransferFile &folder, const Placement &place,
                            const std::string &subpath, int64_t offset, int64_t total)
{
    std::shared_ptr<TaskDirFileDb> db = openFolderDb(key, run, peer, folder);
    if (!db)
        return;
    // A small file is named when its round is written; a large one now,
    // while it is being fetched.
    if (total >= kNamedWhileFetched)
        db->setDesc(subpath);
    const std::string relative = joinPath(place.relative, subpath);

    const auto rowUpdate = [&](const TransferFileStatus &status) {
        whileLive(run, [&] { updateFolderRow(*db, peer, key, folder, subpath, status); });
    };
    PathGuard guard(*this, joinPath(place.folder, relative));
    const TransferFileStatus result = receiveFile(*client, peer, key, folder.uid, subpath, offset,
                                                  ReceiveTarget{place.folder, relative, total}, rowUpdate, nullptr);
    dirFileDone(*db, run, peer, key, folder, place, subpath, result);
}

void TaskEngine::dirFilesJob(LanferryHttpClient *client, const FolderJobs &jobs, const std::vector<DirTaskEntry> &rows,
                             size_t inFlight)
{
    if (!openFolderDb(jobs.key, jobs.run, jobs.peer, jobs.folder))
        return;
    // Answers are landed on a thread of the batch's own while the worker
    // fetches the next ones: for small files the disk work weighs as much as
    // the network's, and the two overlap on separate processors.
    struct Answer {
        size_t index;
        HttpResponse answer;
        bool overflow;
    };
    std::mutex mutex;
    std::condition_variable arrived;
    std::condition_variable landed;
    // Answers wait here for the disk; when it lags, so does the fetching.
    std::deque<Answer> answers;
    const size_t maxWaiting = 2 * std::max<size_t>(inFlight, 1);
    bool fetched = false;
    std::atomic<bool> folderFailed{false};
    std::vector<size_t> piecewise; // answers that were not the whole file
    std::thread lander([&] {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex);
            arrived.wait(lock, [&] { return fetched || !answers.empty(); });
            if (answers.empty())
                return;
            Answer a = std::move(answers.front());
            answers.pop_front();
            lock.unlock();
            landed.notify_one();
            // A failed file ends its folder's batches as it ends single jobs.
            const std::shared_ptr<TaskDirFileDb> db =
                folderFailed ? nullptr : openFolderDb(jobs.key, jobs.run, jobs.peer, jobs.folder);
            if (!db) {
                folderFailed = true;
                continue;
            }
            const DirTaskEntry &row = rows[a.index];
            const std::string relative = joinPath(jobs.place.relative, row.subpath);
            PathGuard guard(*this, joinPath(jobs.place.folder, relative));
            const TransferFileStatus result =
                landWholeFile(a.answer, a.overflow, jobs.key, jobs.folder.uid, row.subpath,
                              ReceiveTarget{jobs.place.folder, relative, row.total});
            if (result.status == 0)
                piecewise.push_back(a.index);
            else
                dirFileDone(*db, jobs.run, jobs.peer, jobs.key, jobs.folder, jobs.place, row.subpath, result);
        }
    });
    std::vector<LanferryHttpClient::WholeRead> reads;
    reads.reserve(rows.size());
    for (const DirTaskEntry &row : rows)
        reads.push_back(LanferryHttpClient::WholeRead{jobs.folder.uid, row.subpath, row.total});
    client->fileReadWhole(jobs.peer, jobs.key.tid, reads, inFlight,
                          [&](size_t index, HttpResponse &answer, bool overflow) {
                              if (folderFailed)
                                  return false;
                              {
                                  std::unique_lock<std::mutex> lock(mutex);
                                  landed.wait(lock, [&] { return answers.size() < maxWaiting; });
                                  answers.push_back(Answer{index, std::move(answer), overflow});
                              }
                              arrived.notify_one();
                              return true;
                          });
    {
        std::lock_guard<std::mutex> lock(mutex);
        fetched = true;
    }
    arrived.notify_one();
    lander.join();

    // Not the whole file after all (it grew, or the sender's pieces are
    // shorter): piece by piece, each as a file of its own (which checks the
    // folder and the run as every file job does).
    for (const size_t index : piecewise) {
        const DirTaskEntry &row = rows[index];
        dirFileJob(client, jobs.key, jobs.run, jobs.peer, jobs.folder, jobs.place, row.subpath, 0, row.total);
    }
}

void TaskEngine::dirFileDone(TaskDirFileDb &db, const WeakRun &run, const PeerEndpoint &peer, const TaskKey &key,
                             const TransferFile &folder, const Placement &place, const std::string &subpath,
                             const TransferFileStatus &result)
{
    if (result.status != 1) {
        whileLive(run, [&] { updateFolderRow(db, peer, key, folder, subpath, result); });
        return;
    }
    m_durable.add(place.folder, [this, run, peer, key, folder, subpath, status = result](int syncError) mutable {
        if (syncError) {
            status.status = -1;
            status.error = std::string("Failed to write file. ") + std::strerror(syncError);
        }
        queueFolderRow(run, peer, key, folder, subpath, status);
    });
}

std::vector<TaskEngine::FolderRound> &TaskEngine::folderRound()
{
    thread_local std::vector<FolderRound> round;
    return round;
}

void TaskEngine::queueFolderRow(const WeakRun &run, const PeerEndpoint &peer, const TaskKey &key,
                                const TransferFile &folder, const std::string &subpath,
                                const TransferFileStatus &status)
{
    std::vector<FolderRound> &round = folderRound();
    auto it = std::find_if(round.begin(), round.end(), [&](const FolderRound &r) {
        return r.key == key && r.folder.uid == folder.uid && !r.run.owner_before(run) && !run.owner_before(r.run);
    });
    if (it == round.end())
        it = round.insert(round.end(), FolderRound{run, peer, key, folder, {}});
    it->rows.emplace_back(subpath, status);
}

void TaskEngine::endFolderRound()
{
    std::vector<FolderRound> round;
    round.swap(folderRound());
    for (const FolderRound &r : round) {
        // This thread's own connection to the folder's database.
        std::shared_ptr<TaskDirFileDb> db = workerDirDb(r.key, r.folder);
        whileLive(r.run, [&] {
            std::string error;
            if (!db->ensureOpen())
                error = db->lastError();
            else if (!db->beginTransaction())
                error = db->errorMessage();
            for (size_t i = 0; error.empty() && i < r.rows.size(); ++i) {
                const TransferFileStatus &s = r.rows[i].second;
                if (!db->updateEntry(r.rows[i].first, s.status, s.offset, s.error))
                    error = db->lastError();
            }
            if (error.empty() && !db->setDesc(r.rows.back().first))
                error = db->lastError();
            if (error.empty() && !db->commit())
                error = db->errorMessage();
            if (std::any_of(r.rows.begin(), r.rows.end(), [](const auto &row) { return row.second.status < 0; }))
                noteFolderFailure();
            if (!error.empty()) {
                db->rollback();
                failFolder(*db, r.peer, r.key, r.folder, error);
                return;
            }
            reportFolder(*db, r.peer, r.key, r.folder);
        });
    }
}
