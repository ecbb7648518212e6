// The SQLite access layer: statements, column lookup, value conversions,
// counted transactions, the statement builder and open-or-create.
#include "store/BuildWriteCommand.h"
#include "store/Sqlite3DB.h"
#include "store/Sqlite3Value.h"

#include <QtTest>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// Records every statement text the connection runs.
int traceStatements(unsigned, void *ctx, void *p, void *)
{
    auto *log = static_cast<QStringList *>(ctx);
    log->append(QString::fromUtf8(sqlite3_sql(static_cast<sqlite3_stmt *>(p))));
    return 0;
}

const char *kSchema = "CREATE TABLE t(id INTEGER PRIMARY KEY, status INTEGER, \"Status2\" INTEGER, name VARCHAR);"
                      "PRAGMA journal_mode=WAL;";

} // namespace

class TestSqlite3DB : public QObject {
    Q_OBJECT
private slots:
    void init();
    void nestedTransactionsRunOneBeginAndCommit();
    void rollbackClosesAllLevels();
    void columnLookupLowerCasesTheRequest();
    void execOfRowYieldingStatementFails();
    void boundParametersAndNulls();
    void keptStatementsRunAgain();
    void keptStatementsFromSeveralThreads();
    void conversions_data();
    void conversions();
    void textRendering_data();
    void textRendering();
    void buildWriteCommand();
    void openOrCreate();
    void failedSchemaLeavesNoFile();
    void keyIsRefusedWithoutEncryption();

private:
    QTemporaryDir m_dir;
    std::string m_path;
    Sqlite3DB m_db;
    QStringList m_log;
};

void TestSqlite3DB::init()
{
    m_db.close();
    m_path = (m_dir.path() + "/" + QTest::currentTestFunction() + ".db").toStdString();
    QFile::remove(QString::fromStdString(m_path));
    QVERIFY(m_db.openOrCreate(m_path, kSchema));
    m_log.clear();
    sqlite3_trace_v2(m_db.handle(), SQLITE_TRACE_STMT, traceStatements, &m_log);
}

void TestSqlite3DB::nestedTransactionsRunOneBeginAndCommit()
{
    QVERIFY(m_db.commit()); // depth 0: nothing to do
    QVERIFY(m_log.isEmpty());
    for (int i = 0; i < 3; ++i)
        QVERIFY(m_db.beginTransaction());
    QCOMPARE(m_db.transactionDepth(), 3);
    QVERIFY(m_db.exec("insert into t(status) values(1)"));
    for (int i = 0; i < 3; ++i)
        QVERIFY(m_db.commit());
    QCOMPARE(m_log.filter("TRANSACTION"), QStringList({"BEGIN TRANSACTION", "COMMIT TRANSACTION"}));
    QCOMPARE(m_db.transactionDepth(), 0);
}

void TestSqlite3DB::rollbackClosesAllLevels()
{
    QVERIFY(m_db.beginTransaction());
    QVERIFY(m_db.beginTransaction());
    QVERIFY(m_db.exec("insert into t(status) values(1)"));
    QVERIFY(m_db.rollback());
    QCOMPARE(m_db.transactionDepth(), 0);
    QCOMPARE(m_log.filter("ROLLBACK").size(), 1);
    QVERIFY(m_db.rollback()); // depth 0: no SQL
    QCOMPARE(m_log.filter("ROLLBACK").size(), 1);
    Sqlite3ResultSet rs;
    QVERIFY(m_db.query("select count(*) as n from t", rs));
    QVERIFY(rs.next());
    QCOMPARE(rs.getInt("n"), 0);

    // A transaction SQLite already ended (as a failed COMMIT may) leaves no
    // level behind: the next one begins for real.
    QVERIFY(m_db.beginTransaction());
    QVERIFY(m_db.exec("ROLLBACK"));
    m_db.rollback();
    QCOMPARE(m_db.transactionDepth(), 0);
    const int begins = m_log.filter("BEGIN").size();
    QVERIFY(m_db.beginTransaction());
    QCOMPARE(m_log.filter("BEGIN").size(), begins + 1);
    QVERIFY(m_db.commit());
}

