// The share store: schema, the sharing switch, entries with their ordering and
// filters, the JSON form, and the process-wide connection in the data folder.
#include "store/ShareFilesDb.h"

#include "core/AtomicFile.h"
#include "SchemaDump.h"
#include "TempDataHome.h"

#include <QtTest>

#include <memory>
#include <thread>

namespace {

QStringList names(const std::vector<ShareFile> &files)
{
    QStringList out;
    for (const auto &f : files)
        out << QString::fromStdString(f.name);
    return out;
}

} // namespace

class TestShareFilesDb : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void freshStoreIsOffAndEmpty();
    void schema();
    void enableSwitch_data();
    void enableSwitch();
    void entries();
    void ordering_data();
    void ordering();
    void jsonForm();
    void processWideStoreLivesInTheDataFolder();
    void unopenableFileAnswersNothing();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<ShareFilesDb> m_db;
};

void TestShareFilesDb::init()
{
    const QString path = m_dir.path() + "/" + QTest::currentTestFunction() + "-" +
                         (QTest::currentDataTag() ? QTest::currentDataTag() : "") + ".share";
    m_db = std::make_unique<ShareFilesDb>(path.toStdString());
}

void TestShareFilesDb::cleanup()
{
    m_db.reset();
}

void TestShareFilesDb::freshStoreIsOffAndEmpty()
{
    QVERIFY(!m_db->isEnabled());
    std::vector<ShareFile> files;
    m_db->listFiles(ShareFilesDb::All, &files);
    QVERIFY(files.empty());
}

void TestShareFilesDb::schema()
{
    QVERIFY(m_db->open());
    QCOMPARE(columnsOf(*m_db, "setting"), (QStringList{"name|VARCHAR|0||1", "val|VARCHAR|0||0"}));
    QCOMPARE(columnsOf(*m_db, "file"), (QStringList{"uid|VARCHAR|0||1", "uri|VARCHAR|0||0", "mime|VARCHAR|0||0",
                                                    "name|VARCHAR|0||0", "thumb|VARCHAR|0||0", "folder|INT|0||0"}));
    QVERIFY(schemaSql(*m_db, "table", "file").endsWith("folder int)")); // declared lower case
    QCOMPARE(schemaSql(*m_db, "index", "idx_file_uri"), QString("CREATE INDEX idx_file_uri on file(uri)"));
    QCOMPARE(journalMode(*m_db), QString("wal"));
}

void TestShareFilesDb::enableSwitch_data()
{
    QTest::addColumn<QString>("val"); // written behind the store's back
    QTest::addColumn<bool>("enabled");
    QTest::newRow("1") << "1" << true;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("other number") << "7" << true;
    QTest::newRow("not a number") << "yes" << false;
    QTest::newRow("empty") << "" << false;
}

void TestShareFilesDb::enableSwitch()
{
    m_db->setEnabled(true);
    m_db->setEnabled(true);
    QVERIFY(m_db->isEnabled());
    Sqlite3ResultSet rs;
    QVERIFY(m_db->query("select name, val from setting", rs) && rs.next());
    QCOMPARE(rs.getText("name"), std::string("enable"));
    QCOMPARE(rs.getText("val"), std::string("1"));
    QVERIFY(!rs.next()); // one row
    m_db->setEnabled(false);
    QVERIFY(!m_db->isEnabled());

    QFETCH(QString, val);
    Sqlite3Command cmd("update setting set val=? where name='enable'");
    cmd.addText(val.toStdString());
    QVERIFY(m_db->exec(cmd));
    QTEST(m_db->isEnabled(), "enabled");
}

void TestShareFilesDb::entries()
{
    const ShareFile a = newShareFile("a.jpg", "/pics/a.jpg", "image/jpeg", "thumb-a", false);
    const ShareFile b = newShareFile("a copy", "/pics/a.jpg", "image/jpeg", "", false);
    QCOMPARE(a.uid.size(), size_t(36));
    QVERIFY(a.uid != b.uid);
    QVERIFY(!m_db->hasUri("/pics/a.jpg"));
    m_db->addFile(a);
    m_db->addFile(b);
    QVERIFY(m_db->hasUri("/pics/a.jpg"));
    QVERIFY(m_db->hasUid(a.uid));
    std::vector<ShareFile> files;
    m_db->listFiles(ShareFilesDb::All, &files);
    QCOMPARE(files.size(), size_t(2)); // the same path twice is two entries

    ShareFile got;
    QVERIFY(m_db->getFile(a.uid, &got));
    QCOMPARE(got.uid, a.uid);
    QCOMPARE(got.name, a.name);
    QCOMPARE(got.uri, a.uri);
    QCOMPARE(got.mime, a.mime);
    QCOMPARE(got.thumb, a.thumb);
    QVERIFY(!got.folder);

    ShareFile replaced = a;
    replaced.name = "renamed";
    replaced.folder = true;
    m_db->addFile(replaced);
    QVERIFY(m_db->getFile(a.uid, &got));
    QCOMPARE(got.name, std::string("renamed"));
    QVERIFY(got.folder);

    m_db->removeFile(a.uid);
    QVERIFY(!m_db->hasUid(a.uid));
    ShareFile untouched = newShareFile("keep", "/k", "", "", true);
    const ShareFile before = untouched;
    QVERIFY(!m_db->getFile(a.uid, &untouched));
    QCOMPARE(untouched.uid, before.uid);
    QCOMPARE(untouched.name, before.name);
    QVERIFY(untouched.folder);
}

