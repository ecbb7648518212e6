// Device identity, the settings file, ids, the data folder and "maxthreads".
#include "TempDataHome.h"

#include "core/AtomicFile.h"
#include "core/DataFolder.h"
#include "core/ServerInfo.h"
#include "core/Uuid.h"

#include <QtTest>

#include <atomic>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

class TestServerInfo : public QObject {
    Q_OBJECT
private slots:
    void firstStartMakesIdentity();
    void portFromFile_data();
    void portFromFile();
    void freshIdentityReplacesUnusableContent_data();
    void freshIdentityReplacesUnusableContent();
    void unreadableFileIsNeverReplaced();
    void everyChangeSeenAtTheNextRead();
    void readOnlyFolderReportsInsteadOfInventing();
    void maskedJson();
    void uuidForm();
    void maxThreads_data();
    void maxThreads();
    void readerNeverSeesHalfFile();

private:
    static std::string settingsPath() { return dataFile("server"); }
    static void writeSettings(const std::string &text) { QVERIFY(writeFileAtomic(settingsPath(), text)); }
};

void TestServerInfo::firstStartMakesIdentity()
{
    TempDataHome home;
    const ServerInfo info = loadServerInfo();
    QVERIFY(QFileInfo(QString::fromStdString(home.dataFolderPath())).isDir());
    QCOMPARE(info.uid.size(), size_t(36));
    QCOMPARE(info.name, std::string("home")); // the last component of $HOME
    QCOMPARE(info.type, std::string("win"));
    QCOMPARE(info.port, 20168);
    QVERIFY(info.pwd.empty());

    std::string text;
    QVERIFY(readWholeFile(settingsPath(), &text));
    QCOMPARE(QString::fromStdString(text),
             QString("{ \"uid\": \"%1\", \"name\": \"home\", \"type\": \"win\", \"port\": 20168 }")
                 .arg(QString::fromStdString(info.uid)));
    // Loaded again, the same identity.
    QCOMPARE(loadServerInfo().uid, info.uid);
}

void TestServerInfo::portFromFile_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("expected");
    QTest::newRow("zero") << "0" << 20168;
    QTest::newRow("too large") << "70000" << 20168;
    QTest::newRow("negative") << "-5" << 20168;
    QTest::newRow("string") << "\"20200\"" << 20200;
    QTest::newRow("valid") << "1" << 1;
    QTest::newRow("missing") << QString() << 20168;
}

void TestServerInfo::portFromFile()
{
    QFETCH(QString, port);
    QFETCH(int, expected);
    TempDataHome home;
    std::string text = "{ \"uid\": \"u-1\", \"name\": \"n\", \"type\": \"win\"";
    if (!port.isNull())
        text += ", \"port\": " + port.toStdString();
    writeSettings(text + " }");
    const ServerInfo info = loadServerInfo();
    QCOMPARE(info.uid, std::string("u-1"));
    QCOMPARE(info.port, expected);
    // The out-of-range port is corrected in memory only.
    std::string after;
    QVERIFY(readWholeFile(settingsPath(), &after));
    QCOMPARE(after, text + " }");
}

void TestServerInfo::freshIdentityReplacesUnusableContent_data()
{
    QTest::addColumn<QString>("content");
    QTest::newRow("not json") << "uid=abc";
    QTest::newRow("empty file") << "";
    QTest::newRow("no uid") << "{ \"name\": \"kept?\", \"pwd\": \"x\", \"port\": 30000 }";
    QTest::newRow("not an object") << "[1, 2]";
}

void TestServerInfo::freshIdentityReplacesUnusableContent()
{
    QFETCH(QString, content);
    TempDataHome home;
    writeSettings(content.toStdString());
    const ServerInfo info = loadServerInfo();
    QCOMPARE(info.uid.size(), size_t(36));
    QCOMPARE(info.name, std::string("home"));
    QCOMPARE(info.port, 20168);
    QVERIFY(info.pwd.empty());
    QCOMPARE(loadServerInfo().uid, info.uid);
}

void TestServerInfo::unreadableFileIsNeverReplaced()
{
    TempDataHome home;
    QVERIFY(QDir().mkpath(QString::fromStdString(settingsPath())));
    std::string error;
    const ServerInfo info = loadServerInfo(&error);
    QVERIFY(info.uid.empty());
    QVERIFY2(error.find("Is a directory") != std::string::npos, error.c_str());
    QVERIFY(QFileInfo(QString::fromStdString(settingsPath())).isDir());
}

