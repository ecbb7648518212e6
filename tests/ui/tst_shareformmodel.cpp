// The share screen's model over the real share store: adding each path once,
// the row maps the screen reads, checks, removal after the confirmation, and
// the switch as a peer sees it through the real HTTPS service.
#include "ui/MessageBoxRequest.h"
#include "ui/ShareFormModel.h"

#include "client/LanferryHttpClient.h"
#include "store/ShareFilesDb.h"
#include "TempDataHome.h"
#include "TestServer.h"

#include <QImage>
#include <QtTest>

#include <memory>

class TestShareFormModel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void eachPathIsAddedOnce();
    void rowMaps_data();
    void rowMaps();
    void foldersComeFirst();
    void checks();
    void removeChecked_data();
    void removeChecked();
    void switchReachesPeersAtOnce();

private:
    QString makeFile(const QString &name, const QByteArray &bytes = "x");
    QVariantMap rowOf(ShareFormModel &m, int r) { return m.model()->index(r, 0).data(MyItemModel::FirstRole).toMap(); }
    std::vector<ShareFile> stored()
    {
        std::vector<ShareFile> files;
        ShareFilesDb::instance().listFiles(ShareFilesDb::All, &files);
        return files;
    }

    std::unique_ptr<TempDataHome> m_home;
    std::unique_ptr<QTemporaryDir> m_dir;
    QSignalSpy *m_boxes = nullptr;
};

void TestShareFormModel::initTestCase()
{
    m_home = std::make_unique<TempDataHome>();
}

void TestShareFormModel::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(ShareFilesDb::instance().reopen((m_dir->path() + "/share").toStdString()));
    m_boxes = new QSignalSpy(MessageBoxContext::instance(), &MessageBoxContext::msgbox);
}

void TestShareFormModel::cleanup()
{
    delete m_boxes;
    m_boxes = nullptr;
    ShareFilesDb::instance().reopen(std::string());
    m_dir.reset();
}

QString TestShareFormModel::makeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir->path() + "/" + name;
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

void TestShareFormModel::eachPathIsAddedOnce()
{
    const QString a = makeFile("a.txt");
    ShareFormModel m;
    QCOMPARE(m.filesCount(), 0);
    m.addFiles({QUrl::fromLocalFile(a), QUrl::fromLocalFile(a)});
    m.addFiles({QUrl::fromLocalFile(a)});
    m.addFiles({QUrl::fromLocalFile(m_dir->path() + "/./a.txt")});
    // Not a local path: never taken as the current folder.
    m.addFiles({QUrl("https://example.org/a.txt"), QUrl()});
    m.addFiles({});
    QCOMPARE(m.filesCount(), 1);
    QCOMPARE(int(stored().size()), 1);
    QCOMPARE(stored()[0].uri, QFileInfo(a).absoluteFilePath().toStdString());
    QCOMPARE(m.model()->rowCount(), 1);

    // A second screen reads the same store.
    ShareFormModel again;
    QCOMPARE(again.filesCount(), 1);
}

void TestShareFormModel::rowMaps_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<QString>("mime");
    QTest::addColumn<bool>("imageIcon");
    QTest::newRow("PNG in capitals") << "Photo.PNG" << false << "image/png" << true;
    QTest::newRow("jpeg") << "p.jpg" << false << "image/jpeg" << true;
    QTest::newRow("text") << "notes.txt" << false << "text/plain" << false;
    QTest::newRow("no suffix") << "README" << false << "application/octet-stream" << false;
    QTest::newRow("folder") << "Holidays" << true << "application/octet-stream" << false;
    QTest::newRow("folder named like an image") << "shots.png" << true << "image/png" << true;
}