void TestSqlite3DB::columnLookupLowerCasesTheRequest()
{
    QVERIFY(m_db.exec("insert into t(status, \"Status2\", name) values(7, 8, 'x')"));
    Sqlite3ResultSet rs;
    QVERIFY(m_db.query("select * from t", rs));
    QCOMPARE(rs.row(), -1);
    QVERIFY(rs.next());
    QCOMPARE(rs.row(), 0);
    QCOMPARE(rs.getInt("STATUS"), 7);
    QCOMPARE(rs.columnIndex("Status2"), -1); // reported as "Status2": never found
    QCOMPARE(rs.getInt("Status2"), 0);
    QCOMPARE(rs.getText("nosuch"), std::string());
    QVERIFY(!rs.next());
}

void TestSqlite3DB::execOfRowYieldingStatementFails()
{
    QVERIFY(!m_db.exec("select 1"));
    QVERIFY(!m_db.exec("not sql at all"));
    QVERIFY(!m_db.errorMessage().empty());
}

void TestSqlite3DB::boundParametersAndNulls()
{
    Sqlite3Command cmd("insert into t(status, name) values(?, ?)");
    cmd.addInt64(int64_t(1) << 40).addText("na'me");
    QVERIFY(m_db.exec(cmd));
    QVERIFY(m_db.exec(Sqlite3Command("insert into t(status, name) values(?, ?)").addNull().addNull()));

    Sqlite3Command sel("select status, name from t where name=?");
    sel.addText("na'me");
    Sqlite3ResultSet rs;
    QVERIFY(m_db.query(std::move(sel), rs));
    QVERIFY(rs.next());
    QCOMPARE(rs.getInt64("status"), int64_t(1) << 40);
    QCOMPARE(rs.getText("name"), std::string("na'me"));

    QVERIFY(m_db.query("select status, name from t where name is null", rs));
    QVERIFY(rs.next());
    QCOMPARE(rs.getInt("status"), 0);
    QCOMPARE(rs.getText("name"), std::string());
}

// Statements run again come from the connection's compiled ones: each run
// gets its own parameters, a failure still says why, a schema change in
// between is followed, and closing lets go of them all.
void TestSqlite3DB::keptStatementsRunAgain()
{
    const std::string insert = "insert into t(id, status, name) values(?, ?, ?)";
    for (int i = 1; i <= 3; ++i)
        QVERIFY(m_db.exec(Sqlite3Command(insert).addInt(i).addInt(i * 10).addText("n" + std::to_string(i))));
    // The same text with an id that is taken: the constraint, not a stale binding.
    QVERIFY(!m_db.exec(Sqlite3Command(insert).addInt(2).addInt(0).addText("dup")));
    QVERIFY2(m_db.errorMessage().find("UNIQUE") != std::string::npos, m_db.errorMessage().c_str());
    // Fewer parameters than the last run: the ones left unbound are null.
    QVERIFY(m_db.exec(Sqlite3Command(insert).addInt(4)));

    QVERIFY(m_db.exec("alter table t add column extra INTEGER default 7"));
    QVERIFY(m_db.exec(Sqlite3Command(insert).addInt(5).addInt(50).addText("n5")));
    // More statement texts than are kept: the oldest are compiled anew.
    for (size_t i = 0; i < Sqlite3DB::kMaxKeptStatements + 2; ++i)
        QVERIFY(m_db.exec("update t set extra=" + std::to_string(i) + " where id=5"));
    QVERIFY(m_db.exec(Sqlite3Command(insert).addInt(6).addInt(60).addText("n6")));

    QStringList rows;
    {
        Sqlite3ResultSet rs;
        QVERIFY(m_db.query("select id, status, name, extra from t order by id", rs));
        while (rs.next())
            rows << QStringLiteral("%1 %2 %3 %4")
                        .arg(rs.getInt("id"))
                        .arg(rs.getInt("status"))
                        .arg(QString::fromStdString(rs.getText("name")))
                        .arg(rs.getInt("extra"));
    }
    QCOMPARE(rows, QStringList({"1 10 n1 7", "2 20 n2 7", "3 30 n3 7", "4 0  7", "5 50 n5 17", "6 60 n6 7"}));

    // Nothing keeps the database after close: a new connection may remove
    // the journal mode's files and start over.
    m_db.close();
    QVERIFY(!QFile::exists(QString::fromStdString(m_path + "-wal")));
    QVERIFY(m_db.openOrCreate(m_path, kSchema));
    QVERIFY(m_db.exec(Sqlite3Command(insert).addInt(7).addInt(70).addText("n7")));
}

