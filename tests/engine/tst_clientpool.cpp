// The worker pool: how many workers, the order jobs start in, and cancelling
// an owner's queued jobs and running requests (against a scripted TLS peer).
#include "../client/RawTlsServer.h"

#include "engine/LanferryHttpClientPool.h"

#include <QSemaphore>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>

namespace {

// Records the order in which jobs start.
class StartLog {
public:
    void add(int job)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_started.push_back(job);
    }
    std::vector<int> started()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_started;
    }

private:
    std::mutex m_mutex;
    std::vector<int> m_started;
};

RawTlsServer::Reply silent(const RawTlsServer::Request &, int)
{
    return RawTlsServer::Reply{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nab", true};
}

} // namespace

class TestClientPool : public QObject {
    Q_OBJECT
private slots:
    void jobsStartInSubmissionOrder();
    void workersGrowWithTheLimitOnly();
    void cancelDropsQueuedJobsAndAbortsRequests();
    void cancelStopsAJobBetweenRequests();
    void failingJobDoesNotStopTheWorker();
    void shutdownAbortsAndDropsEverything();
};

void TestClientPool::jobsStartInSubmissionOrder()
{
    LanferryHttpClientPool pool;
    LanferryHttpClientPool::Handler owner;
    owner.reset();
    StartLog log;
    QSemaphore gates[5];
    for (int i = 0; i < 5; ++i) {
        pool.submit(
            owner,
            [&log, &gates, i](LanferryHttpClient *) {
                log.add(i);
                gates[i].acquire();
            },
            2);
    }
    QCOMPARE(pool.workerCount(), size_t(2));
    QTRY_COMPARE(log.started().size(), size_t(2));
    std::vector<int> first = log.started();
    std::sort(first.begin(), first.end());
    QCOMPARE(first, (std::vector<int>{0, 1}));
    // Each finished job lets exactly the next queued one start.
    for (int i = 0; i < 3; ++i) {
        gates[i].release();
        QTRY_COMPARE(log.started().size(), size_t(3 + i));
        QCOMPARE(log.started().back(), 2 + i);
    }
    for (int i = 3; i < 5; ++i)
        gates[i].release();
    pool.shutdown();
    QCOMPARE(log.started().size(), size_t(5));
}

void TestClientPool::workersGrowWithTheLimitOnly()
{
    LanferryHttpClientPool pool;
    LanferryHttpClientPool::Handler owner;
    owner.reset();
    const auto nothing = [](LanferryHttpClient *) {};
    pool.submit(owner, nothing, 1);
    pool.submit(owner, nothing, 1);
    QCOMPARE(pool.workerCount(), size_t(1));
    const std::vector<std::pair<int, size_t>> steps{{3, 2}, {3, 3}, {3, 3}, {1, 3}};
    for (const auto &[limit, workers] : steps) {
        pool.submit(owner, nothing, limit);
        QCOMPARE(pool.workerCount(), workers);
    }
}

void TestClientPool::cancelDropsQueuedJobsAndAbortsRequests()
{
    RawTlsServer raw(silent);
    const PeerEndpoint peer{"127.0.0.1", raw.port(), ""};
    LanferryHttpClientPool pool;
    LanferryHttpClientPool::Handler task, other;
    task.reset();
    other.reset();

    std::promise<HttpResponse> inFlight;
    std::atomic<bool> queuedRan{false}, otherRan{false};
    pool.submit(
        task,
        [&](LanferryHttpClient *client) { inFlight.set_value(client->fileRead(peer, "t1", "f1", std::string(), 0)); },
        1);
    pool.submit(
        task, [&](LanferryHttpClient *) { queuedRan = true; }, 1);
    pool.submit(
        other, [&](LanferryHttpClient *) { otherRan = true; }, 1);

    QVERIFY(raw.waitForRequests(1));
    pool.cancel(task);
    QVERIFY(task.empty());
    auto result = inFlight.get_future();
    QCOMPARE(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const HttpResponse res = result.get();
    QCOMPARE(res.status, -1);
    QVERIFY2(res.body.rfind("CURL: ", 0) == 0, res.body.c_str());
    QTRY_VERIFY(otherRan);
    pool.shutdown();
    QVERIFY(!queuedRan);

    // Cancelling an owner that is not running changes nothing.
    pool.cancel(task);
    QVERIFY(task.empty());
}

void TestClientPool::cancelStopsAJobBetweenRequests()
{
    // A job of many quick requests: wherever the cancel lands, between two
    // requests or during one, the job's next request fails.
    RawTlsServer raw([](const RawTlsServer::Request &, int) {
        return RawTlsServer::Reply{RawTlsServer::answer("HTTP/1.1 200 OK", "x"), false};
    });
    const PeerEndpoint peer{"127.0.0.1", raw.port(), ""};
    LanferryHttpClientPool pool;
    LanferryHttpClientPool::Handler task;
    task.reset();
    std::atomic<int> answered{0};
    std::promise<int> lastStatus;
    pool.submit(
        task,
        [&](LanferryHttpClient *client) {
            for (int i = 0; i < 100000; ++i) {
                const int status = client->taskRecvStart(peer, "t1").status;
                if (status != 200) {
                    lastStatus.set_value(status);
                    return;
                }
                ++answered;
            }
            lastStatus.set_value(200);
        },
        1);
    QTRY_VERIFY(answered >= 3);
    pool.cancel(task);
    auto result = lastStatus.get_future();
    QCOMPARE(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    QCOMPARE(result.get(), -1);

    // The worker serves the next owner's requests normally.
    LanferryHttpClientPool::Handler next;
    next.reset();
    std::promise<int> nextStatus;
    pool.submit(
        next, [&](LanferryHttpClient *client) { nextStatus.set_value(client->taskRecvStart(peer, "t2").status); }, 1);
    QCOMPARE(nextStatus.get_future().get(), 200);
    QCOMPARE(pool.workerCount(), size_t(1));
}

void TestClientPool::failingJobDoesNotStopTheWorker()
{
    LanferryHttpClientPool pool;
    LanferryHttpClientPool::Handler owner;
    owner.reset();
    std::atomic<bool> ran{false};
    pool.submit(
        owner, [](LanferryHttpClient *) { throw std::runtime_error("boom"); }, 1);
    pool.submit(
        owner, [&](LanferryHttpClient *) { ran = true; }, 1);
    QTRY_VERIFY(ran);
}

void TestClientPool::shutdownAbortsAndDropsEverything()
{
    RawTlsServer raw(silent);
    const PeerEndpoint peer{"127.0.0.1", raw.port(), ""};
    LanferryHttpClientPool pool;
    LanferryHttpClientPool::Handler owner;
    owner.reset();
    std::atomic<int> status{0};
    std::atomic<bool> queuedRan{false};
    pool.submit(
        owner, [&](LanferryHttpClient *c) { status = c->fileRead(peer, "t", "f", "", 0).status; }, 1);
    pool.submit(
        owner, [&](LanferryHttpClient *) { queuedRan = true; }, 1);
    QVERIFY(raw.waitForRequests(1));
    pool.shutdown(); // returns only when the worker has ended
    QCOMPARE(status.load(), -1);
    QVERIFY(!queuedRan);
    QCOMPARE(pool.workerCount(), size_t(0));
    pool.submit(
        owner, [&](LanferryHttpClient *) { queuedRan = true; }, 1);
    QCOMPARE(pool.workerCount(), size_t(0));
}

QTEST_GUILESS_MAIN(TestClientPool)
#include "tst_clientpool.moc"
