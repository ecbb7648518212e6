// Work below a folder never follows a link out of it, never replaces a name,
// and free and partial names stay usable.
#include "pathutil/BeneathFs.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

using pathutil::UniqueFd;

class TestBeneathFs : public QObject {
    Q_OBJECT
private slots:
    void init();
    void openRefusesEveryLink_data();
    void openRefusesEveryLink();
    void makeFoldersCreatesAndRefusesLinks();
    void renameNeverReplaces();
    void numberedNames_data();
    void numberedNames();
    void partialNames();

private:
    std::string path(const std::string &relative) const { return m_base->path().toStdString() + "/" + relative; }
    void write(const std::string &relative, const std::string &text) const { std::ofstream(path(relative)) << text; }
    std::unique_ptr<QTemporaryDir> m_base;
    UniqueFd m_root; // "root" inside the base; "outside" is its sibling
};

void TestBeneathFs::init()
{
    m_base = std::make_unique<QTemporaryDir>();
    QVERIFY(m_base->isValid());
    QVERIFY(::mkdir(path("root").c_str(), 0700) == 0);
    QVERIFY(::mkdir(path("root/sub").c_str(), 0700) == 0);
    QVERIFY(::mkdir(path("outside").c_str(), 0700) == 0);
    write("root/sub/in.txt", "inside");
    write("outside/secret.txt", "secret");
    QVERIFY(::symlink(path("outside").c_str(), path("root/dirlink").c_str()) == 0);
    QVERIFY(::symlink("sub", path("root/innerlink").c_str()) == 0);
    QVERIFY(::symlink(path("outside/secret.txt").c_str(), path("root/filelink").c_str()) == 0);
    m_root.reset(::open(path("root").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    QVERIFY(m_root.valid());
}

void TestBeneathFs::openRefusesEveryLink_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<bool>("openat2");
    for (const bool openat2 : {true, false}) {
        const char *how = openat2 ? "openat2: " : "walk: ";
        const auto row = [&](const char *name) -> QTestData & {
            return QTest::newRow(qPrintable(QString(how) + name));
        };
        row("plain file") << "sub/in.txt" << true << openat2;
        row("folder itself") << "" << true << openat2;
        row("link to an outside folder on the way") << "dirlink/secret.txt" << false << openat2;
        row("link staying inside") << "innerlink/in.txt" << false << openat2;
        row("link as the last name") << "filelink" << false << openat2;
        row("dot dot") << "sub/../../outside/secret.txt" << false << openat2;
        row("absolute") << "/etc/passwd" << false << openat2;
        row("empty name") << "sub//in.txt" << false << openat2;
    }
}

void TestBeneathFs::openRefusesEveryLink()
{
    QFETCH(QString, relative);
    QFETCH(bool, opens);
    QFETCH(bool, openat2);
    const bool before = pathutil::setOpenat2Allowed(openat2);
    auto restore = qScopeGuard([before] { pathutil::setOpenat2Allowed(before); });
    const UniqueFd fd(pathutil::openBeneath(m_root.get(), relative.toStdString(), O_RDONLY));
    QCOMPARE(fd.valid(), opens);
    // Creating through a link is refused the same way.
    if (!opens && relative.startsWith("dirlink")) {
        const UniqueFd created(pathutil::openBeneath(m_root.get(), "dirlink/new.txt", O_WRONLY | O_CREAT, 0600));
        QVERIFY(!created.valid());
        QVERIFY(::access(path("outside/new.txt").c_str(), F_OK) != 0);
    }
}

void TestBeneathFs::makeFoldersCreatesAndRefusesLinks()
{
    const UniqueFd made(pathutil::makeFoldersBeneath(m_root.get(), "a/b/c"));
    QVERIFY(made.valid());
    struct stat st {};
    QVERIFY(::stat(path("root/a/b/c").c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    QVERIFY(UniqueFd(pathutil::makeFoldersBeneath(m_root.get(), "a/b/c")).valid()); // existing: fine

    errno = 0;
    QVERIFY(!UniqueFd(pathutil::makeFoldersBeneath(m_root.get(), "dirlink/x")).valid());
    QVERIFY(errno == ELOOP || errno == ENOTDIR);
    QVERIFY(::access(path("outside/x").c_str(), F_OK) != 0);
    QVERIFY(!UniqueFd(pathutil::makeFoldersBeneath(m_root.get(), "dirlink")).valid());
    QVERIFY(!UniqueFd(pathutil::makeFoldersBeneath(m_root.get(), "../escape")).valid());
}

void TestBeneathFs::renameNeverReplaces()
{
    write("root/a.part", "new");
    write("root/a.txt", "old");
    errno = 0;
    QCOMPARE(pathutil::renameNoReplace(m_root.get(), "a.part", "a.txt"), -1);
    QCOMPARE(errno, EEXIST);
    std::ifstream old(path("root/a.txt"));
    std::string text;
    old >> text;
    QCOMPARE(text, std::string("old"));
    // A dangling link counts as taken too.
    QVERIFY(::symlink("/nonexistent", path("root/b.txt").c_str()) == 0);
    QCOMPARE(pathutil::renameNoReplace(m_root.get(), "a.part", "b.txt"), -1);
    QCOMPARE(pathutil::renameNoReplace(m_root.get(), "a.part", "c.txt"), 0);
    QVERIFY(::access(path("root/c.txt").c_str(), F_OK) == 0);
    QVERIFY(::access(path("root/a.part").c_str(), F_OK) != 0);
    QVERIFY(pathutil::existsIn(m_root.get(), "b.txt"));
    QVERIFY(!pathutil::existsIn(m_root.get(), "a.part"));
}

void TestBeneathFs::numberedNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first") << "notes.txt" << 0 << "notes.txt";
    QTest::newRow("file") << "notes.txt" << 1 << "notes (1).txt";
    QTest::newRow("folder") << "photos" << 2 << "photos (2)";
    QTest::newRow("hidden") << ".bashrc" << 1 << ".bashrc (1)";
    QTest::newRow("last suffix only") << "a.tar.gz" << 3 << "a.tar (3).gz";
    QTest::newRow("long name keeps its suffix")
        << QString(251, QChar('x')) + ".txt" << 1 << QString(247, QChar('x')) + " (1).txt";
    // 2-byte characters are never cut in half.
    QTest::newRow("long UTF-8") << QString(127, QChar(0x00e9)) + "b" << 1 << QString(125, QChar(0x00e9)) + " (1)";
}

void TestBeneathFs::numberedNames()
{
    QFETCH(QString, name);
    QFETCH(int, n);
    QFETCH(QString, expected);
    const std::string out = pathutil::numberedName(name.toStdString(), n);
    QCOMPARE(QString::fromStdString(out), expected);
    QVERIFY(out.size() <= 255);
}

void TestBeneathFs::partialNames()
{
    const std::string name = "img.jpg";
    const std::string partial = pathutil::partialName(name, "task/file/a");
    QVERIFY(partial.size() > name.size());
    QVERIFY(QString::fromStdString(partial).startsWith("img.jpg."));
    QVERIFY(QString::fromStdString(partial).endsWith(".downloading"));
    // Never the name another received file would have had.
    QVERIFY(partial != name + ".downloading");
    QCOMPARE(pathutil::partialName(name, "task/file/a"), partial);
    QVERIFY(pathutil::partialName(name, "task/file/b") != partial);
    // A 250-byte name still has a usable partial name.
    const std::string longName(250, 'n');
    const std::string longPartial = pathutil::partialName(longName, "k");
    QVERIFY(longPartial.size() <= 255);
    const UniqueFd fd(pathutil::openBeneath(m_root.get(), longPartial, O_WRONLY | O_CREAT | O_EXCL, 0600));
    QVERIFY(fd.valid());
}

QTEST_GUILESS_MAIN(TestBeneathFs)
#include "tst_beneathfs.moc"
