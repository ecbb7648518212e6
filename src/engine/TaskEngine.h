// Runs the tasks of this device: starts and stops them, pulls every unfinished
// file or folder of a received task from the sending device on the worker
// pool, and turns the statuses that come back into each task's counters and
// its end. Lives on the owner's (user-interface) thread; workers hand their
// results back to that thread as posted functions.
#pragma once

#include "DurableBatch.h"
#include "FileStatusCommitter.h"
#include "LanferryHttpClientPool.h"
#include "QueueThread.h"

#include "core/Invoker.h"
#include "discovery/LanferryUdpServer.h"
#include "store/TaskDirFileDb.h"
#include "store/TransferRecords.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The runtime state of one listed task.
struct TaskEntry {
    // The task as stored; task.status is its summary (the counters).
    TransferTask task;
    // The task's files in display order, once loaded.
    std::vector<TransferFile> files;
    bool filesLoaded = false;
    // Non-empty while the task runs; all its jobs are queued under it.
    LanferryHttpClientPool::Handler run;
    // Alive exactly while run is: jobs hold weak references to it, so that
    // nothing a stopped run still produces reaches the store or the counters.
    struct RunToken {};
    std::shared_ptr<RunToken> token;

    bool running() const { return !run.empty(); }
    int fileIndex(const std::string &fid) const;
};

class TaskEngine {
public:
    // The devices discovery currently knows with the given uid.
    using CandidateList = std::function<std::vector<LanferryUdpServer::ServerItem>(const std::string &uid)>;

    // What changed, told on the owner's thread after the change was made.
    struct Events {
        std::function<void()> tasksReset;                 // the whole list was loaded again
        std::function<void(const TaskKey &)> taskAdded;   // a task was listed
        std::function<void(const TaskKey &)> taskRemoved; // its entry is gone already
        std::function<void(const TaskKey &, int count)> filesLoaded;
        std::function<void(const TaskKey &)> taskChanged; // the task's own row
        std::function<void(const TaskKey &, int index)> fileChanged;
        std::function<void(const TaskKey &)> filesChanged; // every file row (e.g. sorted again)
    };

    // Starts the status batching at once; the task list is loaded by reloadTasks().
    explicit TaskEngine(Events events, int batchIntervalMs = 1000);
    // Stops the queue thread, the workers (aborting their requests) and the
    // status pipeline, in that order; their pending work is dropped.
    ~TaskEngine();
    TaskEngine(const TaskEngine &) = delete;
    TaskEngine &operator=(const TaskEngine &) = delete;

    // Any thread. Until set, no device is found through discovery.
    void setCandidateList(CandidateList candidates);
    // Told on the owner's thread when the first task starts running (true)
    // and when the last one stops (false), sending and receiving alike.
    void setBusyListener(std::function<void(bool busy)> listener);
    bool busy() const { return m_runningCount > 0; }
    // Told on the owner's thread when a running task ends because every one
    // of its files is done or failed (not when it is stopped).
    void setTaskEndListener(std::function<void(const TaskKey &, const TaskEntry &)> listener);

    const std::map<TaskKey, TaskEntry> &entries() const { return m_entries; }
    const TaskEntry *entry(const TaskKey &key) const;

    // Reads every sent and received task on the queue thread and lists them
    // (not running, files not loaded). Tasks already listed keep their state.
    void reloadTasks();
    // Re-reads one task from its store: unlisted when it cannot be read,
    // listed when new, else its record and (when not running) its counters replaced.
    void refreshTask(const TaskKey &key);
    // Reads the task's files once, in display order.
    void loadTaskFiles(const TaskKey &key);
    // Starts or restarts a task; nothing when it is not listed or already running.
    void startTask(const TaskKey &key);
    // Stops a task: its queued jobs are dropped, its running requests aborted,
    // and the sending device of a received task is told.
    void stopTask(const TaskKey &key);
    // Drops the task's jobs without telling anyone (before it is removed).
    void cancelTask(const TaskKey &key);
    // Unlists a task (after its removal from the store).
    void removeEntry(const TaskKey &key);