void TestServerInfo::everyChangeSeenAtTheNextRead()
{
    TempDataHome home;
    ServerInfo info = loadServerInfo();
    info.pwd = "one";
    QVERIFY(saveServerInfo(info));
    // Old enough for the reading to be kept.
    QTest::qWait(2100);
    QCOMPARE(loadServerInfo().pwd, std::string("one"));
    QCOMPARE(loadServerInfo().pwd, std::string("one"));

    // Rewritten in place, same size: the same file, new content.
    info.pwd = "two";
    {
        QFile f(QString::fromStdString(settingsPath()));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(f.write(QByteArray::fromStdString(jsonText(serverInfoToJson(info, false).get()))) > 0);
    }
    QCOMPARE(loadServerInfo().pwd, std::string("two"));
    info.pwd = "three";
    QVERIFY(saveServerInfo(info));
    QCOMPARE(loadServerInfo().pwd, std::string("three"));

    // Another data folder is another file.
    {
        TempDataHome other;
        QVERIFY(loadServerInfo().uid != info.uid);
    }
    QCOMPARE(loadServerInfo().uid, info.uid);

    QTest::qWait(2100);
    QCOMPARE(loadServerInfo().pwd, std::string("three"));
    QVERIFY(QFile::remove(QString::fromStdString(settingsPath())));
    QVERIFY(QDir().mkpath(QString::fromStdString(settingsPath())));
    std::string error;
    QVERIFY(loadServerInfo(&error).uid.empty());
    QVERIFY(!error.empty());
}

void TestServerInfo::readOnlyFolderReportsInsteadOfInventing()
{
    if (::geteuid() == 0)
        QSKIP("root writes into read-only folders");
    TempDataHome home;
    const std::string folder = dataFolder();
    QVERIFY(::chmod(folder.c_str(), 0500) == 0);
    std::string error;
    const ServerInfo info = loadServerInfo(&error);
    ::chmod(folder.c_str(), 0700);
    QVERIFY(info.uid.empty());
    QVERIFY(!error.empty());
}

void TestServerInfo::maskedJson()
{
    ServerInfo info{"id", "name", "secret", "win", 20168};
    QCOMPARE(
        jsonText(serverInfoToJson(info, true).get()),
        std::string("{ \"uid\": \"id\", \"name\": \"name\", \"type\": \"win\", \"pwd\": \"*\", \"port\": 20168 }"));
    QCOMPARE(jsonString(serverInfoToJson(info, false).get(), "pwd"), std::string("secret"));
    info.pwd.clear();
    JsonPtr open = serverInfoToJson(info, true);
    QVERIFY(!json_object_object_get_ex(open.get(), "pwd", nullptr));

    // Round trip, and a value that is not an object reads as empty.
    info.pwd = "p";
    const ServerInfo back = serverInfoFromJson(serverInfoToJson(info, false).get());
    QCOMPARE(back.uid, info.uid);
    QCOMPARE(back.pwd, info.pwd);
    QCOMPARE(back.port, info.port);
    JsonPtr notObject = jsonParse("\"x\"");
    QCOMPARE(serverInfoFromJson(notObject.get()).port, 0);
}

void TestServerInfo::uuidForm()
{
    const QRegularExpression form("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::string id = newUuid();
        QVERIFY2(form.match(QString::fromStdString(id)).hasMatch(), id.c_str());
        seen.insert(id);
    }
    QCOMPARE(seen.size(), size_t(1000));
}

void TestServerInfo::maxThreads_data()
{
    const int fallback = std::max(1, QThreadPool::globalInstance()->maxThreadCount() / 2);
    QTest::addColumn<QString>("content");
    QTest::addColumn<int>("expected");
    QTest::newRow("missing") << QString() << fallback;
    QTest::newRow("zero") << "0" << fallback;
    QTest::newRow("six") << "6" << 6;
    QTest::newRow("white space and tail") << "  12 threads\n" << 12;
    QTest::newRow("negative") << "-4" << fallback;
    QTest::newRow("not a number") << "many" << fallback;
    QTest::newRow("beyond 32 bits") << "4294967296" << fallback;
}

void TestServerInfo::maxThreads()
{
    QFETCH(QString, content);
    QFETCH(int, expected);
    TempDataHome home;
    if (!content.isNull())
        QVERIFY(writeFileAtomic(dataFile("maxthreads"), content.toStdString()));
    QCOMPARE(readMaxThreads(), expected);
}

void TestServerInfo::readerNeverSeesHalfFile()
{
    TempDataHome home;
    ServerInfo info = loadServerInfo();
    // A long name makes a torn write likely to be seen if writes were not atomic.
    info.name = std::string(200000, 'n');
    QVERIFY(saveServerInfo(info));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        ServerInfo copy = info;
        for (int i = 0; !stop; ++i) {
            copy.port = 1000 + i % 1000;
            saveServerInfo(copy);
        }
    });
    int reads = 0;
    QElapsedTimer timer;
    timer.start();
    bool allGood = true;
    while (timer.elapsed() < 1500) {
        const ServerInfo seen = loadServerInfo();
        allGood = allGood && seen.uid == info.uid && seen.name.size() == info.name.size();
        ++reads;
    }
    stop = true;
    writer.join();
    QVERIFY(reads > 10);
    QVERIFY(allGood);
}

QTEST_GUILESS_MAIN(TestServerInfo)
#include "tst_serverinfo.moc"