// One connection used by several threads at once (as the share store's is):
// every run of a kept statement has its own parameters.
void TestSqlite3DB::keptStatementsFromSeveralThreads()
{
    constexpr int kThreads = 4;
    constexpr int kEach = 300;
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const int id = t * kEach + i + 1;
                if (!m_db.exec(Sqlite3Command("insert into t(id, status, name) values(?, ?, ?)")
                                   .addInt(id)
                                   .addInt(id * 3)
                                   .addText("n" + std::to_string(id))))
                    ++failed;
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    QCOMPARE(failed.load(), 0);
    Sqlite3ResultSet rs;
    QVERIFY(m_db.query("select count(*) as n, sum(status = id * 3 and name = 'n' || id) as good from t", rs));
    QVERIFY(rs.next());
    QCOMPARE(rs.getInt("n"), kThreads * kEach);
    QCOMPARE(rs.getInt("good"), kThreads * kEach);
}

void TestSqlite3DB::conversions_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("asInt");
    QTest::addColumn<qint64>("asInt64");
    QTest::addColumn<double>("asDouble");

    auto bytes = [](auto v) { return QByteArray(reinterpret_cast<const char *>(&v), sizeof v); };
    QTest::newRow("int") << 1 << bytes(int32_t(-5)) << -5 << qint64(-5) << -5.0;
    QTest::newRow("int with 3 bytes") << 1 << QByteArray(3, '\1') << 0 << qint64(0) << 0.0;
    QTest::newRow("int64 truncated to 32 bits")
        << 2 << bytes(int64_t(0x100000002LL)) << 2 << qint64(0x100000002LL) << 4294967298.0;
    QTest::newRow("double truncates") << 3 << bytes(-7.9) << -7 << qint64(-7) << -7.9;
    QTest::newRow("double beyond 32 bits") << 3 << bytes(1e12) << 0 << qint64(1000000000000LL) << 1e12;
    QTest::newRow("text two digits and letters") << 5 << QByteArray("42abc") << 42 << qint64(42) << 42.0;
    QTest::newRow("text letters") << 5 << QByteArray("abc") << 0 << qint64(0) << 0.0;
    QTest::newRow("text empty") << 5 << QByteArray() << 0 << qint64(0) << 0.0;
    QTest::newRow("text out of 32-bit range")
        << 5 << QByteArray("99999999999") << 0 << qint64(99999999999LL) << 99999999999.0;
    QTest::newRow("blob number") << 4 << QByteArray("12") << 12 << qint64(12) << 12.0;
    QTest::newRow("null") << 0 << QByteArray() << 0 << qint64(0) << 0.0;
}

void TestSqlite3DB::conversions()
{
    QFETCH(int, tag);
    QFETCH(QByteArray, payload);
    QFETCH(int, asInt);
    QFETCH(qint64, asInt64);
    QFETCH(double, asDouble);
    const Sqlite3Value v(static_cast<Sqlite3Value::Tag>(tag), payload.toStdString());
    QCOMPARE(v.toInt(), asInt);
    QCOMPARE(v.toInt64(), asInt64);
    QCOMPARE(v.toDouble(), asDouble);
}

void TestSqlite3DB::textRendering_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("text");
    auto bytes = [](auto v) { return QByteArray(reinterpret_cast<const char *>(&v), sizeof v); };
    QTest::newRow("int") << 1 << bytes(int32_t(-12)) << QByteArray("-12");
    QTest::newRow("int wrong size") << 1 << QByteArray(2, 'x') << QByteArray("0");
    QTest::newRow("int64") << 2 << bytes(int64_t(1) << 40) << QByteArray("1099511627776");
    QTest::newRow("double") << 3 << bytes(1.5) << QByteArray("1.500000");
    QTest::newRow("double wrong size") << 3 << QByteArray(1, 'x') << QByteArray("0.000000");
    QTest::newRow("blob") << 4 << QByteArray("\x01\x02", 2) << QByteArray("\x01\x02", 2);
    QTest::newRow("null") << 0 << QByteArray() << QByteArray();
}

