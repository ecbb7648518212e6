// Finished files are recorded only after a sync, in the order they came, and
// many files share one sync.
#include "engine/DurableBatch.h"

#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <thread>

using taskmgr::DurableBatch;

class TestDurableBatch : public QObject {
    Q_OBJECT
private slots:
    void manyFilesShareOneSync();
    void unusableFolderIsTold();
    void stopRecordsWhatIsPending();
};

void TestDurableBatch::manyFilesShareOneSync()
{
    QTemporaryDir dir;
    DurableBatch batch;
    std::mutex mutex;
    std::vector<std::pair<int, int>> recorded; // (thread, sequence)
    // How many records each round's end saw, and on which thread.
    std::vector<size_t> roundEnds;
    std::thread::id recordThread, roundEndThread;
    batch.setRoundEnd([&] {
        std::lock_guard<std::mutex> lock(mutex);
        roundEnds.push_back(recorded.size());
        roundEndThread = std::this_thread::get_id();
    });
    // The first record holds the batch's thread while 300 more arrive from three threads.
    QSemaphore started, release;
    batch.add(dir.path().toStdString(), [&](int) {
        recordThread = std::this_thread::get_id();
        started.release();
        release.acquire();
    });
    QVERIFY(started.tryAcquire(1, 10000));
    std::vector<int> errors;
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                batch.add(dir.path().toStdString(), [&, t, i](int error) {
                    std::lock_guard<std::mutex> lock(mutex);
                    recorded.emplace_back(t, i);
                    errors.push_back(error);
                });
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    release.release();
    batch.flush();

    QCOMPARE(recorded.size(), size_t(300));
    QVERIFY(std::all_of(errors.begin(), errors.end(), [](int e) { return e == 0; }));
    // Each thread's files in the order they came.
    std::vector<int> next(3, 0);
    for (const auto &r : recorded)
        QCOMPARE(r.second, next[static_cast<size_t>(r.first)]++);
    // One sync for the first file, one for the other 300.
    QCOMPARE(batch.syncCount(), 2L);
    QCOMPARE(roundEnds, (std::vector<size_t>{0, 300}));
    QVERIFY(roundEndThread == recordThread);
}

void TestDurableBatch::unusableFolderIsTold()
{
    DurableBatch batch;
    int told = -1;
    batch.add("/nonexistent/folder", [&](int error) { told = error; });
    batch.flush();
    QCOMPARE(told, ENOENT);
}

void TestDurableBatch::stopRecordsWhatIsPending()
{
    QTemporaryDir dir;
    DurableBatch batch;
    QSemaphore release;
    int recorded = 0;
    batch.add(dir.path().toStdString(), [&](int) { release.acquire(); });
    for (int i = 0; i < 10; ++i)
        batch.add(dir.path().toStdString(), [&](int error) { recorded += error == 0; });
    release.release();
    batch.stop();
    QCOMPARE(recorded, 10);
    // Once stopped, a file is synced and recorded at once, its round ended with it.
    int ends = 0;
    batch.setRoundEnd([&] { ends += recorded == 11; });
    batch.add(dir.path().toStdString(), [&](int error) { recorded += error == 0; });
    QCOMPARE(recorded, 11);
    QCOMPARE(ends, 1);
}

QTEST_GUILESS_MAIN(TestDurableBatch)
#include "tst_durablebatch.moc"
