// The status pipeline: batches for the screen hold each file's latest status
// once per interval; committed statuses reach the store and the sender in
// order, final ones are never overwritten, and the sender sees "remote" from
// its own side.
#include "TempDataHome.h"
#include "TestServer.h"

#include "engine/FileStatusCommitter.h"
#include "store/TaskStore.h"

#include <QtTest>

#include <mutex>

namespace {

TransferFileStatus status(int32_t st, int64_t offset, bool remote = false, const std::string &error = {})
{
    TransferFileStatus s;
    s.status = st;
    s.offset = offset;
    s.remote = remote;
    s.error = error;
    return s;
}

// What the batch callback received, in order.
class Batches {
public:
    TaskStatusUpdater::BatchCallback callback()
    {
        return [this](const TaskKey &key, const TaskStatusUpdater::FileStatusMap &statuses) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_calls.emplace_back(key, statuses);
        };
    }
    std::vector<std::pair<TaskKey, TaskStatusUpdater::FileStatusMap>> calls()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

private:
    std::mutex m_mutex;
    std::vector<std::pair<TaskKey, TaskStatusUpdater::FileStatusMap>> m_calls;
};

} // namespace

class TestStatusPipeline : public QObject {
    Q_OBJECT
private slots:
    void updatesAreCoalescedPerInterval();
    void commitsReachStoreScreenAndSender();
};

void TestStatusPipeline::updatesAreCoalescedPerInterval()
{
    TaskStatusUpdater updater;
    Batches batches;
    updater.start(batches.callback(), 1000);
    const TaskKey b{"b", false}, a{"a", true};
    // All within the first interval: one batch, latest status per file, tasks in key order.
    updater.update(b, "f1", status(0, 1));
    updater.update(b, "f1", status(0, 2));
    updater.update(a, "x", status(0, 9));
    updater.update(b, "f2", status(0, 5));
    updater.update(b, "f1", status(1, 3));
    QTRY_COMPARE_WITH_TIMEOUT(batches.calls().size(), size_t(2), 5000);
    auto calls = batches.calls();
    QCOMPARE(calls[0].first, a);
    QCOMPARE(calls[1].first, b);
    QCOMPARE(calls[1].second.size(), size_t(2));
    QCOMPARE(calls[1].second.at("f1").status, 1);
    QCOMPARE(calls[1].second.at("f1").offset, int64_t(3));
    QCOMPARE(calls[1].second.at("f2").offset, int64_t(5));

    // A later update comes in a batch of its own; nothing is handed over twice.
    updater.update(b, "f2", status(-1, 6, true, "Gone."));
    QTRY_COMPARE_WITH_TIMEOUT(batches.calls().size(), size_t(3), 5000);
    QTest::qWait(100);
    calls = batches.calls();
    QCOMPARE(calls.size(), size_t(3));
    QCOMPARE(calls[2].second.size(), size_t(1));
    QCOMPARE(calls[2].second.at("f2").error, std::string("Gone."));
}

void TestStatusPipeline::commitsReachStoreScreenAndSender()
{
    TempDataHome home;
    TestServer sender;
    QVERIFY(sender.start("pw"));

    // The receive task on this side; the sender's reports go to the test server.
    TransferTask task = newOutgoingTask("127.0.0.1", sender.port, "peer", "Peer", "win");
    task.from_me = 0;
    std::vector<TransferFile> files{newTransferFile(task.uid, "", "/x/one", "", "one", "text/plain", 30),
                                    newTransferFile(task.uid, "", "/x/two", "", "two", "text/plain", 30)};
    TaskStore store(false);
    QVERIFY(store.createTask(task, files));
    const TaskKey key{task.uid, false};
    const std::string one = files[0].uid, two = files[1].uid;
    const PeerEndpoint peer{"127.0.0.1", sender.port, "pw"};

    Batches batches;
    auto owned = std::make_unique<taskmgr::FileStatusCommitter>();
    taskmgr::FileStatusCommitter &committer = *owned;
    committer.start(batches.callback(), 50);

    committer.commit(peer, key, one, status(0, 10));
    committer.commit(peer, key, one, status(1, 30));
    committer.commit(peer, key, one, status(0, 5)); // late: dropped
    committer.commit(peer, key, two, status(-1, 7, true, "The file does not exist."));
    QTRY_COMPARE(sender.calls().progress.size(), size_t(3));

    auto reports = sender.calls().progress;
    QCOMPARE(std::get<0>(reports[0]), task.uid);
    QCOMPARE(std::get<1>(reports[0]), one);
    QCOMPARE(std::get<2>(reports[0]).offset, int64_t(10));
    QCOMPARE(std::get<2>(reports[0]).remote, true); // our "not the sender's fault" is its "from the other side"
    QCOMPARE(std::get<2>(reports[1]).status, 1);
    QCOMPARE(std::get<1>(reports[2]), two);
    QCOMPARE(std::get<2>(reports[2]).remote, false);
    QCOMPARE(std::get<2>(reports[2]).error, std::string("The file does not exist."));

    TransferFile stored;
    QCOMPARE(store.readTaskFile(task.uid, one, &stored), 1);
    QCOMPARE(stored.status.status, 1);
    QCOMPARE(stored.status.offset, int64_t(30));
    QCOMPARE(store.readTaskFile(task.uid, two, &stored), 1);
    QCOMPARE(stored.status.status, -1);
    QCOMPARE(stored.status.remote, true);

    const auto screenHasFinalStatuses = [&] {
        std::map<std::string, TransferFileStatus> latest;
        for (const auto &call : batches.calls())
            for (const auto &[fid, st] : call.second)
                latest[fid] = st;
        return latest.size() == 2 && latest[one].status == 1 && latest[two].status == -1;
    };
    QTRY_VERIFY(screenHasFinalStatuses());

    // Once the task starts anew, the files' statuses are accepted again.
    committer.forget(key);
    committer.commit(peer, key, one, status(0, 0));
    QTRY_COMPARE(sender.calls().progress.size(), size_t(4));
    QCOMPARE(store.readTaskFile(task.uid, one, &stored), 1);
    QCOMPARE(stored.status.status, 0);

    // No address: stored and shown, not reported.
    committer.commit(PeerEndpoint{}, key, two, status(0, 1));
    committer.commit(peer, key, two, status(0, 2));
    QTRY_COMPARE(sender.calls().progress.size(), size_t(5));
    QCOMPARE(std::get<2>(sender.calls().progress[4]).offset, int64_t(2));
    owned.reset(); // closes its kept-alive connection, which the server would wait for
    sender.server.stop();
}

QTEST_GUILESS_MAIN(TestStatusPipeline)
#include "tst_statuspipeline.moc"
