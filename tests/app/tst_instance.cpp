// The real program as a process: one instance per data folder, a crashed
// holder never blocks the next start, signals end it cleanly, and a data folder
// it cannot use stops it with one clear line.
#include "TempDataHome.h"

#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

class TestInstance : public QObject {
    Q_OBJECT
private slots:
    void secondStartEndsQuietly();
    void simultaneousStartsLeaveOneRunning();
    void killedHolderDoesNotBlock();
    void signalsEndCleanly_data();
    void signalsEndCleanly();
    void unusableDataFolder_data();
    void unusableDataFolder();

private:
    static QProcessEnvironment env(const TempDataHome &home)
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("HOME", home.path() + "/home");
        e.insert("XDG_DATA_HOME", home.path() + "/data");
        return e;
    }
    // Starts the program and waits until it holds the lock and runs its loop.
    static bool startRunning(QProcess &p, const TempDataHome &home)
    {
        p.setProcessEnvironment(env(home));
        p.start(LANFERRY_BIN, QStringList());
        if (!p.waitForStarted())
            return false;
        // Running means: still alive once the settings file exists.
        const QString settings = QString::fromStdString(home.dataFolderPath()) + "/server";
        for (int i = 0; i < 100 && !QFile::exists(settings); ++i)
            QTest::qWait(50);
        return !p.waitForFinished(300) && p.state() == QProcess::Running;
    }
    static int runToEnd(const TempDataHome &home, QByteArray *err = nullptr)
    {
        QProcess p;
        p.setProcessEnvironment(env(home));
        p.start(LANFERRY_BIN, QStringList());
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished();
            return -1000;
        }
        if (err)
            *err = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2000;
    }
    static void stop(QProcess &p)
    {
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        p.waitForFinished(5000);
    }
};

void TestInstance::secondStartEndsQuietly()
{
    TempDataHome home;
    QProcess first;
    QVERIFY(startRunning(first, home));
    QByteArray err;
    QCOMPARE(runToEnd(home, &err), 0);
    QVERIFY(err.isEmpty());
    QCOMPARE(first.state(), QProcess::Running);
    stop(first);
    QCOMPARE(first.exitCode(), 0);
}

void TestInstance::simultaneousStartsLeaveOneRunning()
{
    for (int round = 0; round < 5; ++round) {
        TempDataHome home;
        QProcess a, b;
        a.setProcessEnvironment(env(home));
        b.setProcessEnvironment(env(home));
        a.start(LANFERRY_BIN, QStringList());
        b.start(LANFERRY_BIN, QStringList());
        QVERIFY(a.waitForStarted() && b.waitForStarted());
        // The loser ends on its own, with exit code 0; the winner keeps running.
        QElapsedTimer t;
        t.start();
        while (a.state() == QProcess::Running && b.state() == QProcess::Running && t.elapsed() < 10000)
            QTest::qWait(20);
        QTest::qWait(300);
        const bool aRuns = a.state() == QProcess::Running;
        const bool bRuns = b.state() == QProcess::Running;
        QVERIFY2(aRuns != bRuns, "exactly one instance must run");
        QProcess &loser = aRuns ? b : a;
        QCOMPARE(loser.exitStatus(), QProcess::NormalExit);
        QCOMPARE(loser.exitCode(), 0);
        stop(aRuns ? a : b);
    }
}

void TestInstance::killedHolderDoesNotBlock()
{
    TempDataHome home;
    QProcess first;
    QVERIFY(startRunning(first, home));
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    QVERIFY(first.waitForFinished(5000));
    QProcess next;
    QVERIFY(startRunning(next, home));
    stop(next);
}

void TestInstance::signalsEndCleanly_data()
{
    QTest::addColumn<int>("sig");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestInstance::signalsEndCleanly()
{
    QFETCH(int, sig);
    TempDataHome home;
    QProcess p;
    QVERIFY(startRunning(p, home));
    ::kill(static_cast<pid_t>(p.processId()), sig);
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit); // the event loop ended; no death by signal
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardError().isEmpty()); // sanitizers would have spoken here
}

void TestInstance::unusableDataFolder_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("settings file is a folder") << "settings-folder";
    QTest::newRow("data folder is a file") << "folder-file";
}

void TestInstance::unusableDataFolder()
{
    QFETCH(QString, what);
    TempDataHome home;
    const QString folder = QString::fromStdString(home.dataFolderPath());
    if (what == "settings-folder") {
        QVERIFY(QDir().mkpath(folder + "/server"));
    } else {
        QVERIFY(QDir().mkpath(home.path() + "/data"));
        QFile f(folder);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QByteArray err;
    QCOMPARE(runToEnd(home, &err), 1);
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.startsWith("lanferry: "), err.constData());
    if (what == "settings-folder")
        QVERIFY(QFileInfo(folder + "/server").isDir()); // nothing replaced
}

QTEST_GUILESS_MAIN(TestInstance)
#include "tst_instance.moc"
