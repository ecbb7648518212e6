// The share and device screens: this device's share list edited by the
// file dialog, a drop and a confirmed delete, with the switch seen by another
// device on its next request; and another instance's (a model_peer) shares
// listed with thumbnails, selected and downloaded byte for byte into the
// chosen folder.
#include "ScreenTest.h"

#include "ModelPeerProcess.h"

#include "client/LanferryHttpClient.h"
#include "discovery/LanferryUdpServer.h"
#include "store/ShareFilesDb.h"
#include "ui/GlobalModel.h"
#include "ui/ServerModel.h"

#include <QImage>
#include <QJsonArray>

using namespace screentest;

// Waits on the other process and the network, under sanitizers and a loaded machine.
constexpr int kNetwork = 30000;

class TestShareScreens : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void shareListEditedFromTheWindow();
    void deviceSharesDownloaded();

private:
    void press(const QString &name)
    {
        QQuickItem *item = nullptr;
        QTRY_VERIFY2_WITH_TIMEOUT((item = m_screen->item(name)), qPrintable(name), kNetwork);
        click(item);
    }
    QString textOf(const QString &name) const
    {
        QQuickItem *item = m_screen->item(name);
        return item ? item->property("text").toString() : QString();
    }
    bool checkedOf(const QString &name) const
    {
        QQuickItem *item = m_screen->item(name);
        return item && item->property("checked").toBool();
    }
    QString writeFile(const QString &rel, const QByteArray &bytes)
    {
        const QString path = m_dir.path() + "/" + rel;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    }
    // The names another device gets from this one's share list.
    QStringList sharedNames() const
    {
        LanferryHttpClient client;
        const HttpResponse answer = client.shareFiles(PeerEndpoint{"127.0.0.1", ServerModel::instance()->port(), ""});
        QStringList names;
        const QJsonArray list = QJsonDocument::fromJson(QByteArray::fromStdString(answer.body)).array();
        for (const QJsonValue &v : list)
            names << v["name"].toString();
        return names;
    }

    std::unique_ptr<Screen> m_screen;
    QTemporaryDir m_dir;
};

void TestShareScreens::initTestCase()
{
    m_screen = std::make_unique<Screen>();
    QVERIFY(m_screen->window);
    QVERIFY(QTest::qWaitForWindowExposed(m_screen->window));
    QTRY_VERIFY(ServerModel::instance()->httpServer().isListening());
}