void TestShareFilesDb::ordering_data()
{
    QTest::addColumn<int>("filter");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("all: folders first") << int(ShareFilesDb::All)
                                        << QStringList{"Music", "docs", "zeta", "B.txt", "a.txt", "c.txt"};
    QTest::newRow("files") << int(ShareFilesDb::FilesOnly) << QStringList{"B.txt", "a.txt", "c.txt"};
    QTest::newRow("folders") << int(ShareFilesDb::FoldersOnly) << QStringList{"Music", "docs", "zeta"};
}

void TestShareFilesDb::ordering()
{
    for (const char *name : {"c.txt", "a.txt", "B.txt"})
        m_db->addFile(newShareFile(name, std::string("/f/") + name, "text/plain", "", false));
    for (const char *name : {"zeta", "docs", "Music"})
        m_db->addFile(newShareFile(name, std::string("/d/") + name, "", "", true));
    QFETCH(int, filter);
    std::vector<ShareFile> files{newShareFile("first", "/x", "", "", false)};
    m_db->listFiles(filter, &files);
    QFETCH(QStringList, expected);
    expected.prepend("first"); // appended to, not cleared
    QCOMPARE(names(files), expected);
}

void TestShareFilesDb::jsonForm()
{
    const ShareFile f = newShareFile("Фото", "/home/u/Фото", "", "t", true);
    JsonPtr o = shareFileToJson(f);
    QCOMPARE(jsonText(o.get()), "{ \"uid\": \"" + f.uid +
                                    "\", \"name\": \"Фото\", \"uri\": \"\\/home\\/u\\/Фото\", \"mime\": \"\", "
                                    "\"thumb\": \"t\", \"isFolder\": true }");
    const ShareFile back = shareFileFromJson(jsonParse(jsonText(o.get())).get());
    QCOMPARE(back.uid, f.uid);
    QCOMPARE(back.name, f.name);
    QCOMPARE(back.uri, f.uri);
    QVERIFY(back.folder);
    const ShareFile blank = shareFileFromJson(jsonParse("{\"name\": \"n\"}").get());
    QVERIFY(blank.uid.empty() && blank.uri.empty() && !blank.folder);
}

void TestShareFilesDb::processWideStoreLivesInTheDataFolder()
{
    TempDataHome home;
    ShareFilesDb &db = ShareFilesDb::instance();
    QCOMPARE(&db, &ShareFilesDb::instance());
    // The first opening may race with other threads; each must find it open.
    std::vector<std::thread> threads;
    std::atomic<int> opened{0};
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] { opened += db.open() ? 1 : 0; });
    for (auto &t : threads)
        t.join();
    QCOMPARE(opened.load(), 4);
    QCOMPARE(db.path(), home.dataFolderPath() + "/share");
    db.setEnabled(true);
    db.addFile(newShareFile("n", "/u", "", "", false));

    // What it wrote is in the file, readable by another connection.
    ShareFilesDb other(home.dataFolderPath() + "/share");
    QVERIFY(other.isEnabled());
    std::vector<ShareFile> files;
    other.listFiles(ShareFilesDb::All, &files);
    QCOMPARE(files.size(), size_t(1));

    // Point it away again so later tests and the process exit leave the folder alone.
    QVERIFY(db.reopen(m_dir.path().toStdString() + "/instance.share"));
    QVERIFY(!db.isEnabled());
}

void TestShareFilesDb::unopenableFileAnswersNothing()
{
    QVERIFY(QDir().mkpath(m_dir.path() + "/folder.share"));
    ShareFilesDb db(m_dir.path().toStdString() + "/folder.share");
    QVERIFY(!db.open());
    QVERIFY(!db.isEnabled());
    db.setEnabled(true);
    db.addFile(newShareFile("n", "/u", "", "", false));
    std::vector<ShareFile> files;
    db.listFiles(ShareFilesDb::All, &files);
    QVERIFY(files.empty());
    ShareFile f;
    QVERIFY(!db.getFile("x", &f));
    QVERIFY(!db.hasUid("x"));
    QVERIFY(!db.hasUri("/u"));
}

QTEST_GUILESS_MAIN(TestShareFilesDb)
#include "tst_sharefilesdb.moc"
