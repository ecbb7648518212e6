// Sharing and the receiver's safety between real hosts of the test bed: a
// peer's shares downloaded with "get" and cut off when sharing is switched
// off, a save folder that runs out of space, and a sender that tries to
// place files outside the save folder.
#include "LanferryBed.h"

#include <QProcess>

#include <csignal>

using namespace bed;

namespace {

constexpr qint64 MiB = 1024 * 1024;
const int A = 1, B = 2, Evil = 3;

// A list of "lanferry share --list" lines: id -> path.
QMap<QString, QString> shareIds(const QStringList &lines)
{
    QMap<QString, QString> ids;
    for (const QString &line : lines) {
        const QStringList parts = line.split(QRegularExpression("\\s+"));
        if (parts.size() >= 3 && parts[0].size() == 36)
            ids.insert(parts[0], line.section(QRegularExpression("\\s+"), 2));
    }
    return ids;
}

// Every path under root whose name is one of names.
QStringList findNamed(const QString &root, const QStringList &names)
{
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (names.contains(it.fileName()))
            found << path;
    }
    return found;
}

} // namespace

class TestE2eSharing : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void getsSharesAndLosesThemWhenSharingGoesOff();
    void fullSaveFolderFailsThenResumes();
    void unsafeNamesCreateNothingOutside();

private:
    QString m_mount;
};

void TestE2eSharing::initTestCase()
{
    const QString why = netbed::unavailableReason();
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    QVERIFY(configureHosts());
}

void TestE2eSharing::cleanupTestCase()
{
    if (!m_mount.isEmpty())
        QProcess::execute("umount", {m_mount});
}

void TestE2eSharing::getsSharesAndLosesThemWhenSharingGoesOff()
{
    const QString shared = home(B) + "/shared";
    for (int i = 0; i < 40; ++i)
        QVERIFY(writeRandom(QStringLiteral("%1/folder/sub%2/f%3.bin").arg(shared).arg(i % 4).arg(i), 1000 + i, i));
    QVERIFY(writeRandom(shared + "/file.bin", 3 * MiB + 7, 99));
    QVERIFY(run(B, {"share", shared + "/folder", shared + "/file.bin"}).exitCode == 0);
    QCOMPARE(shareIds(run(B, {"share", "--list"}).lines).size(), 2);
    Command serving(B, {"receive", "--to", home(B) + "/in-unused"});
    QVERIFY(waitListed(B, A));

    // The folder already holds a file of that name: it stays, the download takes a free name.
    QVERIFY(writeRandom(home(A) + "/got/file.bin", 10, 98));
    const QByteArray mine = sha256(home(A) + "/got/file.bin");
    const netbed::Result got =
        run(A, {"get", netbed::address(B), "--to", home(A) + "/got", "--password", "pw2"}, 120000);
    QVERIFY2(got.exitCode == 0, qPrintable(got.errors + got.lines.join('\n')));
    QVERIFY(tree(home(A) + "/got/folder") == tree(shared + "/folder"));
    QCOMPARE(sha256(home(A) + "/got/file (1).bin"), sha256(shared + "/file.bin"));
    QCOMPARE(sha256(home(A) + "/got/file.bin"), mine);

    // A second get of a large file and a folder: sharing goes off half way.
    QVERIFY(writeRandom(shared + "/large.bin", 200 * MiB, 7));
    QVERIFY(run(B, {"share", shared + "/large.bin"}).exitCode == 0);
    const QMap<QString, QString> ids = shareIds(run(B, {"share", "--list"}).lines);
    QStringList wanted;
    for (auto it = ids.begin(); it != ids.end(); ++it) {
        if (it.value().endsWith("/large.bin") || it.value().endsWith("/folder"))
            wanted << it.key();
    }
    QCOMPARE(wanted.size(), 2);
    Command second(
        A, {"get", netbed::address(B), "--to", home(A) + "/got2", "--password", "pw2", "--ids", wanted.join(',')});
    QVERIFY2(!waitPartial(home(A) + "/got2", "large.bin", 20 * MiB, 120000).isEmpty(), "the download did not start");
    QCOMPARE(run(B, {"share", "--off"}).exitCode, 0);
    QCOMPARE(second.waitExit(120000), 1);
    QVERIFY(!QFile::exists(home(A) + "/got2/large.bin"));
    // The task records why: the other device no longer has the file.
    const netbed::Result tasks = run(A, {"tasks"});
    QVERIFY2(tasks.lines.join('\n').contains("The file does not exist. The other device may have deleted the task."),
             qPrintable(tasks.lines.join('\n')));
}

