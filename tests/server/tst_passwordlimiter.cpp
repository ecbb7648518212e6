// Password guessing is slowed per address and over all addresses together.
#include "server/PasswordAttemptLimiter.h"

#include <QtTest>

using Clock = PasswordAttemptLimiter::Clock;
using std::chrono::seconds;

class TestPasswordLimiter : public QObject {
    Q_OBJECT
private slots:
    void oneAddressIsBlockedForAWhile();
    void manyAddressesCannotMultiplyTheGuesses();
};

void TestPasswordLimiter::oneAddressIsBlockedForAWhile()
{
    PasswordAttemptLimiter limiter(3, seconds(60), seconds(60), 100);
    const Clock::time_point t0 = Clock::now();
    for (int i = 0; i < 3; ++i) {
        QVERIFY(!limiter.isBlocked("10.0.0.1", t0));
        limiter.recordFailure("10.0.0.1", t0);
    }
    QVERIFY(limiter.isBlocked("10.0.0.1", t0 + seconds(1)));
    QVERIFY(!limiter.isBlocked("10.0.0.2", t0 + seconds(1))); // the others go on
    QVERIFY(!limiter.isBlocked("10.0.0.1", t0 + seconds(61)));
}

void TestPasswordLimiter::manyAddressesCannotMultiplyTheGuesses()
{
    PasswordAttemptLimiter limiter(20, seconds(60), seconds(60), 100);
    const Clock::time_point t0 = Clock::now();
    // One wrong password each from 100 addresses: none of them reaches its own limit.
    for (int i = 0; i < 100; ++i) {
        const std::string address = "10.0.1." + std::to_string(i);
        QVERIFY2(!limiter.isBlocked(address, t0), address.c_str());
        limiter.recordFailure(address, t0);
    }
    // Now everybody waits, a newcomer too, until the oldest failures leave the minute.
    QVERIFY(limiter.isBlocked("10.0.1.0", t0 + seconds(30)));
    QVERIFY(limiter.isBlocked("10.0.2.1", t0 + seconds(30)));
    QVERIFY(!limiter.isBlocked("10.0.2.1", t0 + seconds(60)));
}

QTEST_GUILESS_MAIN(TestPasswordLimiter)
#include "tst_passwordlimiter.moc"
