// The folder-transfer database: schema, the trigger's running totals, entry
// bookkeeping, and the folder's status as one file.
#include "store/TaskDirFileDb.h"
#include "store/TaskStore.h"

#include "core/AtomicFile.h"
#include "SchemaDump.h"
#include "TempDataHome.h"

#include <QtTest>

#include <memory>

namespace {

DirTaskEntry entry(const std::string &subpath, bool isdir = false, int64_t total = 100)
{
    DirTaskEntry e;
    e.subpath = subpath;
    e.isdir = isdir;
    e.total = isdir ? 0 : total;
    return e;
}

QStringList subpaths(const std::vector<DirTaskEntry> &entries)
{
    QStringList out;
    for (const auto &e : entries)
        out << QString::fromStdString(e.subpath);
    return out;
}

} // namespace

class TestTaskDirFileDb : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void pathAndSchema();
    void newDatabaseIsDone();
    void finishedSumsOffsetGrowth();
    void failureCountedOnce();
    void insertKeepsExistingRows();
    void insertRefusesUnsafePaths_data();
    void insertRefusesUnsafePaths();
    void pendingInSubpathOrder();
    void resetFailedLeavesFinished();
    void toFileStatus_data();
    void toFileStatus();
    void unopenableDatabaseReadsAsFailed();

private:
    std::unique_ptr<TempDataHome> m_home;
    std::shared_ptr<TaskDirFileDb> m_db;
};

void TestTaskDirFileDb::init()
{
    m_home = std::make_unique<TempDataHome>();
    TransferTask task;
    task.uid = "t1";
    TransferFile folder;
    folder.uid = "d1";
    folder.mime = kDirectoryMime;
    QVERIFY(TaskStore(false).createTask(task, {folder}));
    m_db = openDirDb(TaskKey{"t1", false}, folder);
}

void TestTaskDirFileDb::cleanup()
{
    m_db.reset();
    m_home.reset();
}

void TestTaskDirFileDb::pathAndSchema()
{
    QCOMPARE(m_db->filePath(), m_home->dataFolderPath() + "/tasks_recv/t1/d1.dirdb");
    TransferFile f;
    f.uid = "d2";
    QCOMPARE(openDirDb(TaskKey{"t9", true}, f)->filePath(), m_home->dataFolderPath() + "/tasks_send/t9/d2.dirdb");

    QVERIFY(m_db->ensureOpen());
    QCOMPARE(columnsOf(*m_db, "context"), (QStringList{"finished|INTEGER|1|0|0", "failed|INTEGER|1|0|0",
                                                       "error|VARCHAR|0||0", "desc|VARCHAR|0||0", "dt|INTEGER|0||0"}));
    QCOMPARE(columnsOf(*m_db, "dirtask"),
             (QStringList{"subpath|VARCHAR|0||1", "isdir|INTEGER|0||0", "status|INTEGER|0||0", "total|INTEGER|0||0",
                          "offset|INTEGER|0||0", "error|VARCHAR|0||0"}));
    QCOMPARE(schemaSql(*m_db, "index", "idx_dirtask_status"),
             QString("CREATE INDEX idx_dirtask_status on dirtask(status)"));
    QVERIFY(schemaSql(*m_db, "trigger", "dirtask_update_trigger")
                .startsWith("CREATE TRIGGER dirtask_update_trigger AFTER UPDATE OF status,offset ON dirtask"));
    QCOMPARE(journalMode(*m_db), QString("wal"));
}

void TestTaskDirFileDb::newDatabaseIsDone()
{
    const DirTaskContext ctx = m_db->readContext();
    QVERIFY(ctx.done);
    QCOMPARE(ctx.finished, 0LL);
    QCOMPARE(ctx.failed, 0);
    QCOMPARE(ctx.dt, 0LL);
    QVERIFY(ctx.error.empty() && ctx.desc.empty());
    Sqlite3ResultSet rs;
    QVERIFY(m_db->query("select count(*) as n from context", rs) && rs.next());
    QCOMPARE(rs.getInt("n"), 1);
    QVERIFY(QFileInfo::exists(QString::fromStdString(m_db->filePath())));

    QVERIFY(m_db->setDesc("a/b"));
    QVERIFY(m_db->setDt(1700000000123LL));
    const DirTaskContext later = m_db->readContext();
    QCOMPARE(later.desc, std::string("a/b"));
    QCOMPARE(later.dt, 1700000000123LL);
}

