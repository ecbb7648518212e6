// Showing a file in its folder: the file manager on the bus is asked to show
// the very file, and where none answers the containing folder is opened; a
// missing file warns and opens nothing.
#include "PrivateBus.h"

#include "ui/GlobalModel.h"
#include "ui/MessageBoxContext.h"

#include <QDesktopServices>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> shown;
public slots:
    void ShowItems(const QStringList &uris, const QString &) { shown << uris; }
};

// Stands in for the desktop's opener of URLs.
class Opener : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void openUrl(const QUrl &url) { opened << url; }
};

class TestShowInFolder : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void fileManagerShowsTheFile();
    void withoutFileManagerTheFolderOpens();
    void missingFileWarns_data();
    void missingFileWarns();

private:
    QString makeFile(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        return path;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<PrivateBus> m_bus;
    Opener m_opener;
    int m_round = 0;
};

void TestShowInFolder::init()
{
    m_bus = std::make_unique<PrivateBus>();
    QVERIFY2(m_bus->isUp(), "dbus-daemon did not start");
    m_opener.opened.clear();
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_opener, "openUrl");
}

void TestShowInFolder::cleanup()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    m_bus.reset();
}

void TestShowInFolder::fileManagerShowsTheFile()
{
    QDBusConnection service = m_bus->connect(QStringLiteral("service%1").arg(++m_round));
    FakeFileManager manager;
    QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    const QString name = QStringLiteral("client%1").arg(m_round);
    m_bus->connect(name);
    GlobalModel global;
    global.setFileManagerBus(name);
    // A name that a URL must escape arrives escaped, and as the file itself.
    const QString path = makeFile(QStringLiteral("a file #1%.txt"));
    global.showInFolder(QUrl::fromLocalFile(path));
    QTRY_COMPARE(manager.shown.size(), 1);
    QCOMPARE(manager.shown[0], QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)});
    QCOMPARE(QUrl(manager.shown[0][0]).toLocalFile(), path);
    QTest::qWait(100);
    QVERIFY(m_opener.opened.isEmpty());
}

void TestShowInFolder::withoutFileManagerTheFolderOpens()
{
    const QString name = QStringLiteral("client%1").arg(++m_round);
    m_bus->connect(name);
    GlobalModel global;
    global.setFileManagerBus(name);
    QDir().mkpath(m_dir.filePath("sub"));
    const QString path = makeFile(QStringLiteral("sub/b.txt"));
    global.showInFolder(QUrl::fromLocalFile(path));
    QTRY_COMPARE(m_opener.opened.size(), 1);
    QCOMPARE(m_opener.opened[0], QUrl::fromLocalFile(m_dir.filePath("sub")));
}

void TestShowInFolder::missingFileWarns_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::newRow("missing file") << QUrl::fromLocalFile(QStringLiteral("/no/such/file.txt"));
    QTest::newRow("not a local file") << QUrl(QStringLiteral("https://example.org/a.txt"));
    QTest::newRow("empty") << QUrl();
}

void TestShowInFolder::missingFileWarns()
{
    QFETCH(QUrl, url);
    const QString name = QStringLiteral("client%1").arg(++m_round);
    m_bus->connect(name);
    GlobalModel global;
    global.setFileManagerBus(name);
    QSignalSpy boxes(MessageBoxContext::instance(), &MessageBoxContext::msgbox);
    global.showInFolder(url);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes[0][0].toMap()["icon"].toInt(), int(MessageBoxContext::Warning));
    QTest::qWait(100);
    QVERIFY(m_opener.opened.isEmpty());
}

QTEST_MAIN(TestShowInFolder)
#include "tst_showinfolder.moc"
