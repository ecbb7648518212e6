// The two queue threads: posted functions run one after another in posting
// order (QueueThread) or by due time (QueueThread2); cancelled, guarded and
// late functions are dropped.
#include "engine/QueueThread.h"
#include "engine/QueueThread2.h"

#include <QSemaphore>
#include <QtTest>

#include <atomic>
#include <numeric>
#include <set>
#include <stdexcept>
#include <thread>

class TestQueueThreads : public QObject {
    Q_OBJECT
private slots:
    void queueThreadRunsInOrderOnItsThread();
    void queueThreadSkipsGoneContextAndStops();
    void delayedJobsRunByDueTime();
    void cancelledAndFailingDelayedJobs();
};

void TestQueueThreads::queueThreadRunsInOrderOnItsThread()
{
    QueueThread queue;
    std::mutex mutex;
    std::vector<int> order;
    std::set<QThread *> threads;
    for (int i = 0; i < 200; ++i) {
        queue.run([&, i] {
            std::lock_guard<std::mutex> lock(mutex);
            order.push_back(i);
            threads.insert(QThread::currentThread());
        });
    }
    QTRY_COMPARE(
        [&] {
            std::lock_guard<std::mutex> l(mutex);
            return order.size();
        }(),
        size_t(200));
    std::vector<int> expected(200);
    std::iota(expected.begin(), expected.end(), 0);
    QCOMPARE(order, expected);
    QCOMPARE(threads.size(), size_t(1));
    QCOMPARE(*threads.begin(), queue.thread());
    QVERIFY(queue.thread() != QThread::currentThread());
}

void TestQueueThreads::queueThreadSkipsGoneContextAndStops()
{
    QueueThread queue;
    QSemaphore entered, gate;
    std::atomic<int> ran{0};
    queue.run([&] {
        entered.release();
        gate.acquire();
    });
    QVERIFY(entered.tryAcquire(1, 5000));
    auto *context = new QObject;
    QObject kept;
    queue.run([&] { ran += 1; }, context);
    queue.run([&] { ran += 10; }, &kept);
    delete context;
    gate.release();
    QTRY_COMPARE(ran.load(), 10);

    // Stopping waits for the running function and drops the queued ones.
    queue.run([&] {
        entered.release();
        gate.acquire();
        ran += 100;
    });
    queue.run([&] { ran += 1000; });
    QVERIFY(entered.tryAcquire(1, 5000));
    QVERIFY(!queue.isQuitting());
    std::thread releaser([&] {
        while (!queue.isQuitting())
            std::this_thread::yield();
        gate.release();
    });
    queue.stop();
    releaser.join();
    QVERIFY(queue.isQuitting());
    QCOMPARE(ran.load(), 110);
    queue.run([&] { ran += 1; });
    QTest::qWait(50);
    QCOMPARE(ran.load(), 110);
}

void TestQueueThreads::delayedJobsRunByDueTime()
{
    QueueThread2 queue;
    std::mutex mutex;
    std::vector<int> order;
    const auto record = [&](int v) {
        return [&, v] {
            std::lock_guard<std::mutex> lock(mutex);
            order.push_back(v);
        };
    };
    const auto flag = [] { return std::make_shared<QueueThread2::Handler>(); };
    queue.post(flag(), record(300), 300);
    queue.post(flag(), record(100), 100);
    for (int i = 0; i < 5; ++i)
        queue.post(flag(), record(i), 0); // due at once, in posting order
    QTRY_COMPARE(
        [&] {
            std::lock_guard<std::mutex> l(mutex);
            return order.size();
        }(),
        size_t(7));
    QCOMPARE(order, (std::vector<int>{0, 1, 2, 3, 4, 100, 300}));
}

void TestQueueThreads::cancelledAndFailingDelayedJobs()
{
    std::atomic<int> ran{0};
    {
        QueueThread2 queue;
        auto cancelled = std::make_shared<QueueThread2::Handler>();
        queue.post(
            cancelled, [&] { ran += 1; }, 100);
        queue.post(
            std::make_shared<QueueThread2::Handler>(), [] { throw std::runtime_error("boom"); }, 0);
        queue.post(
            std::make_shared<QueueThread2::Handler>(), [&] { ran += 10; }, 200);
        cancelled->cancelled = true;
        QTRY_COMPARE(ran.load(), 10);
        // Not yet due when the queue goes: never runs.
        queue.post(
            std::make_shared<QueueThread2::Handler>(), [&] { ran += 100; }, 60000);
    }
    QCOMPARE(ran.load(), 10);
}

QTEST_GUILESS_MAIN(TestQueueThreads)
#include "tst_queuethreads.moc"
