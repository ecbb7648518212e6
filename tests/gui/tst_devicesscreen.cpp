// The devices screen beside another instance (a model_peer process): its tile
// appears once connected by address, a wrong password is refused and a right
// one accepted, and files dropped on the tile arrive on the other side, the
// password form asking again when the device's password changed meanwhile.
#include "ScreenTest.h"

#include "ModelPeerProcess.h"

#include "ui/DevicesModel.h"
#include "ui/GlobalModel.h"
#include "ui/ServerModel.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QFileDialog>
#include <QMimeData>

using namespace screentest;

// Waits on the other process and the network, under sanitizers and a loaded machine.
constexpr int kNetwork = 30000;

class TestDevicesScreen : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void connectByAddressThenDrop();
    void offerAskedForAFolder();

private:
    void press(const QString &name)
    {
        QQuickItem *item = nullptr;
        QTRY_VERIFY2((item = m_screen->item(name)), qPrintable(name));
        click(item);
    }
    QString boxText() const
    {
        QQuickItem *text = m_screen->item("messageBox.text");
        return text ? text->property("text").toString() : QString();
    }
    std::unique_ptr<Screen> m_screen;
    QTemporaryDir m_dir;
};

void TestDevicesScreen::initTestCase()
{
    m_screen = std::make_unique<Screen>();
    QVERIFY(m_screen->window);
    QVERIFY(QTest::qWaitForWindowExposed(m_screen->window));
    QTRY_VERIFY(ServerModel::instance()->httpServer().isListening());
}

void TestDevicesScreen::cleanup()
{
    const QStringList warnings = takeWarnings();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

void TestDevicesScreen::cleanupTestCase()
{
    m_screen.reset();
    const QStringList warnings = takeWarnings();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

void TestDevicesScreen::connectByAddressThenDrop()
{
    ModelPeerProcess bob(m_dir.path() + "/bob", "bob", "secret");
    QVERIFY(!bob.waitEvent("ready").isEmpty());
    const QString inbox = m_dir.path() + "/inbox";
    QVERIFY(QDir().mkpath(inbox));
    QVERIFY(bob.run("accept " + inbox));

    GlobalModel::instance()->navTo("Devices.qml");
    press("devices.tile.add");
    QTRY_VERIFY(m_screen->item("connectForm.ip"));
    typeInto(m_screen->item("connectForm.ip"), "127.0.0.1");
    typeInto(m_screen->item("connectForm.port"), QString::number(bob.port));
    typeInto(m_screen->item("connectForm.password"), "nope");
    press("connectForm.ok");
    QTRY_COMPARE_WITH_TIMEOUT(boxText(), QString("Incorrect connection password."), kNetwork);
    press("messageBox.button.0");
    QTRY_VERIFY(!m_screen->item("messageBox"));
    QVERIFY(m_screen->item("connectForm"));
    QVERIFY(!m_screen->item("devices.tile.127.0.0.1"));

    // Blanks around the password are not part of it.
    typeInto(m_screen->item("connectForm.password"), " secret ");
    QTest::keyClick(m_screen->window, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!m_screen->item("connectForm"), kNetwork);
    QQuickItem *tile = nullptr;
    QTRY_VERIFY((tile = m_screen->item("devices.tile.127.0.0.1")));
    QCOMPARE(m_screen->item("devices.tile.127.0.0.1.address")->property("text").toString(),
             QString("127.0.0.1:%1").arg(bob.port));
    QCOMPARE(m_screen->item("devices.tile.127.0.0.1.name")->property("text").toString(), QString("bob"));
    QVERIFY(!m_screen->item("devices.empty"));

    // The device's password changes: the drop asks for the new one.
    QFile settings(bob.dataFolder() + "/server");
    QVERIFY(settings.open(QIODevice::ReadWrite));
    QJsonObject identity = QJsonDocument::fromJson(settings.readAll()).object();
    identity["pwd"] = "changed";
    settings.resize(0);
    settings.write(QJsonDocument(identity).toJson());
    settings.close();

    const QString outbox = m_dir.path() + "/outbox";
    QVERIFY(QDir().mkpath(outbox + "/folder"));
    QFile a(outbox + "/a.txt"), b(outbox + "/folder/b.bin");
    QVERIFY(a.open(QIODevice::WriteOnly) && b.open(QIODevice::WriteOnly));
    a.write("first file\n");
    b.write(QByteArray(300000, 'b'));
    a.close();
    b.close();
    dropFiles(tile, {QUrl::fromLocalFile(a.fileName()), QUrl::fromLocalFile(outbox + "/folder")});

    QQuickItem *password = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((password = m_screen->item("passowrdInputForm.password")), kNetwork);
    QTRY_VERIFY(password->hasActiveFocus());
    QVERIFY(!m_screen->item("passowrdInputForm.ok")->isEnabled());
    for (const char c : QByteArray("changed"))
        QTest::keyClick(m_screen->window, c);
    QTest::keyClick(m_screen->window, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!m_screen->item("passowrdInputForm"), kNetwork);

    QTRY_VERIFY_WITH_TIMEOUT(QFile(inbox + "/a.txt").size() == 11 && QFile(inbox + "/folder/b.bin").size() == 300000,
                             60000);
    // A sent task shows the tasks screen.
    QTRY_VERIFY_WITH_TIMEOUT(m_screen->item("tasks"), kNetwork);
}

void TestDevicesScreen::offerAskedForAFolder()
{
    ModelPeerProcess carol(m_dir.path() + "/carol", "carol");
    QVERIFY(!carol.waitEvent("ready").isEmpty());
    const QString outbox = m_dir.path() + "/from-carol";
    QVERIFY(QDir().mkpath(outbox));
    QFile file(outbox + "/report.txt");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("twelve bytes");
    file.close();
    const QString inbox = m_dir.path() + "/chosen";
    QVERIFY(QDir().mkpath(inbox));
    const QString send = QString("send 127.0.0.1 %1 - %2").arg(ServerModel::instance()->port()).arg(file.fileName());

    // Cancelling the folder dialog declines the offer.
    carol.command(send);
    QTRY_VERIFY_WITH_TIMEOUT(boxText().contains("carol"), kNetwork);
    press("messageBox.button.0");
    QFileDialog *dialog = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((dialog = openFileDialog()), kNetwork);
    QCOMPARE(dialog->windowTitle(), QString("Select the save directory"));
    QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
    dialog->reject();
    QVERIFY(!carol.waitEvent([](const QJsonObject &e) { return e["event"] == "box"; }).isEmpty());
    QVERIFY(!QFile::exists(inbox + "/report.txt"));

    // Choosing a folder accepts it, and the files arrive there.
    carol.command(send);
    QTRY_VERIFY_WITH_TIMEOUT(boxText().contains("carol"), kNetwork);
    press("messageBox.button.0");
    QTRY_VERIFY_WITH_TIMEOUT((dialog = openFileDialog()), kNetwork);
    choose(dialog, {inbox});
    QTRY_COMPARE_WITH_TIMEOUT(QFile(inbox + "/report.txt").size(), qint64(12), 60000);
    // An accepted task shows the tasks screen.
    QTRY_VERIFY_WITH_TIMEOUT(m_screen->item("tasks"), kNetwork);
}

SCREEN_TEST_MAIN(TestDevicesScreen, "me")
#include "tst_devicesscreen.moc"