void TestTaskDirFileDb::finishedSumsOffsetGrowth()
{
    QVERIFY(m_db->insertEntries({entry("a", false, 2000), entry("b", false, 2000)}));
    QVERIFY(!m_db->readContext().done);
    QVERIFY(m_db->updateEntry("a", 0, 1000, ""));
    QVERIFY(m_db->updateEntry("a", 0, 1500, ""));
    QCOMPARE(m_db->readContext().finished, 1500LL);
    QVERIFY(m_db->updateEntry("b", 0, 300, ""));
    QVERIFY(m_db->updateEntry("a", 1, std::nullopt, "")); // status alone adds nothing
    QCOMPARE(m_db->readContext().finished, 1800LL);
    QVERIFY(m_db->updateEntry("no/such", 1, 99999, "")); // no row: nothing changes
    QCOMPARE(m_db->readContext().finished, 1800LL);

    std::vector<DirTaskEntry> pending;
    QVERIFY(m_db->pendingEntries(&pending));
    QCOMPARE(subpaths(pending), QStringList{"b"});
    QCOMPARE(pending[0].offset, 300LL);
    QCOMPARE(pending[0].total, 2000LL);
}

void TestTaskDirFileDb::failureCountedOnce()
{
    QVERIFY(m_db->insertEntries({entry("a"), entry("b")}));
    QVERIFY(m_db->updateEntry("a", -3, std::nullopt, "first failure"));
    DirTaskContext ctx = m_db->readContext();
    QCOMPARE(ctx.failed, 1);
    QCOMPARE(ctx.error, std::string("first failure"));
    QVERIFY(m_db->updateEntry("a", -4, std::nullopt, "again"));
    ctx = m_db->readContext();
    QCOMPARE(ctx.failed, 1);
    QCOMPARE(ctx.error, std::string("first failure"));
    QVERIFY(m_db->updateEntry("b", -1, 50, "second entry"));
    ctx = m_db->readContext();
    QCOMPARE(ctx.failed, 2);
    QCOMPARE(ctx.error, std::string("second entry"));
    QCOMPARE(ctx.finished, 50LL);
}

void TestTaskDirFileDb::insertKeepsExistingRows()
{
    QVERIFY(m_db->insertEntries({entry("a"), entry("sub", true)}));
    QVERIFY(m_db->updateEntry("a", 1, 100, ""));
    DirTaskEntry again = entry("a", false, 555);
    std::vector<bool> inserted;
    QVERIFY(m_db->insertEntries({again, entry("sub/x"), entry("sub", true), entry("sub/x")}, &inserted));
    QCOMPARE(inserted, (std::vector<bool>{false, true, false, false}));
    QCOMPARE(m_db->hasEntry("a"), 1);
    QCOMPARE(m_db->hasEntry("sub/x"), 1);
    QCOMPARE(m_db->hasEntry("zzz"), 0);

    Sqlite3ResultSet rs;
    QVERIFY(m_db->query("select * from dirtask where subpath='a'", rs) && rs.next());
    QCOMPARE(rs.getInt("status"), 1);
    QCOMPARE(rs.getInt64("offset"), 100LL);
    QCOMPARE(rs.getInt64("total"), 100LL);
    std::vector<DirTaskEntry> pending;
    QVERIFY(m_db->pendingEntries(&pending));
    QCOMPARE(subpaths(pending), (QStringList{"sub", "sub/x"}));
    QVERIFY(pending[0].isdir);
    QVERIFY(!pending[1].isdir);
}

void TestTaskDirFileDb::insertRefusesUnsafePaths_data()
{
    QTest::addColumn<QByteArray>("subpath");
    QTest::newRow("parent") << QByteArray("../x");
    QTest::newRow("climbing") << QByteArray("a/../../b");
    QTest::newRow("absolute") << QByteArray("/etc/passwd");
    QTest::newRow("empty component") << QByteArray("a//b");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("control char") << QByteArray("a\nb");
}

void TestTaskDirFileDb::insertRefusesUnsafePaths()
{
    QFETCH(QByteArray, subpath);
    QVERIFY(!m_db->insertEntries({entry("fine"), entry(subpath.toStdString())}));
    QVERIFY(!m_db->lastError().empty());
    QCOMPARE(m_db->hasEntry("fine"), 0); // nothing of the list was written
}

