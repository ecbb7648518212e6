// The real program as a process: one running service per data folder, a
// crashed holder never blocks the next start, signals end it cleanly, a data
// folder it cannot use stops it with one clear line, the command line
// answers bad usage with one line and its exit code, and only the desktop
// program maps the screens' libraries.
#include "FreePort.h"
#include "TempDataHome.h"

#include <QJsonDocument>
#include <QTcpSocket>
#include <QUuid>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

class TestInstance : public QObject {
    Q_OBJECT
private slots:
    void secondServiceStartSaysSo();
    void desktopStartWhileHeldEndsQuietly();
    void desktopStartOpensTheWindow();
    void usageErrors_data();
    void usageErrors();
    void simultaneousStartsLeaveOneRunning();
    void killedHolderDoesNotBlock();
    void signalsEndCleanly_data();
    void signalsEndCleanly();
    void unusableDataFolder_data();
    void unusableDataFolder();
    void serviceMapsNoScreenLibrary();
    void desktopStartWithoutItsModuleSaysSo();

private:
    static QProcessEnvironment env(const TempDataHome &home)
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("HOME", home.path() + "/home");
        e.insert("XDG_DATA_HOME", home.path() + "/data");
        return e;
    }
    // A service command: it holds the data folder until a signal ends it.
    static QStringList service(const TempDataHome &home) { return {"receive", "--to", home.path() + "/in"}; }
    // An identity on a free port, so that the services never meet another program's,
    // and with a password, so that a receiver has nothing to warn about.
    static void useFreePort(const TempDataHome &home)
    {
        const QString folder = QString::fromStdString(home.dataFolderPath());
        if (QFile::exists(folder + "/server"))
            return;
        QDir().mkpath(folder);
        QFile settings(folder + "/server");
        settings.open(QIODevice::WriteOnly);
        settings.write(
            QString("{ \"uid\": \"%1\", \"name\": \"test\", \"type\": \"win\", \"pwd\": \"test\", \"port\": %2 }")
                .arg(QUuid::createUuid().toString(QUuid::WithoutBraces))
                .arg(freePort())
                .toUtf8());
    }
    // Starts the program and waits until it holds the lock and runs its loop.
    static bool startRunning(QProcess &p, const TempDataHome &home)
    {
        useFreePort(home);
        p.setProcessEnvironment(env(home));
        p.start(LANFERRY_BIN, service(home));
        if (!p.waitForStarted())
            return false;
        // Running means: its service answers on its port (by then it has
        // taken the lock and watches for signals), however slow the start.
        QFile settings(QString::fromStdString(home.dataFolderPath()) + "/server");
        if (!settings.open(QIODevice::ReadOnly))
            return false;
        const int port = QJsonDocument::fromJson(settings.readAll())["port"].toInt();
        return QTest::qWaitFor(
                   [&] {
                       if (p.state() != QProcess::Running)
                           return true;
                       QTcpSocket probe;
                       probe.connectToHost(QHostAddress::LocalHost, quint16(port));
                       return probe.waitForConnected(200);
                   },
                   20000) &&
               p.state() == QProcess::Running;
    }
    static int runToEnd(const TempDataHome &home, const QStringList &args, QByteArray *err = nullptr)
    {
        QProcess p;
        p.setProcessEnvironment(env(home));
        p.start(LANFERRY_BIN, args);
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

void TestInstance::secondServiceStartSaysSo()
{
    TempDataHome home;
    QProcess first;
    QVERIFY(startRunning(first, home));
    QByteArray err;
    QCOMPARE(runToEnd(home, {"devices", "--wait", "0"}, &err), 3);
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.startsWith("lanferry: another instance is running"), err.constData());
    QCOMPARE(first.state(), QProcess::Running);
    stop(first);
    QCOMPARE(first.exitCode(), 0);
}

void TestInstance::desktopStartWhileHeldEndsQuietly()
{
    TempDataHome home;
    QProcess first;
    QVERIFY(startRunning(first, home));
    QByteArray err;
    QCOMPARE(runToEnd(home, {}, &err), 0);
    QVERIFY(err.isEmpty());
    QCOMPARE(first.state(), QProcess::Running);
    stop(first);
    QCOMPARE(first.exitCode(), 0);
}

