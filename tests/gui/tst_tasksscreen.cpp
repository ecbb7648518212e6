// The tasks screen beside a sending instance (a model_peer process): an
// offer answered in the window becomes a task row that shows its progress,
// can be stopped and started again and ends with the success mark and the
// files byte for byte; a task the sender fails shows the sender's error; a
// deleted task goes after confirmation; and the rows a user expanded stay
// expanded while a folder of thousands of files arrives.
#include "ScreenTest.h"

#include "ModelPeerProcess.h"

#include "ui/MyTreeItemModel.h"
#include "ui/ServerModel.h"
#include "ui/TreeRowsModel.h"

using namespace screentest;

// Waits on the other process and the network, under sanitizers and a loaded machine.
constexpr int kNetwork = 30000;
constexpr int kTransfer = 120000;

class TestTasksScreen : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void offerFollowedStoppedAndResumed();
    void failureShownThenTaskDeleted();
    void expandedRowsStayWhileAFolderArrives();

private:
    void press(const QString &name)
    {
        QQuickItem *item = nullptr;
        QTRY_VERIFY2_WITH_TIMEOUT((item = m_screen->item(name)), qPrintable(name), kNetwork);
        click(item);
    }
    QVariant propertyOf(const QString &name, const char *property) const
    {
        QQuickItem *item = m_screen->item(name);
        return item ? item->property(property) : QVariant();
    }
    QString boxText() const { return propertyOf("messageBox.text", "text").toString(); }
    void menu(const QString &uid, const QString &entry)
    {
        press("tasks.task." + uid + ".menu");
        press("tasks.task." + uid + ".menu." + entry);
    }
    QString writeFile(const QString &rel, const QByteArray &bytes)
    {
        const QString path = m_dir->path() + "/" + rel;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    }
    bool same(const QString &a, const QString &b) const
    {
        QFile fa(a), fb(b);
        return fa.open(QIODevice::ReadOnly) && fb.open(QIODevice::ReadOnly) && fa.size() == fb.size() &&
               fa.readAll() == fb.readAll();
    }
    // Carol offers the paths; this window's prompt is answered Yes and the folder chosen.
    QString offerAndAccept(const QStringList &paths, const QString &saveTo);
    QString sendCommand(const QStringList &paths) const
    {
        return QString("send 127.0.0.1 %1 - %2").arg(ServerModel::instance()->port()).arg(paths.join(' '));
    }

    std::unique_ptr<Screen> m_screen;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ModelPeerProcess> m_carol;
};

void TestTasksScreen::initTestCase()
{
    m_screen = std::make_unique<Screen>();
    QVERIFY(m_screen->window);
    QVERIFY(QTest::qWaitForWindowExposed(m_screen->window));
    QTRY_VERIFY(ServerModel::instance()->httpServer().isListening());
}

void TestTasksScreen::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_carol = std::make_unique<ModelPeerProcess>(m_dir->path() + "/carol", "carol");
    QVERIFY(!m_carol->waitEvent("ready").isEmpty());
}