    // Any thread: a status of a file of a sent task, reported by the receiver.
    void updateFileStatus(const TaskKey &key, const std::string &fid, const TransferFileStatus &status);
    // Applies one batch of file statuses to a task and ends it when all its files are final.
    void applyBatch(const TaskKey &key, const std::map<std::string, TransferFileStatus> &statuses);

    // Queue the job of one plain file, one folder level (row empty: the top),
    // or one file inside a folder, under the task's run. Nothing when the task
    // is not running.
    void startRecvFile(const TaskKey &key, const LanferryUdpServer::ServerItem &peer, const TransferFile &file);
    void startRecvDir(const TaskKey &key, const LanferryUdpServer::ServerItem &peer, const TransferFile &folder,
                      const std::optional<DirTaskEntry> &row);

    // The sending device of a task: the stored address when the device there
    // answers with the task's device id, else the first candidate with that id
    // that answers. False (and *peer untouched) when none does.
    static bool findPeer(LanferryHttpClient &client, const TransferTask &task, const CandidateList &candidates,
                         LanferryUdpServer::ServerItem *peer);
    static PeerEndpoint endpointOf(const LanferryUdpServer::ServerItem &peer);

    // Ordered background work: store-wide loads, removals, stop notices.
    QueueThread &queue() { return m_queue; }
    // Any thread: runs fn on the owner's thread, in posting order.
    void post(std::function<void()> fn);

    // Files sorted for display: failed first, then waiting, then done; by name within.
    static void sortFiles(std::vector<TransferFile> &files);

    // Where a file (or folder) of a received task goes: its save folder (the
    // task's root when its save path lies below it, else the save path's own
    // folder) and the path below that.
    struct Placement {
        std::string folder;
        std::string relative;
    };
    static Placement placementOf(const TransferTask &task, const TransferFile &file);

    // Returns once every finished file handed to the durability batch so far
    // has its status recorded.
    void flushFinished() { m_durable.flush(); }

private:
    using WeakRun = std::weak_ptr<TaskEntry::RunToken>;
    // What every file job of one folder shares: one copy for all its queued
    // jobs, which may be 100,000. Null when the task is not running.
    struct FolderJobs {
        TaskKey key;
        WeakRun run;
        PeerEndpoint peer;
        TransferFile folder;
        Placement place;
    };
    std::shared_ptr<const FolderJobs> folderJobs(const TaskKey &key, const LanferryUdpServer::ServerItem &peer,
                                                 const TransferFile &folder);
    void startRecvDirFile(const std::shared_ptr<const FolderJobs> &jobs, const DirTaskEntry &row, int64_t offset);
    // Queues the jobs of a folder's file rows as they are added: the files
    // that come whole in one answer in batch jobs, whose requests overlap
    // (a small file costs little more than its round trip), the others one
    // job each. The last batch is queued when the queue goes.
    class DirFileQueue {
    public:
        DirFileQueue(TaskEngine &engine, std::shared_ptr<const FolderJobs> jobs)
            : m_engine(engine), m_jobs(std::move(jobs))
        {
        }
        ~DirFileQueue() { flush(); }
        DirFileQueue(const DirFileQueue &) = delete;
        DirFileQueue &operator=(const DirFileQueue &) = delete;
        // The row's file, resumed at offset.
        void add(const DirTaskEntry &row, int64_t offset);

    private:
        void flush();
        TaskEngine &m_engine;
        std::shared_ptr<const FolderJobs> m_jobs;
        std::vector<DirTaskEntry> m_batch;
        int m_inFlight = -1; // requests at once in a batch; read at the first row
    };

    TaskEntry *findEntry(const TaskKey &key);
    // The entry when it is still running the run that run refers to.
    TaskEntry *liveEntry(const TaskKey &key, const WeakRun &run);
    void setRunning(TaskEntry &entry, bool running);
    void launch(const TaskKey &key, const LanferryUdpServer::ServerItem &peer);
    void recount(TaskEntry &entry);
    void finishIfDone(const TaskKey &key, TaskEntry &entry);
    void submit(TaskEntry &entry, LanferryHttpClientPool::Job job);