void TestInstance::desktopStartOpensTheWindow()
{
    TempDataHome home;
    useFreePort(home);
    QFile settings(QString::fromStdString(home.dataFolderPath()) + "/server");
    QVERIFY(settings.open(QIODevice::ReadOnly));
    const int port = QJsonDocument::fromJson(settings.readAll())["port"].toInt();
    QTemporaryDir runtime;
    QProcessEnvironment e = env(home);
    e.insert("XDG_RUNTIME_DIR", runtime.path());
    e.insert("QT_QPA_PLATFORM", "offscreen");
    e.insert("QT_QUICK_BACKEND", "software");
    e.insert("LSAN_OPTIONS", "print_suppressions=0:suppressions=" LANFERRY_GUI_LSAN);
    e.insert("LANFERRY_TRACE", "1");
    QProcess desktop;
    desktop.setProcessEnvironment(e);
    desktop.start(LANFERRY_BIN, QStringList());
    // The window has loaded once its page started the services.
    QVERIFY(QTest::qWaitFor(
        [port] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, quint16(port));
            return probe.waitForConnected(200);
        },
        30000));
    // A second start ends quietly, and the first shows its window.
    QByteArray err;
    QCOMPARE(runToEnd(home, {}, &err), 0);
    QVERIFY(err.isEmpty());
    QByteArray log;
    QVERIFY(QTest::qWaitFor(
        [&] {
            log += desktop.readAllStandardError();
            return log.contains("lanferry: raise:");
        },
        10000));
    QCOMPARE(desktop.state(), QProcess::Running);
    stop(desktop);
    QCOMPARE(desktop.exitStatus(), QProcess::NormalExit);
    QCOMPARE(desktop.exitCode(), 0);
    // The window was raised, shown and not minimised, and no screen logged a warning.
    log += desktop.readAllStandardError();
    // The offscreen platform has no stacking order and says so; a desktop's raises.
    log.replace("This plugin does not support raise()\n", "");
    QCOMPARE(log, QByteArray("lanferry: raise: visible 1, minimised 0\n"));
}

void TestInstance::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown command") << QStringList{"frobnicate"} << "unknown command";
    QTest::newRow("unknown option") << QStringList{"tasks", "--bogus"} << "Unknown option";
    QTest::newRow("receive without folder") << QStringList{"receive"} << "--to";
    QTest::newRow("send without paths") << QStringList{"send", "10.0.0.1"} << "PATH";
    QTest::newRow("send to a bad port") << QStringList{"send", "10.0.0.1:0", "/"} << "not a device address";
    QTest::newRow("send of a missing path") << QStringList{"send", "10.0.0.1", "/no/such/path"} << "no such file";
    QTest::newRow("get without folder") << QStringList{"get", "10.0.0.1"} << "--to";
    QTest::newRow("wait not a number") << QStringList{"devices", "--wait", "soon"} << "--wait";
    QTest::newRow("port out of range") << QStringList{"config", "--port", "70000"} << "--port";
    QTest::newRow("two password options") << QStringList{"config", "--password", "x", "--no-password"} << "exclude";
    QTest::newRow("share needs one mode") << QStringList{"share", "--off", "--list"} << "one of them";
    QTest::newRow("share of a missing path") << QStringList{"share", "/no/such/path"} << "no such file";
    QTest::newRow("resume of a bad id") << QStringList{"resume", "../x"} << "not a task id";
    QTest::newRow("resume of an unknown task") << QStringList{"resume", "0123"} << "no received task";
}

void TestInstance::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    TempDataHome home;
    QByteArray err;
    QCOMPARE(runToEnd(home, args, &err), 2);
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.startsWith("lanferry: ") && err.contains(message.toUtf8()), err.constData());
}

void TestInstance::simultaneousStartsLeaveOneRunning()
{
    for (int round = 0; round < 5; ++round) {
        TempDataHome home;
        useFreePort(home);
        QProcess a, b;
        a.setProcessEnvironment(env(home));
        b.setProcessEnvironment(env(home));
        a.start(LANFERRY_BIN, service(home));
        b.start(LANFERRY_BIN, service(home));
        QVERIFY(a.waitForStarted() && b.waitForStarted());
        // The loser ends on its own, saying so with exit code 3; the winner keeps running.
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
        QCOMPARE(loser.exitCode(), 3);
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
    QCOMPARE(runToEnd(home, service(home), &err), 1);
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.startsWith("lanferry: "), err.constData());
    if (what == "settings-folder")
        QVERIFY(QFileInfo(folder + "/server").isDir()); // nothing replaced
}

void TestInstance::serviceMapsNoScreenLibrary()
{
    TempDataHome home;
    QProcess p;
    QVERIFY(startRunning(p, home)); // serving: every library it needs is loaded
    QFile maps(QString("/proc/%1/maps").arg(p.processId()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    QVERIFY(mapped.contains("libQt5Core.so"));
    for (const char *name : {"libQt5Quick.so", "libQt5Qml.so", "libQt5Widgets.so", "lanferry-desktop.so"})
        QVERIFY2(!mapped.contains(name), name);
    stop(p);
    QCOMPARE(p.exitCode(), 0);
}

void TestInstance::desktopStartWithoutItsModuleSaysSo()
{
    TempDataHome home;
    useFreePort(home);
    QTemporaryDir bin;
    const QString copy = bin.filePath("lanferry");
    QVERIFY(QFile::copy(LANFERRY_BIN, copy));
    QProcess p;
    p.setProcessEnvironment(env(home));
    p.start(copy, QStringList());
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 1);
    const QByteArray err = p.readAllStandardError();
    QVERIFY2(err.startsWith("lanferry: cannot load the desktop program: ") && err.count('\n') == 1, err.constData());
    // The data folder is free again for the next start.
    QProcess next;
    QVERIFY(startRunning(next, home));
    stop(next);
}

QTEST_GUILESS_MAIN(TestInstance)
#include "tst_instance.moc"
