// Save paths of an accepted task take nothing over from the save folder, and
// files of one task never share a path.
#include "store/SavePaths.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace {

TransferFile offered(const std::string &uid, const std::string &root, const std::string &name,
                     const std::string &mime = "text/plain")
{
    TransferFile f;
    f.uid = uid;
    f.tid = "task-1";
    f.root = root;
    f.file_name = name;
    f.mime = mime;
    return f;
}

} // namespace

class TestSavePaths : public QObject {
    Q_OBJECT
private slots:
    void takenNamesGetFreeOnes();
    void unsafeRecordLeavesFilesAlone();
};

void TestSavePaths::takenNamesGetFreeOnes()
{
    QTemporaryDir save;
    const std::string base = save.path().toStdString();
    const std::string outside = QTemporaryDir().path().toStdString();
    std::ofstream(base + "/notes.txt") << "mine";
    QVERIFY(::symlink("/tmp", (base + "/link").c_str()) == 0);
    QVERIFY(::mkdir((base + "/.ssh").c_str(), 0700) == 0);
    QVERIFY(::mkdir((base + "/photos").c_str(), 0700) == 0);
    QVERIFY(::mkdir((base + "/photos (1)").c_str(), 0700) == 0);
    // Somebody's file where the partial file of "b.txt" would go.
    std::ofstream(base + "/" + partialFileName("b.txt", "task-1", "f-b", "")) << "x";

    std::vector<TransferFile> files = {
        offered("f-notes", "", "notes.txt"),
        offered("f-link", "link", "a.txt"),
        offered("f-ssh", "", ".ssh", kDirectoryMime),
        offered("f-keys", ".ssh", "authorized_keys"),
        offered("f-a1", "", "a.txt"),
        offered("f-a2", "", "a.txt"),
        offered("f-p1", "photos", "x.jpg"),
        offered("f-p2", "photos", "x.jpg"),
        offered("f-p3", "photos/sub", "y.jpg"),
        offered("f-b", "", "b.txt"),
        offered("f-new", "", "new.txt"),
        offered("f-file-then-folder", "", "docs"),
        offered("f-in-docs", "docs", "c.txt"),
    };
    std::string error;
    QVERIFY2(assignFreeSavePaths(base, files, &error), error.c_str());
    const std::vector<std::string> expected = {
        "notes (1).txt",
        "link (1)/a.txt",
        ".ssh (1)",
        ".ssh (1)/authorized_keys",
        "a.txt",
        "a (1).txt",
        "photos (2)/x.jpg",
        "photos (2)/x (1).jpg",
        "photos (2)/sub/y.jpg",
        "b (1).txt",
        "new.txt",
        "docs",
        "docs (1)/c.txt",
    };
    QCOMPARE(files.size(), expected.size());
    for (size_t i = 0; i < files.size(); ++i)
        QCOMPARE(QString::fromStdString(files[i].save_path), QString::fromStdString(base + "/" + expected[i]));
    // Nothing was created or touched.
    QVERIFY(::access((base + "/notes (1).txt").c_str(), F_OK) != 0);
}

void TestSavePaths::unsafeRecordLeavesFilesAlone()
{
    QTemporaryDir save;
    std::vector<TransferFile> files = {offered("f-1", "", "ok.txt"), offered("f-2", "../up", "evil.txt")};
    std::string error;
    QVERIFY(!assignFreeSavePaths(save.path().toStdString(), files, &error));
    QVERIFY(!error.empty());
    QVERIFY(files[0].save_path.empty());
    QVERIFY(!assignFreeSavePaths(save.path().toStdString() + "/missing", files, &error));
    QVERIFY(QString::fromStdString(error).startsWith("Failed to open folder"));
}

QTEST_GUILESS_MAIN(TestSavePaths)
#include "tst_savepaths.moc"