    // Runs fn (which may commit or write the folder database) only while run
    // is live; a stop or restart waits for it, so nothing of an ended run
    // lands after the next run started.
    bool whileLive(const WeakRun &run, const std::function<void()> &fn);
    void commit(const WeakRun &run, const PeerEndpoint &peer, const TaskKey &key, const std::string &fid,
                const TransferFileStatus &status);

    // Jobs (pool workers).
    void startJob(LanferryHttpClient *client, const TaskKey &key, const WeakRun &run, const TransferTask &task,
                  const CandidateList &candidates);
    void fileJob(LanferryHttpClient *client, const TaskKey &key, const WeakRun &run, const PeerEndpoint &peer,
                 const TransferFile &file, const Placement &place);
    void dirJob(LanferryHttpClient *client, const TaskKey &key, const WeakRun &run,
                const LanferryUdpServer::ServerItem &peer, const TransferFile &folder, const Placement &place,
                const std::string &subpath);
    void dirFileJob(LanferryHttpClient *client, const TaskKey &key, const WeakRun &run, const PeerEndpoint &peer,
                    const TransferFile &folder, const Placement &place, const std::string &subpath, int64_t offset,
                    int64_t total);
    // Files of a folder, each fetched whole from its start, inFlight at once.
    void dirFilesJob(LanferryHttpClient *client, const FolderJobs &jobs, const std::vector<DirTaskEntry> &rows,
                     size_t inFlight);
    // A folder's file received (status 1) or failed: its row is written now
    // when it failed, else once the file is on the disk.
    void dirFileDone(TaskDirFileDb &db, const WeakRun &run, const PeerEndpoint &peer, const TaskKey &key,
                     const TransferFile &folder, const Placement &place, const std::string &subpath,
                     const TransferFileStatus &result);
    // Writes the state of the file at subpath into its folder's database and
    // reports the folder when due. Called with the run live.
    void updateFolderRow(TaskDirFileDb &db, const PeerEndpoint &peer, const TaskKey &key, const TransferFile &folder,
                         const std::string &subpath, const TransferFileStatus &status);
    // Finished files of folders wait here for the end of their sync round
    // (on the batch's thread), then each folder's rows are written in one
    // transaction: one commit for a round's hundreds of small files.
    struct FolderRound {
        WeakRun run;
        PeerEndpoint peer;
        TaskKey key;
        TransferFile folder;
        std::vector<std::pair<std::string, TransferFileStatus>> rows;
    };
    static std::vector<FolderRound> &folderRound();
    void queueFolderRow(const WeakRun &run, const PeerEndpoint &peer, const TaskKey &key, const TransferFile &folder,
                        const std::string &subpath, const TransferFileStatus &status);
    void endFolderRound();
    // Reports the folder's state when it is complete, failed, or last reported
    // over 2 seconds ago. Called with the run live.
    void reportFolder(TaskDirFileDb &db, const PeerEndpoint &peer, const TaskKey &key, const TransferFile &folder);
    void failFolder(TaskDirFileDb &db, const PeerEndpoint &peer, const TaskKey &key, const TransferFile &folder,
                    const std::string &error);

    // The folder's database, or null (after reporting an open failure) when
    // the folder cannot be worked on now.
    std::shared_ptr<TaskDirFileDb> openFolderDb(const TaskKey &key, const WeakRun &run, const PeerEndpoint &peer,
                                                const TransferFile &folder);

    // Only one job at a time writes a given destination file.
    class PathGuard;
    void acquirePath(const std::string &path);
    void releasePath(const std::string &path);

    Events m_events;
    std::map<TaskKey, TaskEntry> m_entries;
    int m_runningCount = 0;
    std::function<void(bool)> m_busyListener;
    std::function<void(const TaskKey &, const TaskEntry &)> m_endListener;

    std::mutex m_candidatesMutex;
    CandidateList m_candidates;

    std::mutex m_runMutex;

    std::mutex m_pathMutex;
    std::condition_variable m_pathFreed;
    std::set<std::string> m_busyPaths;

    std::unique_ptr<Invoker> m_invoker;
    QueueThread m_queue;
    taskmgr::FileStatusCommitter m_committer;
    taskmgr::DurableBatch m_durable;
    LanferryHttpClientPool m_pool;
};