void TestShareFormModel::rowMaps()
{
    QFETCH(QString, name);
    QFETCH(bool, folder);
    QFETCH(QString, mime);
    QFETCH(bool, imageIcon);
    const QString path = m_dir->path() + "/" + name;
    if (folder)
        QDir().mkpath(path);
    else
        makeFile(name);

    ShareFormModel m;
    m.addFiles({QUrl::fromLocalFile(path)});
    QCOMPARE(m.filesCount(), 1);
    const std::vector<ShareFile> files = stored();
    QCOMPARE(QString::fromStdString(files[0].mime), mime);
    QCOMPARE(files[0].folder, folder);
    QCOMPARE(files[0].uid.size(), size_t(36));

    const QVariantMap row = rowOf(m, 0);
    QCOMPARE(row.keys(), QStringList({"checked", "folder", "icon", "name", "row", "thumb", "uid", "uri"}));
    QCOMPARE(row["row"].toInt(), 0);
    QCOMPARE(row["uid"].toString(), QString::fromStdString(files[0].uid));
    QCOMPARE(row["name"].toString(), name);
    QCOMPARE(row["uri"].toString(), path);
    QCOMPARE(row["folder"].toBool(), folder);
    QCOMPARE(row["checked"].toBool(), false);
    QCOMPARE(row["thumb"].toString(), imageIcon ? path : QString());
    const QString plainIcon(folder ? "qrc:/res/icon_folder.png" : "qrc:/res/icon_file.png");
    QCOMPARE(row["icon"].toString(), imageIcon ? QUrl::fromLocalFile(path).toString() : plainIcon);

    // An image whose file has gone shows the generic icon.
    if (imageIcon) {
        if (folder)
            QDir(path).removeRecursively();
        else
            QFile::remove(path);
        QCOMPARE(rowOf(m, 0)["icon"].toString(), plainIcon);
    }
    QVERIFY(rowOf(m, 1).isEmpty());
    QVERIFY(rowOf(m, -1).isEmpty());
}

void TestShareFormModel::foldersComeFirst()
{
    QDir().mkpath(m_dir->path() + "/zeta");
    ShareFormModel m;
    m.addFiles({QUrl::fromLocalFile(makeFile("b.txt")), QUrl::fromLocalFile(m_dir->path() + "/zeta"),
                QUrl::fromLocalFile(makeFile("a.txt"))});
    QStringList names;
    for (int r = 0; r < m.filesCount(); ++r)
        names << rowOf(m, r)["name"].toString();
    QCOMPARE(names, QStringList({"zeta", "a.txt", "b.txt"}));
}

void TestShareFormModel::checks()
{
    ShareFormModel m;
    m.addFiles(
        {QUrl::fromLocalFile(makeFile("a")), QUrl::fromLocalFile(makeFile("b")), QUrl::fromLocalFile(makeFile("c"))});
    QSignalSpy counts(&m, &ShareFormModel::selectionCountChanged);
    QSignalSpy changed(m.model(), &QAbstractItemModel::dataChanged);

    m.checkAll(false);
    QCOMPARE(counts.count(), 0);
    m.check(3, true);
    m.check(-1, true);
    QCOMPARE(m.selectionCount(), 0);
    QCOMPARE(counts.count(), 0);
    QCOMPARE(changed.count(), 1); // checkAll(false) still refreshes the rows

    m.check(1, true);
    QCOMPARE(m.selectionCount(), 1);
    QVERIFY(rowOf(m, 1)["checked"].toBool());
    QVERIFY(!rowOf(m, 0)["checked"].toBool());
    m.check(1, true);
    QCOMPARE(counts.count(), 1);

    m.checkAll(true);
    QCOMPARE(m.selectionCount(), 3);
    m.check(0, false);
    QCOMPARE(m.selectionCount(), 2);
    QVERIFY(!rowOf(m, 0)["checked"].toBool());
    QVERIFY(rowOf(m, 2)["checked"].toBool());
    m.checkAll(false);
    QCOMPARE(m.selectionCount(), 0);
    QVERIFY(!rowOf(m, 2)["checked"].toBool());

    // Adding reads the list afresh and forgets the checks.
    m.check(0, true);
    counts.clear();
    m.addFiles({QUrl::fromLocalFile(makeFile("d"))});
    QCOMPARE(m.selectionCount(), 0);
    QCOMPARE(counts.count(), 1);
    QCOMPARE(m.filesCount(), 4);
}

