// A whole transfer driven only through the windows of two programs: this
// one connects to the other by address and drops files on its tile; the
// other (a screen_peer, with its own window) answers the prompt, chooses the
// folder in its dialog and shows the task with every file row marked done,
// while this window shows the sent task done. The files arrive byte for byte.
#include "ScreenTest.h"

#include "ModelPeerProcess.h"

#include "ui/ServerModel.h"
#include "ui/TaskMgrModel.h"

using namespace screentest;

// Waits on the other process and the network, under sanitizers and a loaded machine.
constexpr int kNetwork = 30000;
constexpr int kTransfer = 120000;

class TestWindowTransfer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void dropOnOneWindowArrivesInTheOther();

private:
    void press(const QString &name)
    {
        QQuickItem *item = nullptr;
        QTRY_VERIFY2_WITH_TIMEOUT((item = m_screen->item(name)), qPrintable(name), kNetwork);
        click(item);
    }
    // One command to the other window, and the value it answered ("" for none, "!" for an error).
    static QString ask(ModelPeerProcess &peer, const QString &line)
    {
        const int before = peer.countOf("done") + peer.countOf("error");
        peer.command(line);
        if (!QTest::qWaitFor([&] { return peer.countOf("done") + peer.countOf("error") > before; }, 2 * kNetwork))
            return "!";
        const QJsonObject last = peer.events.last();
        return last["event"] == "error" ? "!" : last["value"].toVariant().toString();
    }

    std::unique_ptr<Screen> m_screen;
    QTemporaryDir m_dir;
};

void TestWindowTransfer::initTestCase()
{
    m_screen = std::make_unique<Screen>();
    QVERIFY(m_screen->window);
    QVERIFY(QTest::qWaitForWindowExposed(m_screen->window));
    QTRY_VERIFY(ServerModel::instance()->httpServer().isListening());
}

void TestWindowTransfer::cleanup()
{
    const QStringList warnings = takeWarnings();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

void TestWindowTransfer::cleanupTestCase()
{
    m_screen.reset();
    const QStringList warnings = takeWarnings();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

void TestWindowTransfer::dropOnOneWindowArrivesInTheOther()
{
    ModelPeerProcess bob(m_dir.path() + "/bob", "bob", QString(), SCREEN_PEER_PATH);
    QVERIFY(!bob.waitEvent("ready", kNetwork).isEmpty());
    const QString outbox = m_dir.path() + "/outbox";
    QVERIFY(QDir().mkpath(outbox + "/photos"));
    QFile a(outbox + "/letter.txt"), b(outbox + "/photos/beach.bin");
    QVERIFY(a.open(QIODevice::WriteOnly) && b.open(QIODevice::WriteOnly));
    a.write("Dear Bob,\n");
    QByteArray photo(2 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (int i = 0; i < photo.size(); ++i)
        photo[i] = char(i * 31 % 251);
    b.write(photo);
    a.close();
    b.close();

    // This window: the other device by its address, then the drop on its tile.
    press("mainLeft.devices");
    press("devices.tile.add");
    QTRY_VERIFY(m_screen->item("connectForm.ip"));
    typeInto(m_screen->item("connectForm.ip"), "127.0.0.1");
    typeInto(m_screen->item("connectForm.port"), QString::number(bob.port));
    press("connectForm.ok");
    QQuickItem *tile = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((tile = m_screen->item("devices.tile.127.0.0.1")), kNetwork);
    dropFiles(tile, {QUrl::fromLocalFile(a.fileName()), QUrl::fromLocalFile(outbox + "/photos")});
    QTRY_VERIFY_WITH_TIMEOUT(m_screen->item("tasks"), kNetwork);
    QString uid;
    QTRY_VERIFY_WITH_TIMEOUT(!TaskMgrModel::instance()->taskOrder().empty(), kNetwork);
    uid = QString::fromStdString(TaskMgrModel::instance()->taskOrder().front().tid);

    // The other window: the prompt names this device; Yes, then the folder.
    QTRY_VERIFY_WITH_TIMEOUT(ask(bob, "text messageBox.text").contains("me"), kNetwork);
    QCOMPARE(ask(bob, "press messageBox.button.0"), QString());
    const QString inbox = m_dir.path() + "/inbox";
    QVERIFY(QDir().mkpath(inbox));
    QCOMPARE(ask(bob, "choose " + inbox), QString());

    // Its tasks screen: the task done, and each of its file rows.
    const QString task = "tasks.task." + uid;
    QTRY_COMPARE_WITH_TIMEOUT(ask(bob, "prop " + task + ".mark status"), QString("1"), kTransfer);
    QCOMPARE(ask(bob, "press " + task), QString());
    QTRY_COMPARE_WITH_TIMEOUT(ask(bob, "prop tasks.file." + uid + ".0.mark status"), QString("1"), kNetwork);
    QCOMPARE(ask(bob, "prop tasks.file." + uid + ".1.mark status"), QString("1"));

    // This window: the sent task done as well.
    QTRY_COMPARE_WITH_TIMEOUT(m_screen->item(task + ".mark")->property("status").toInt(), 1, kTransfer);

    QFile gotLetter(inbox + "/letter.txt"), gotPhoto(inbox + "/photos/beach.bin");
    QVERIFY(gotLetter.open(QIODevice::ReadOnly) && gotPhoto.open(QIODevice::ReadOnly));
    QCOMPARE(gotLetter.readAll(), QByteArray("Dear Bob,\n"));
    QVERIFY(gotPhoto.readAll() == photo);
}

SCREEN_TEST_MAIN(TestWindowTransfer, "me")
#include "tst_windowtransfer.moc"