void TestShareScreens::cleanup()
{
    const QStringList warnings = takeWarnings();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

void TestShareScreens::cleanupTestCase()
{
    m_screen.reset();
    const QStringList warnings = takeWarnings();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

void TestShareScreens::shareListEditedFromTheWindow()
{
    const QString notes = writeFile("mine/notes.txt", "notes");
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    const QString photo = m_dir.path() + "/mine/photo.jpg";
    QVERIFY(picture.save(photo));
    const QString album = QFileInfo(writeFile("mine/album/x.txt", "x")).path();

    press("mainLeft.share");
    QTRY_VERIFY(m_screen->item("share.empty"));
    QVERIFY(!m_screen->item("share.delete")->isEnabled());

    press("share.addFiles");
    QFileDialog *dialog = nullptr;
    QTRY_VERIFY((dialog = openFileDialog()));
    QCOMPARE(dialog->windowTitle(), QString("Select the files to be shared"));
    choose(dialog, {notes, photo});
    QTRY_COMPARE(textOf("share.file.1.uri"), photo);
    QCOMPARE(textOf("share.file.0.uri"), notes);

    // A folder dropped from the file manager comes first.
    dropFiles(m_screen->item("share.files"), {QUrl::fromLocalFile(album)});
    QTRY_COMPARE(textOf("share.file.0.uri"), album);
    QVERIFY(!m_screen->item("share.empty"));

    // The switch: the other device sees the files only while it is on.
    const bool wasOn = checkedOf("share.enable");
    QCOMPARE(sharedNames().size(), wasOn ? 3 : 0);
    press("share.enable");
    QTRY_COMPARE(ShareFilesDb::instance().isEnabled(), !wasOn);
    if (wasOn)
        press("share.enable");
    QTRY_COMPARE(sharedNames(), QStringList({"album", "notes.txt", "photo.jpg"}));
    press("share.enable");
    QTRY_VERIFY(sharedNames().isEmpty());
    press("share.enable");
    QTRY_COMPARE(sharedNames().size(), 3);

    // Delete asks first; No keeps the file, Yes removes it.
    press("share.file.1");
    QTRY_VERIFY(checkedOf("share.file.1.check"));
    QVERIFY(!checkedOf("share.selectAll"));
    press("share.delete");
    QTRY_VERIFY(m_screen->item("messageBox"));
    press("messageBox.button.1");
    QTRY_VERIFY(!m_screen->item("messageBox"));
    QCOMPARE(sharedNames().size(), 3);
    press("share.delete");
    press("messageBox.button.0");
    QTRY_COMPARE(sharedNames(), QStringList({"album", "photo.jpg"}));
    QTRY_COMPARE(textOf("share.file.1.uri"), photo);

    // Select all, then delete everything.
    press("share.selectAll");
    QTRY_VERIFY(checkedOf("share.selectAll"));
    press("share.delete");
    press("messageBox.button.0");
    QTRY_VERIFY(m_screen->item("share.empty"));
    QVERIFY(sharedNames().isEmpty());
}

void TestShareScreens::deviceSharesDownloaded()
{
    ModelPeerProcess bob(m_dir.path() + "/bob", "bob", "secret");
    QVERIFY(!bob.waitEvent("ready").isEmpty());
    const QByteArray big(700000, 'q');
    writeFile("bobs/album/one.txt", "one");
    writeFile("bobs/album/sub/two.bin", big);
    writeFile("bobs/a.txt", "a");
    QImage image(256, 128, QImage::Format_RGB32);
    image.fill(Qt::darkRed);
    QVERIFY(image.save(m_dir.path() + "/bobs/b.png"));
    {
        ShareFilesDb shares(bob.path("share"));
        QVERIFY(shares.open());
        const std::string png = (m_dir.path() + "/bobs/b.png").toStdString();
        shares.addFile(newShareFile("b.png", png, "image/png", png, false));
        shares.addFile(newShareFile("a.txt", (m_dir.path() + "/bobs/a.txt").toStdString(), "text/plain", "", false));
        shares.addFile(newShareFile("album", (m_dir.path() + "/bobs/album").toStdString(), "", "", true));
        shares.setEnabled(true);
    }

    LanferryUdpServer::ServerItem item;
    item.ip = "127.0.0.1";
    item.port = bob.port;
    item.info = ServerInfo{bob.uid.toStdString(), "bob", "secret", "win", bob.port};
    GlobalModel::instance()->navTo("Device.qml", {{"devItem", QVariant::fromValue(item)}});

    // Folders first, then by name; the picture has its thumbnail.
    QTRY_COMPARE_WITH_TIMEOUT(textOf("device.file.2.name"), QString("b.png"), kNetwork);
    QCOMPARE(textOf("device.file.0.name"), QString("album"));
    QCOMPARE(textOf("device.file.1.name"), QString("a.txt"));
    QCOMPARE(textOf("device.name"), QString("bob"));
    QQuickItem *thumb = m_screen->item("device.file.2.icon");
    QVERIFY(thumb->property("source").toString().startsWith("image://curl/https://127.0.0.1:"));
    QTRY_COMPARE_WITH_TIMEOUT(thumb->property("status").toInt(), 1 /* Image.Ready */, kNetwork);
    QCOMPARE(m_screen->item("device.file.1.icon")->property("source").toString(), QString("qrc:/res/icon_file.png"));
    QCOMPARE(m_screen->item("device.file.0.icon")->property("source").toString(), QString("qrc:/res/icon_folder.png"));

    // A click checks a row, Select All the rest; Download asks for the folder.
    QVERIFY(!m_screen->item("device.download")->isEnabled());
    press("device.file.1");
    QTRY_VERIFY(checkedOf("device.file.1.check"));
    QVERIFY(!checkedOf("device.selectAll"));
    press("device.selectAll");
    QTRY_VERIFY(checkedOf("device.selectAll"));
    QVERIFY(checkedOf("device.file.0.check") && checkedOf("device.file.2.check"));
    press("device.download");
    QFileDialog *dialog = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((dialog = openFileDialog()), kNetwork);
    QCOMPARE(dialog->windowTitle(), QString("Select the save directory"));
    const QString saveTo = m_dir.path() + "/downloads";
    QVERIFY(QDir().mkpath(saveTo));
    choose(dialog, {saveTo});

    auto same = [&](const QString &rel, const QString &original) {
        QFile a(saveTo + "/" + rel), b(m_dir.path() + "/bobs/" + original);
        return a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) && a.readAll() == b.readAll();
    };
    QTRY_VERIFY_WITH_TIMEOUT(same("album/sub/two.bin", "album/sub/two.bin"), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(same("album/one.txt", "album/one.txt") && same("a.txt", "a.txt") && same("b.png", "b.png"),
                             60000);
    // The download shows on the tasks screen.
    QTRY_VERIFY_WITH_TIMEOUT(m_screen->item("tasks"), kNetwork);
}

SCREEN_TEST_MAIN(TestShareScreens, "me")
#include "tst_sharescreens.moc"