void TestShareFormModel::removeChecked_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("Yes") << true;
    QTest::newRow("No") << false;
}

void TestShareFormModel::removeChecked()
{
    QFETCH(bool, yes);
    ShareFormModel m;
    m.addFiles({QUrl::fromLocalFile(makeFile("a")), QUrl::fromLocalFile(makeFile("b")),
                QUrl::fromLocalFile(makeFile("c")), QUrl::fromLocalFile(makeFile("d"))});

    m.removeChecked(); // nothing checked: no question
    QCOMPARE(m_boxes->count(), 0);

    m.check(1, true);
    m.check(2, true);
    m.removeChecked();
    QCOMPARE(m_boxes->count(), 1);
    const MessageBoxRequest box = MessageBoxRequest::fromMap(m_boxes->takeFirst().at(0).toMap());
    QCOMPARE(box.title, QString());
    QCOMPARE(box.icon, int(MessageBoxContext::Question));
    QCOMPARE(box.roles(), QList<int>({MessageBoxContext::Yes, MessageBoxContext::No}));
    QVERIFY(box.press(yes ? MessageBoxContext::Yes : MessageBoxContext::No, MessageBoxContext::instance()));

    QStringList left;
    for (const ShareFile &f : stored())
        left << QString::fromStdString(f.name);
    QStringList shown;
    for (int r = 0; r < m.filesCount(); ++r)
        shown << rowOf(m, r)["name"].toString();
    if (yes) {
        QCOMPARE(left, QStringList({"a", "d"}));
        QCOMPARE(shown, QStringList({"a", "d"}));
        QCOMPARE(m.selectionCount(), 0);
        QCOMPARE(m.model()->rowCount(), 2);
    } else {
        QCOMPARE(left, QStringList({"a", "b", "c", "d"}));
        QCOMPARE(shown, left);
        QCOMPARE(m.selectionCount(), 2);
        QVERIFY(rowOf(m, 1)["checked"].toBool());
    }
}

void TestShareFormModel::switchReachesPeersAtOnce()
{
    TestServer server;
    QVERIFY(server.start());
    const PeerEndpoint peer{"127.0.0.1", server.port, std::string()};
    LanferryHttpClient client;

    ShareFormModel m;
    QVERIFY(!m.shareEnabled());
    m.addFiles({QUrl::fromLocalFile(makeFile("shared.txt", "content"))});
    const std::string uid = stored()[0].uid;

    QSignalSpy switched(&m, &ShareFormModel::shareEnabledChanged);
    m.setShareEnabled(true);
    m.setShareEnabled(true);
    QCOMPARE(switched.count(), 1);
    QVERIFY(ShareFilesDb::instance().isEnabled());
    HttpResponse r = client.shareFiles(peer);
    QCOMPARE(r.status, 200);
    QVERIFY(QByteArray::fromStdString(r.body).contains("shared.txt"));
    QCOMPARE(client.shareReq(peer, {uid}).status, 200);

    m.setShareEnabled(false);
    QCOMPARE(switched.count(), 2);
    r = client.shareFiles(peer);
    QCOMPARE(r.status, 200);
    QVERIFY(!QByteArray::fromStdString(r.body).contains("shared.txt"));
    r = client.shareReq(peer, {uid});
    QCOMPARE(r.status, 403);
    QCOMPARE(QString::fromStdString(r.body), QString("The sharing function has been disabled."));
    QCOMPARE(m.filesCount(), 1); // the local list stays

    // A new screen shows the stored switch.
    ShareFormModel again;
    QVERIFY(!again.shareEnabled());
    server.server.stop();
}

QTEST_GUILESS_MAIN(TestShareFormModel)
#include "tst_shareformmodel.moc"
