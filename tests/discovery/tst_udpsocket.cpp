#include "FreeUdpPort.h"
#include "discovery/UdpSocket.h"

#include <QtTest>

#include <cerrno>
#include <future>

class TstUdpSocket : public QObject {
    Q_OBJECT
private slots:
    void receivesDatagramZeroFilled();
    void emptyAndOversizedDatagrams();
    void interruptWakesBlockedReceive();
    void errorTexts();
};

void TstUdpSocket::receivesDatagramZeroFilled()
{
    const int port = freeUdpPort();
    UdpSocket receiver, sender;
    QVERIFY2(receiver.bind(port, "127.0.0.1"), receiver.lastError().c_str());
    QVERIFY(sender.bind(0, "127.0.0.2"));
    QCOMPARE(sender.sendTo("127.0.0.1", port, "hello"), 5);

    std::string data, from;
    QCOMPARE(receiver.receiveFrom(data, from, 16), 5);
    QCOMPARE(data, std::string("hello\0\0\0\0\0\0\0\0\0\0\0", 16));
    QCOMPARE(from, std::string("127.0.0.2"));
}

// Neither must look like the end of the socket: an empty datagram answers 0, an oversized one is
// consumed and reported as an error that concerns that datagram alone.
void TstUdpSocket::emptyAndOversizedDatagrams()
{
    const int port = freeUdpPort();
    UdpSocket receiver, sender;
    QVERIFY(receiver.bind(port, "127.0.0.1"));
    QCOMPARE(sender.sendTo("127.0.0.1", port, std::string()), 0);
    QCOMPARE(sender.sendTo("127.0.0.1", port, std::string(2000, 'x')), 2000);
    QCOMPARE(sender.sendTo("127.0.0.1", port, "after"), 5);

    std::string data, from;
    QCOMPARE(receiver.receiveFrom(data, from, 1472), 0);
    QCOMPARE(data.size(), size_t(1472));
    QCOMPARE(receiver.receiveFrom(data, from, 1472), -1);
    QCOMPARE(receiver.errorNumber(), EMSGSIZE);
    QVERIFY(UdpSocket::isPerDatagramError(receiver.errorNumber()));
    QCOMPARE(receiver.receiveFrom(data, from, 1472), 5);
    QCOMPARE(data.c_str(), "after");
}

void TstUdpSocket::interruptWakesBlockedReceive()
{
    UdpSocket receiver;
    QVERIFY(receiver.bind(freeUdpPort(), "127.0.0.1"));
    auto result = std::async(std::launch::async, [&receiver] {
        std::string data, from;
        return receiver.receiveFrom(data, from, 1472);
    });
    QCOMPARE(result.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    receiver.interrupt();
    QCOMPARE(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    QCOMPARE(result.get(), -1);
    QCOMPARE(receiver.errorNumber(), ECANCELED);
    QVERIFY(!UdpSocket::isPerDatagramError(receiver.errorNumber()));

    // Still interrupted until closed; a new bind starts afresh.
    std::string data, from;
    QCOMPARE(receiver.receiveFrom(data, from, 1472), -1);
    const int port = freeUdpPort();
    QVERIFY(receiver.bind(port, "127.0.0.1"));
    UdpSocket sender;
    QCOMPARE(sender.sendTo("127.0.0.1", port, "x"), 1);
    QCOMPARE(receiver.receiveFrom(data, from, 1472), 1);
}

void TstUdpSocket::errorTexts()
{
    UdpSocket holder, second, closed;
    const int port = freeUdpPort();
    QVERIFY(holder.bind(port));
    QVERIFY(!second.bind(port));
    QCOMPARE(second.lastError(), "socket bind failed, err:" + std::to_string(EADDRINUSE) + ".");

    std::string data, from;
    QCOMPARE(closed.receiveFrom(data, from, 1472), -1);
    QCOMPARE(closed.lastError(), std::string("invalid socket."));

    QCOMPARE(closed.sendTo("not an address", port, "x"), -1);
    QCOMPARE(closed.lastError(), "sentto failed, err:" + std::to_string(EINVAL) + ".");
    // Sending to a broadcast address needs the permission.
    QCOMPARE(closed.sendTo("255.255.255.255", port, "x"), -1);
    QCOMPARE(closed.lastError(), "sentto failed, err:" + std::to_string(EACCES) + ".");
    QVERIFY(closed.setBroadcast(true));
}

QTEST_GUILESS_MAIN(TstUdpSocket)
#include "tst_udpsocket.moc"