void TestTaskDirFileDb::pendingInSubpathOrder()
{
    QVERIFY(m_db->insertEntries(
        {entry("b"), entry("a", true), entry("a/z"), entry("a-b"), entry("a/c", true), entry("B")}));
    QVERIFY(m_db->updateEntry("a-b", 1, 100, ""));
    std::vector<DirTaskEntry> pending{entry("stale")};
    QVERIFY(m_db->pendingEntries(&pending));
    // Byte order: "B" < "a" < "a/c" < "a/z" < "b".
    QCOMPARE(subpaths(pending), (QStringList{"B", "a", "a/c", "a/z", "b"}));
}

void TestTaskDirFileDb::resetFailedLeavesFinished()
{
    QVERIFY(m_db->insertEntries({entry("a"), entry("b"), entry("c")}));
    QVERIFY(m_db->updateEntry("a", -1, 40, "x"));
    QVERIFY(m_db->updateEntry("b", -2, 60, "y"));
    QVERIFY(m_db->updateEntry("c", 1, 100, ""));
    QCOMPARE(m_db->readContext().failed, 2);

    QVERIFY(m_db->resetFailed());
    const DirTaskContext ctx = m_db->readContext();
    QCOMPARE(ctx.failed, 0);
    QVERIFY(ctx.error.empty());
    QCOMPARE(ctx.finished, 200LL);
    QVERIFY(!ctx.done);
    std::vector<DirTaskEntry> pending;
    QVERIFY(m_db->pendingEntries(&pending));
    QCOMPARE(subpaths(pending), (QStringList{"a", "b"}));
    QVERIFY(pending[0].error.empty());
    QCOMPARE(pending[1].offset, 60LL); // resumes where it stopped
    QCOMPARE(::toFileStatus(ctx).status, 0);
}

void TestTaskDirFileDb::toFileStatus_data()
{
    QTest::addColumn<bool>("done");
    QTest::addColumn<int>("failed");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    QTest::newRow("pending") << false << 0 << 0 << "";
    QTest::newRow("done") << true << 0 << 1 << "";
    QTest::newRow("pending with a failure") << false << 2 << -1 << "ctx error";
    QTest::newRow("done with a failure") << true << 1 << -1 << "ctx error";
}

void TestTaskDirFileDb::toFileStatus()
{
    QFETCH(bool, done);
    QFETCH(int, failed);
    DirTaskContext ctx;
    ctx.done = done;
    ctx.failed = failed;
    ctx.finished = 12345;
    ctx.error = "ctx error";
    ctx.desc = "sub/dir";
    const TransferFileStatus s = ::toFileStatus(ctx);
    QTEST(s.status, "status");
    QTEST(QString::fromStdString(s.error), "error");
    QCOMPARE(s.offset, 12345LL);
    QCOMPARE(s.desc, std::string("sub/dir"));
    QVERIFY(!s.remote);
}

void TestTaskDirFileDb::unopenableDatabaseReadsAsFailed()
{
    // Not a database: the reads fail, and the folder must not look finished.
    QVERIFY(writeFileAtomic(m_db->filePath(), std::string(4096, 'x')));
    DirTaskContext ctx = m_db->readContext();
    QVERIFY(!ctx.done);
    QCOMPARE(ctx.failed, 1);
    QCOMPARE(ctx.error, std::string("file is not a database"));
    QCOMPARE(::toFileStatus(ctx).status, -1);
    QVERIFY(!m_db->insertEntries({entry("a")}));
    QCOMPARE(m_db->lastError(), std::string("file is not a database"));

    // A folder in its place cannot be opened at all.
    TransferFile f;
    f.uid = "d2";
    auto db = openDirDb(TaskKey{"t1", false}, f);
    QVERIFY(QDir().mkpath(QString::fromStdString(db->filePath())));
    ctx = db->readContext();
    QCOMPARE(ctx.failed, 1);
    QCOMPARE(ctx.error, std::string("DB Error(14): unable to open database file"));
    QVERIFY(!db->setDesc("x"));
    QVERIFY(!db->resetFailed());

    // Ids that cannot name a file.
    f.uid = "../../x";
    auto bad = openDirDb(TaskKey{"t1", false}, f);
    ctx = bad->readContext();
    QCOMPARE(ctx.failed, 1);
    QCOMPARE(ctx.error, std::string("Invalid task or file ID."));
    QCOMPARE(bad->hasEntry("a"), -1);
}

QTEST_GUILESS_MAIN(TestTaskDirFileDb)
#include "tst_taskdirfiledb.moc"