void TestTasksScreen::cleanup()
{
    m_carol.reset();
    m_dir.reset();
    const QStringList warnings = takeWarnings();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

void TestTasksScreen::cleanupTestCase()
{
    m_screen.reset();
    const QStringList warnings = takeWarnings();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

QString TestTasksScreen::offerAndAccept(const QStringList &paths, const QString &saveTo)
{
    const int sent = m_carol->countOf("sent");
    m_carol->command(sendCommand(paths));
    if (!QTest::qWaitFor([&] { return boxText().contains("carol"); }, kNetwork))
        return QString();
    click(m_screen->item("messageBox.button.0"));
    QFileDialog *dialog = nullptr;
    if (!QTest::qWaitFor([&] { return (dialog = openFileDialog()) != nullptr; }, kNetwork))
        return QString();
    QDir().mkpath(saveTo);
    choose(dialog, {saveTo});
    if (!QTest::qWaitFor([&] { return m_carol->countOf("sent") > sent; }, kNetwork))
        return QString();
    for (auto e = m_carol->events.crbegin(); e != m_carol->events.crend(); ++e)
        if ((*e)["event"] == "sent")
            return (*e)["tid"].toString();
    return QString();
}

void TestTasksScreen::offerFollowedStoppedAndResumed()
{
    QByteArray big(300 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < big.size(); i += 4096)
        big[i] = char(i / 4096);
    const QString large = writeFile("out/large.bin", big);
    big.clear();
    const QString small = writeFile("out/small.txt", "small");
    const QString inbox = m_dir->path() + "/inbox";
    const QString uid = offerAndAccept({large, small}, inbox);
    QVERIFY(!uid.isEmpty());

    // The accepted task is on the tasks screen, running with its progress.
    const QString task = "tasks.task." + uid;
    QTRY_VERIFY_WITH_TIMEOUT(m_screen->item(task), kNetwork);
    QTRY_VERIFY_WITH_TIMEOUT(m_screen->item(task + ".progress"), kNetwork);
    QVERIFY(propertyOf(task + ".mark", "running").toBool());
    QVERIFY(propertyOf(task + ".name", "text").toString().startsWith("carol (127.0.0.1:"));

    // Stop asks first, then the task stands still with its partial file.
    menu(uid, "stop");
    QTRY_COMPARE(boxText(), QString("Confirm to pause task?"));
    press("messageBox.button.0");
    QTRY_VERIFY_WITH_TIMEOUT(!propertyOf(task + ".mark", "running").toBool(), kNetwork);
    QVERIFY2(!same(inbox + "/large.bin", large), "the stop came too late to test a resume");
    QVERIFY(!m_screen->item(task + ".progress"));

    // Start goes on and ends with the success mark; the files are whole.
    menu(uid, "start");
    QTRY_COMPARE_WITH_TIMEOUT(propertyOf(task + ".mark", "status").toInt(), 1, kTransfer);
    QTRY_VERIFY(!propertyOf(task + ".mark", "running").toBool());
    QVERIFY(same(inbox + "/large.bin", large));
    QVERIFY(same(inbox + "/small.txt", small));
    QCOMPARE(propertyOf(task + ".progressDesc", "text").toString(), QString("Files: 2 / 2"));

    // Pressing the row shows its files, each marked done; again hides them.
    press(task);
    QTRY_COMPARE(propertyOf("tasks.file." + uid + ".1.mark", "status").toInt(), 1);
    QCOMPARE(propertyOf("tasks.file." + uid + ".0.name", "text").toString(), QString("large.bin"));
    QCOMPARE(propertyOf("tasks.file." + uid + ".0.size", "text").toString(), QString("Size: 300M / 300M"));
    QVERIFY(m_screen->item("tasks.file." + uid + ".0.showInFolder"));

    // Another offer accepted meanwhile: its task comes first, the opened one stays open.
    QQuickItem *page = m_screen->item("tasks");
    const QString next = offerAndAccept({small}, m_dir->path() + "/inbox2");
    QVERIFY(!next.isEmpty() && next != uid);
    QTRY_VERIFY_WITH_TIMEOUT(m_screen->item("tasks.task." + next), kNetwork);
    QCOMPARE(m_screen->item("tasks"), page);
    QVERIFY(m_screen->item("tasks.file." + uid + ".1"));
    press(task);
    QTRY_VERIFY(!m_screen->item("tasks.file." + uid + ".0"));
}

void TestTasksScreen::failureShownThenTaskDeleted()
{
    const QString gone = writeFile("out/gone.txt", "soon gone");
    const QString inbox = m_dir->path() + "/inbox";
    // The file goes on the sender's side after the offer: the sender fails it.
    m_carol->command(sendCommand({gone}));
    QTRY_VERIFY_WITH_TIMEOUT(boxText().contains("carol"), kNetwork);
    QVERIFY(QFile::remove(gone));
    click(m_screen->item("messageBox.button.0"));
    QFileDialog *dialog = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((dialog = openFileDialog()), kNetwork);
    QDir().mkpath(inbox);
    choose(dialog, {inbox});
    const QString uid = m_carol->waitEvent("sent")["tid"].toString();
    QVERIFY(!uid.isEmpty());

    const QString task = "tasks.task." + uid;
    QTRY_COMPARE_WITH_TIMEOUT(propertyOf(task + ".mark", "status").toInt(), -1, kTransfer);
    QTRY_VERIFY(propertyOf(task + ".error", "text").toString().startsWith("Error in the other device. "));
    QVERIFY(m_screen->item(task + ".menu"));
    press(task);
    QTRY_VERIFY(
        propertyOf("tasks.file." + uid + ".0.size", "text").toString().startsWith("Error in the other device. "));
    QCOMPARE(propertyOf("tasks.file." + uid + ".0.mark", "status").toInt(), -1);

    // A failed task has nothing to show in a folder, and no Stop.
    press(task + ".menu");
    QTRY_VERIFY(m_screen->item(task + ".menu.delete"));
    QVERIFY(m_screen->item(task + ".menu.start"));
    QVERIFY(!m_screen->item(task + ".menu.showInFolder") && !m_screen->item(task + ".menu.stop"));
    QVERIFY(!m_screen->item("tasks.file." + uid + ".0.showInFolder"));

    // Delete asks first; No keeps the row, Yes removes it.
    press(task + ".menu.delete");
    QTRY_VERIFY(m_screen->item("messageBox"));
    press("messageBox.button.1");
    QTRY_VERIFY(!m_screen->item("messageBox"));
    QVERIFY(m_screen->item(task));
    menu(uid, "delete");
    press("messageBox.button.0");
    QTRY_VERIFY_WITH_TIMEOUT(!m_screen->item(task), kNetwork);
}

void TestTasksScreen::expandedRowsStayWhileAFolderArrives()
{
    // A folder of 2,000 files and 500 files beside it: 501 file rows that change while they arrive.
    for (int i = 0; i < 2000; ++i)
        writeFile(QString("out/many/f%1.txt").arg(i, 4, 10, QChar('0')), QByteArray::number(i));
    QStringList paths{m_dir->path() + "/out/many"};
    for (int i = 0; i < 500; ++i)
        paths << writeFile(QString("out/loose/g%1.txt").arg(i, 3, 10, QChar('0')), QByteArray::number(i));
    const QString inbox = m_dir->path() + "/inbox";
    const QString uid = offerAndAccept(paths, inbox);
    QVERIFY(!uid.isEmpty());
    const QString task = "tasks.task." + uid;

    // Opened while its files arrive.
    press(task);
    QQuickItem *view = m_screen->item("tasks.tree");
    auto *rows = qobject_cast<TreeRowsModel *>(view->property("rows").value<QObject *>());
    QVERIFY(rows);
    auto taskRow = [&] {
        for (int r = 0; r < rows->rowCount(); ++r)
            if (rows->index(r).data(MyTreeItemModel::RowRole).toMap().value("uid") == uid)
                return r;
        return -1;
    };
    // The last file's row, far below the view: read from the list the view shows.
    auto lastFile = [&] {
        for (int r = 0; r < rows->rowCount(); ++r) {
            const QVariantMap d = rows->index(r).data(MyTreeItemModel::RowRole).toMap();
            if (d.value("t") == "file" && d.value("uid") == uid && d.value("row") == 500)
                return d;
        }
        return QVariantMap();
    };
    QTRY_VERIFY_WITH_TIMEOUT(taskRow() >= 0 && rows->isExpanded(taskRow()), kNetwork);
    QTRY_VERIFY_WITH_TIMEOUT(!lastFile().isEmpty(), kNetwork);
    const int shown = rows->rowCount();
    QSignalSpy resets(rows, &QAbstractItemModel::modelReset);
    QSignalSpy removed(rows, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(rows, &QAbstractItemModel::dataChanged);
    QTRY_COMPARE_WITH_TIMEOUT(propertyOf(task + ".mark", "status").toInt(), 1, kTransfer);
    QCOMPARE(resets.count(), 0);
    QCOMPARE(removed.count(), 0);
    QVERIFY(!changed.isEmpty());
    QCOMPARE(rows->rowCount(), shown);
    QVERIFY(rows->isExpanded(taskRow()));
    QTRY_COMPARE(lastFile().value("status").toInt(), 1);
    QCOMPARE(QDir(inbox + "/many").entryList(QDir::Files).size(), 2000);
    QVERIFY(same(inbox + "/many/f1999.txt", m_dir->path() + "/out/many/f1999.txt"));
    QVERIFY(same(inbox + "/g499.txt", m_dir->path() + "/out/loose/g499.txt"));
}

SCREEN_TEST_MAIN(TestTasksScreen, "me")
#include "tst_tasksscreen.moc"
