// Functions posted from worker threads run on the application's thread, in the
// order each thread posted them, never inline, and not after the invoker is gone.
#include "core/Invoker.h"

#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

class TestInvoker : public QObject {
    Q_OBJECT
private slots:
    void postsFromManyThreadsKeepEachThreadsOrder();
    void neverRunsInline();
    void madeOnWorkerLivesOnApplicationThread();
    void destroyedInvokerDropsQueuedFunctions();
};

void TestInvoker::postsFromManyThreadsKeepEachThreadsOrder()
{
    Invoker invoker;
    constexpr int kThreads = 4;
    constexpr int kPosts = 2000;
    std::vector<std::vector<int>> seen(kThreads); // touched on the application thread only
    std::atomic<int> offThread{0};
    QThread *const appThread = QThread::currentThread();

    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < kPosts; ++i) {
                invoker.post([&, t, i] {
                    if (QThread::currentThread() != appThread)
                        ++offThread;
                    seen[t].push_back(i);
                });
            }
        });
    }
    for (std::thread &w : workers)
        w.join();
    QTRY_VERIFY([&] {
        for (const auto &s : seen)
            if (int(s.size()) != kPosts)
                return false;
        return true;
    }());
    QCOMPARE(offThread.load(), 0);
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kPosts; ++i)
            QCOMPARE(seen[t][i], i);
}

void TestInvoker::neverRunsInline()
{
    Invoker invoker;
    bool ran = false;
    invoker.post([&] { ran = true; });
    invoker.post(nullptr); // ignored
    QVERIFY(!ran);
    QTRY_VERIFY(ran);
}

void TestInvoker::madeOnWorkerLivesOnApplicationThread()
{
    Invoker *invoker = nullptr;
    std::thread([&] { invoker = new Invoker; }).join();
    QCOMPARE(invoker->thread(), QCoreApplication::instance()->thread());
    QThread *ranOn = nullptr;
    std::thread([&] { invoker->post([&] { ranOn = QThread::currentThread(); }); }).join();
    QTRY_COMPARE(ranOn, QThread::currentThread());
    delete invoker;
}

void TestInvoker::destroyedInvokerDropsQueuedFunctions()
{
    bool ran = false;
    auto *invoker = new Invoker;
    std::thread([&] { invoker->post([&] { ran = true; }); }).join();
    delete invoker;
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    QVERIFY(!ran);
}

QTEST_GUILESS_MAIN(TestInvoker)
#include "tst_invoker.moc"