void TestSqlite3DB::textRendering()
{
    QFETCH(int, tag);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, text);
    const Sqlite3Value v(static_cast<Sqlite3Value::Tag>(tag), payload.toStdString());
    QCOMPARE(QByteArray::fromStdString(v.toText()), text);
}

void TestSqlite3DB::buildWriteCommand()
{
    Sqlite3Row row;
    row["val"] = Sqlite3Value::fromText("v");
    row["name"] = Sqlite3Value::fromText("n");
    Sqlite3Command cmd = ::buildWriteCommand(row, "setting", {}, "REPLACE INTO");
    QCOMPARE(cmd.sql(), std::string("REPLACE INTO [setting]([name],[val]) VALUES(?,?)"));
    QCOMPARE(cmd.params().size(), size_t(2));

    Sqlite3Row t;
    t["status"] = Sqlite3Value::fromInt(3);
    t["id"] = Sqlite3Value::fromInt64(9);
    t["name"] = Sqlite3Value::null();
    t["Status2"] = Sqlite3Value::fromInt(4);
    cmd = ::buildWriteCommand(t, "t", {"STATUS2"}, "INSERT INTO");
    QCOMPARE(cmd.sql(), std::string("INSERT INTO [t]([id],[name],[status]) VALUES(?,?,?)"));
    QVERIFY(m_db.exec(cmd));
    Sqlite3ResultSet rs;
    QVERIFY(m_db.query("select * from t", rs));
    QVERIFY(rs.next());
    QCOMPARE(rs.getInt("id"), 9);
    QCOMPARE(rs.getInt("status"), 3);
    QVERIFY(!m_db.exec(cmd)); // a second INSERT of the same key fails
}

void TestSqlite3DB::openOrCreate()
{
    // Already open: nothing happens.
    QVERIFY(m_db.openOrCreate(m_path, "this would fail;"));
    m_db.close();
    // Existing file: opened, schema not run again.
    QVERIFY(m_db.openOrCreate(m_path, "this would fail;"));
    Sqlite3ResultSet rs;
    QVERIFY(m_db.query("pragma journal_mode", rs));
    QVERIFY(rs.next());
    QCOMPARE(rs.getText("journal_mode"), std::string("wal"));

    // Something that exists but cannot be opened is reported with its code, and closed again.
    Sqlite3DB bad;
    const std::string folder = (m_dir.path() + "/a-folder.db").toStdString();
    QVERIFY(QDir().mkpath(QString::fromStdString(folder)));
    Sqlite3DB::OpenFailure failure = Sqlite3DB::OpenFailure::None;
    std::string message;
    int code = 0;
    QVERIFY(!bad.openOrCreate(folder, kSchema, &failure, &message, &code));
    QCOMPARE(failure, Sqlite3DB::OpenFailure::OpenExisting);
    QCOMPARE(code, SQLITE_CANTOPEN);
    QVERIFY(!message.empty());
    QVERIFY(!bad.isOpen());
}

void TestSqlite3DB::failedSchemaLeavesNoFile()
{
    Sqlite3DB db;
    const std::string path = (m_dir.path() + "/bad-schema.db").toStdString();
    Sqlite3DB::OpenFailure failure = Sqlite3DB::OpenFailure::None;
    std::string message;
    QVERIFY(!db.openOrCreate(path, "CREATE TABLE a(x); CREATE TABLE a(x);", &failure, &message));
    QCOMPARE(failure, Sqlite3DB::OpenFailure::Script);
    QCOMPARE(message, std::string("table a already exists"));
    QVERIFY(!db.isOpen());
    QVERIFY(!QFile::exists(QString::fromStdString(path)));
    // The next call tries again.
    QVERIFY(db.openOrCreate(path, kSchema));
}

void TestSqlite3DB::keyIsRefusedWithoutEncryption()
{
    Sqlite3DB db;
    QVERIFY(!db.open(m_path, "secret", SQLITE_OPEN_READWRITE));
    QVERIFY(!db.isOpen());
    QVERIFY(!db.errorMessage().empty());
    QVERIFY(db.open(m_path, std::string(), SQLITE_OPEN_READWRITE));
}

QTEST_GUILESS_MAIN(TestSqlite3DB)
#include "tst_sqlite3db.moc"