void TestE2eSharing::fullSaveFolderFailsThenResumes()
{
    m_mount = home(B) + "/small";
    QVERIFY(QDir().mkpath(m_mount));
    QCOMPARE(QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=24m", "tmpfs", m_mount}), 0);
    const QString source = home(A) + "/src/fill.bin";
    QVERIFY(writeRandom(source, 60 * MiB, 5));

    Command receiver(B, {"receive", "--to", m_mount, "--once"});
    QVERIFY(waitListed(B, A));
    const netbed::Result sent = run(A, {"send", netbed::address(B), source, "--password", "pw2"}, 120000);
    QCOMPARE(sent.exitCode, 1);
    QVERIFY2(sent.errors.contains("Failed to write file."), qPrintable(sent.errors));
    QCOMPARE(receiver.waitExit(30000), 1);
    QVERIFY(fileSize(partialFile(m_mount, "fill.bin")) > 0); // the partial file stays
    // The sender's task keeps the failure.
    const netbed::Result tasks = run(A, {"tasks"});
    QVERIFY2(tasks.lines.filter("sent").join('\n').contains("Failed to write file."),
             qPrintable(tasks.lines.join('\n')));

    // Space freed: the file completes from where it stopped.
    QCOMPARE(QProcess::execute("mount", {"-o", "remount,size=128m", m_mount}), 0);
    Command serving(A, {"receive", "--to", home(A) + "/in-serving"});
    QVERIFY(waitListed(A, B));
    const netbed::Result resumed = run(B, {"resume"}, 120000);
    QVERIFY2(resumed.exitCode == 0, qPrintable(resumed.errors + resumed.lines.join('\n')));
    QCOMPARE(sha256(m_mount + "/fill.bin"), sha256(source));
}

void TestE2eSharing::unsafeNamesCreateNothingOutside()
{
    // Other programs may own such names in /tmp; only new ones count there.
    const QStringList before = findNamed("/tmp", {"evil"});
    const QString save = home(B) + "/safe/inbox";
    Command receiver(B, {"receive", "--to", save});
    QVERIFY(waitListed(B, A));
    netbed::Process evil(Evil, QStringLiteral(EVIL_PEER_PATH), {netbed::address(B), "20168", "pw2"});
    QVERIFY(evil.waitForPrefix("ready ", 20000) >= 0);
    // Both offers are taken; the folder's listing is read and the folder fails as a whole.
    QVERIFY(evil.waitFor([](const QString &l) { return l.startsWith("offered ") && l.endsWith(" 200"); }, 20000) >= 0);
    QVERIFY(evil.waitFor([](const QString &l) { return l.startsWith("read ") && l.endsWith(" -"); }, 30000) >= 0);
    QVERIFY(evil.waitFor([](const QString &l) { return l.startsWith("progress ") && l.endsWith(" -1"); }, 30000) >= 0);
    QVERIFY(evil.waitFor([](const QString &l) { return l.startsWith("progress ") && l.endsWith(" 1"); }, 30000) >= 0);
    // The task's own "root" is the receiver's choice, never the sender's.
    QVERIFY(QFile::exists(save + "/payload.bin"));

    QCOMPARE(findNamed("/tmp", {"evil"}), before);
    const QStringList inBed = findNamed(qEnvironmentVariable("NETBED_DIR"), {"evil", "x"});
    QVERIFY2(inBed.isEmpty(), qPrintable(inBed.join('\n')));
    // The device still serves: an ordinary task arrives.
    QVERIFY(writeRandom(home(A) + "/src/after.bin", 1000, 3));
    const netbed::Result after = run(A, {"send", netbed::address(B), home(A) + "/src/after.bin", "--password", "pw2"});
    QVERIFY2(after.exitCode == 0, qPrintable(after.errors));
    QVERIFY(QFile::exists(save + "/after.bin"));
}

QTEST_GUILESS_MAIN(TestE2eSharing)
#include "tst_e2e_sharing.moc"
