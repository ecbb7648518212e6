// The running instance's side of "a second start shows the window": only one
// exact request line raises, the private folder and a crashed holder's socket
// are dealt with, and raising restores a minimised window.
#include "app/RaiseListener.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

class TestRaiseListener : public QObject {
    Q_OBJECT
private slots:
    void askRaises();
    void onlyTheRequestLineRaises_data();
    void onlyTheRequestLineRaises();
    void folderIsPrivateAndStaleSocketReplaced();
    void askWithoutListenerFails();
    void raiseRestoresMinimisedWindow();
};

void TestRaiseListener::askRaises()
{
    QTemporaryDir dir;
    const std::string path = RaiseListener::socketPath(dir.path().toStdString());
    RaiseListener listener;
    QVERIFY2(listener.listen(path), qPrintable(listener.lastError()));
    QSignalSpy raised(&listener, &RaiseListener::raiseRequested);
    QVERIFY(RaiseListener::ask(path));
    QVERIFY(raised.wait(5000));
    QVERIFY(RaiseListener::ask(path));
    QVERIFY(raised.wait(5000));
    QCOMPARE(raised.count(), 2);
}

void TestRaiseListener::onlyTheRequestLineRaises_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<bool>("raises");
    QTest::newRow("request") << QByteArray("raise\n") << true;
    QTest::newRow("no line end") << QByteArray("raise") << false;
    QTest::newRow("other line") << QByteArray("quit\n") << false;
    QTest::newRow("request with more") << QByteArray("raise now\n") << false;
    QTest::newRow("endless line") << QByteArray(4096, 'r') << false;
}

void TestRaiseListener::onlyTheRequestLineRaises()
{
    QFETCH(QByteArray, sent);
    QFETCH(bool, raises);
    QTemporaryDir dir;
    const std::string path = RaiseListener::socketPath(dir.path().toStdString());
    RaiseListener listener;
    QVERIFY(listener.listen(path));
    QSignalSpy raised(&listener, &RaiseListener::raiseRequested);
    QLocalSocket client;
    client.connectToServer(QString::fromStdString(path));
    QVERIFY(client.waitForConnected(2000));
    client.write(sent);
    QVERIFY(client.waitForBytesWritten(2000));
    // The listener hangs up once it has judged the request, or at its read timeout.
    QTRY_VERIFY_WITH_TIMEOUT(client.state() == QLocalSocket::UnconnectedState, 5000);
    QCOMPARE(raised.count(), raises ? 1 : 0);
}

void TestRaiseListener::folderIsPrivateAndStaleSocketReplaced()
{
    QTemporaryDir dir;
    const std::string path = RaiseListener::socketPath(dir.path().toStdString());
    const std::string folder = path.substr(0, path.rfind('/'));
    // A crashed holder left a group-readable folder and its socket file behind.
    QVERIFY(::mkdir(folder.c_str(), 0755) == 0);
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path.c_str());
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        ::close(fd);
    }
    RaiseListener listener;
    QVERIFY2(listener.listen(path), qPrintable(listener.lastError()));
    struct stat st {};
    QVERIFY(::stat(folder.c_str(), &st) == 0);
    QCOMPARE(st.st_mode & 0777, 0700u);
    QSignalSpy raised(&listener, &RaiseListener::raiseRequested);
    QVERIFY(RaiseListener::ask(path));
    QVERIFY(raised.wait(5000));
}

void TestRaiseListener::askWithoutListenerFails()
{
    QTemporaryDir dir;
    QVERIFY(!RaiseListener::ask(RaiseListener::socketPath(dir.path().toStdString())));
    // A path that no socket address can hold is refused, not cut short.
    RaiseListener listener;
    QVERIFY(!listener.listen(dir.path().toStdString() + "/" + std::string(200, 'x') + "/raise"));
    QVERIFY(!listener.lastError().isEmpty());
}

void TestRaiseListener::raiseRestoresMinimisedWindow()
{
    QWindow window;
    window.resize(200, 100);
    window.setWindowStates(Qt::WindowMinimized);
    window.show();
    RaiseListener::raise(&window);
    QVERIFY(window.isVisible());
    QVERIFY(!(window.windowStates() & Qt::WindowMinimized));
    window.hide();
    RaiseListener::raise(&window);
    QVERIFY(window.isVisible());
}

QTEST_MAIN(TestRaiseListener)
#include "tst_raiselistener.moc"
