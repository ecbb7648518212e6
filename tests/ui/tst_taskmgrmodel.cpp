// The task screen's model over real task stores: the task and file rows and
// their texts, file order, loading files once, statuses arriving in batches
// and ending a task, the confirmations, checking and removing tasks. Its tree
// runs under the item-model tester throughout.
#include "TempDataHome.h"

#include "store/TaskStore.h"
#include "ui/MessageBoxContext.h"
#include "ui/MessageBoxRequest.h"
#include "ui/TaskMgrModel.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <optional>

namespace {

TransferFileStatus fileStatus(int status, int64_t offset = 0, bool remote = false, const std::string &error = {})
{
    TransferFileStatus s;
    s.status = status;
    s.offset = offset;
    s.remote = remote;
    s.error = error;
    return s;
}

} // namespace

class TestTaskMgrModel : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void taskRows_data();
    void taskRows();
    void sizeTexts_data();
    void sizeTexts();
    void fileRows_data();
    void fileRows();
    void fileOrder();
    void loadTaskFilesInsertsOnce();
    void batchesUpdateRowsAndEndTheTask();
    void startWithNothingUnfinishedEndsAtOnce();
    void listLoadKeepsATaskStartedMeanwhile();
    void confirmations_data();
    void confirmations();
    void checkAndRemoveChecked_data();
    void checkAndRemoveChecked();

private:
    // A stored task with the given files (their statuses written) and its summary when given.
    TaskKey makeTask(bool fromMe, std::vector<TransferFile> files, std::optional<TransferTaskStatus> summary = {},
                     int32_t port = kDefaultPort, int64_t created = 1700000000);
    TransferFile file(const std::string &name, const std::string &mime, int64_t total, TransferFileStatus status,
                      const std::string &localPath = std::string());
    // A fresh model that has loaded the stored tasks.
    TaskMgrModel *loadModel();
    QVariantMap row(int task, int file = -1);
    MyTreeItemModel::PNode node(int task);
    std::string dir() const { return m_home->path().toStdString(); }
    MessageBoxRequest takeBox()
    {
        if (m_boxes->count() != 1)
            return MessageBoxRequest();
        return MessageBoxRequest::fromMap(m_boxes->takeFirst().at(0).toMap());
    }

    std::unique_ptr<TempDataHome> m_home;
    std::unique_ptr<TaskMgrModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    std::unique_ptr<QSignalSpy> m_boxes;
};

void TestTaskMgrModel::init()
{
    m_home = std::make_unique<TempDataHome>();
    m_boxes = std::make_unique<QSignalSpy>(MessageBoxContext::instance(), &MessageBoxContext::msgbox);
}

void TestTaskMgrModel::cleanup()
{
    m_tester.reset();
    m_model.reset();
    m_boxes.reset();
    m_home.reset();
}

TransferFile TestTaskMgrModel::file(const std::string &name, const std::string &mime, int64_t total,
                                    TransferFileStatus status, const std::string &localPath)
{
    TransferFile f = newTransferFile(std::string(), std::string(), localPath, std::string(), name, mime, total);
    f.save_path = localPath;
    f.status = status;
    return f;
}

TaskKey TestTaskMgrModel::makeTask(bool fromMe, std::vector<TransferFile> files,
                                   std::optional<TransferTaskStatus> summary, int32_t port, int64_t created)
{
    TransferTask task = newOutgoingTask("10.0.0.5", port, "peer-uid", "Peer", "win");
    task.from_me = fromMe ? 1 : 0;
    task.created = created;
    for (TransferFile &f : files)
        f.tid = task.uid;
    TaskStore store(fromMe);
    if (!store.createTask(task, files))
        qFatal("createTask: %s", store.lastError().c_str());
    for (const TransferFile &f : files)
        store.writeFileStatus(task.uid, f.uid, f.status);
    if (summary)
        store.writeTaskStatus(task.uid, *summary);
    return TaskKey{task.uid, fromMe};
}

TaskMgrModel *TestTaskMgrModel::loadModel()
{
    m_model = std::make_unique<TaskMgrModel>();
    m_tester = std::make_unique<QAbstractItemModelTester>(m_model->model(),
                                                          QAbstractItemModelTester::FailureReportingMode::QtTest);
    std::vector<std::string> stored;
    for (bool fromMe : {true, false}) {
        std::vector<TransferTask> tasks;
        TaskStore(fromMe).listTasks(&tasks);
        for (const TransferTask &t : tasks)
            stored.push_back(t.uid);
    }
    if (!QTest::qWaitFor([&] { return m_model->tasksCount() == static_cast<int>(stored.size()); }, 5000))
        qWarning("the task list did not load");
    return m_model.get();
}

QVariantMap TestTaskMgrModel::row(int task, int file)
{
    MyTreeItemModel *tree = m_model->model();
    QModelIndex index = tree->index(task, 0);
    if (file >= 0)
        index = tree->index(file, 0, index);
    return tree->data(index, MyTreeItemModel::RowRole).toMap();
}

MyTreeItemModel::PNode TestTaskMgrModel::node(int task)
{
    return row(task).value("node").value<MyTreeItemModel::PNode>();
}

void TestTaskMgrModel::taskRows_data()
{
    QTest::addColumn<bool>("fromMe");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("successes");
    QTest::addColumn<int>("failed");
    QTest::addColumn<bool>("remote");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("progress");
    QTest::addColumn<QString>("progressDesc");
    QTest::addColumn<bool>("startable");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("name");

    QTest::newRow("running with a failure")
        << false << 4 << 2 << 1 << false << 20168 << 0 << 75 << "Files: 3 / 4, 1 failed" << true << ""
        << "Peer (10.0.0.5)";
    QTest::newRow("all done") << false << 3 << 3 << 0 << false << 20168 << 1 << 100 << "Files: 3 / 3" << false << ""
                              << "Peer (10.0.0.5)";
    QTest::newRow("ended with a local failure")
        << false << 3 << 2 << 1 << false << 20169 << -1 << 100 << "Files: 3 / 3, 1 failed" << true << "Disk full."
        << "Peer (10.0.0.5:20169)";
    QTest::newRow("ended with a failure of the sender")
        << false << 3 << 2 << 1 << true << 20168 << -1 << 100 << "Files: 3 / 3, 1 failed" << true
        << "Error in the other device. Disk full."
        << "Peer (10.0.0.5)";
    QTest::newRow("sent tasks are started by the receiver")
        << true << 3 << 2 << 1 << false << 20168 << -1 << 100 << "Files: 3 / 3, 1 failed" << false << "Disk full."
        << "Peer (10.0.0.5)";
    QTest::newRow("no files") << false << 0 << 0 << 0 << false << 20168 << 1 << 100 << "Files: 0 / 0" << false << ""
                              << "Peer (10.0.0.5)";
    QTest::newRow("a third done") << false << 3 << 1 << 0 << false << 20168 << 0 << 33 << "Files: 1 / 3" << true << ""
                                  << "Peer (10.0.0.5)";
}

void TestTaskMgrModel::taskRows()
{
    QFETCH(bool, fromMe);
    QFETCH(int, total);
    QFETCH(int, successes);
    QFETCH(int, failed);
    QFETCH(bool, remote);
    QFETCH(int, port);
    QFETCH(int, status);
    QFETCH(int, progress);
    QFETCH(QString, progressDesc);
    QFETCH(bool, startable);
    QFETCH(QString, error);
    QFETCH(QString, name);

    TransferTaskStatus summary;
    summary.total = total;
    summary.successes = successes;
    summary.failed = failed;
    summary.remote = remote;
    summary.error = "Disk full.";
    const TaskKey key = makeTask(fromMe, {}, summary, port);
    loadModel();
    QCOMPARE(m_model->tasksCount(), 1);

    const QVariantMap r = row(0);
    QCOMPARE(r["t"].toString(), QString("task"));
    QCOMPARE(r["uid"].toString().toStdString(), key.tid);
    QCOMPARE(r["fromMe"].toBool(), fromMe);
    QCOMPARE(r["name"].toString(), name);
    QCOMPARE(r["status"].toInt(), status);
    QCOMPARE(r["progress"].toInt(), progress);
    QCOMPARE(r["progressDesc"].toString(), progressDesc);
    QCOMPARE(r["startable"].toBool(), startable);
    QCOMPARE(r["error"].toString(), error);
    QCOMPARE(r["running"].toBool(), false);
    QCOMPARE(r["checked"].toBool(), false);
    QVERIFY(
        QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$").match(r["created"].toString()).hasMatch());
    QCOMPARE(r["created"].toString(),
             QDateTime::fromSecsSinceEpoch(1700000000).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
}

void TestTaskMgrModel::sizeTexts_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << qint64(0) << "0B";
    QTest::newRow("1024") << qint64(1024) << "1024B";
    QTest::newRow("1025") << qint64(1025) << "1kB";
    QTest::newRow("1048576") << qint64(1048576) << "1024kB";
    QTest::newRow("1048577") << qint64(1048577) << "1M";
    QTest::newRow("1073741824") << qint64(1073741824) << "1024M";
    QTest::newRow("1073741825") << qint64(1073741825) << "1G";
    QTest::newRow("1.5 G") << qint64(1610612736) << "1.50G";
    QTest::newRow("just over a hundredth") << qint64(1073741824) + 10737419 << "1.01G";
    QTest::newRow("a hundredth is not shown") << qint64(1073741824) + 10737418 << "1G";
    QTest::newRow("large") << qint64(5) * 1073741824 * 1024 + 1073741824 / 4 << "5120.25G";
}

void TestTaskMgrModel::sizeTexts()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(TaskMgrModel::sizeText(bytes), text);
}

void TestTaskMgrModel::fileRows_data()
{
    QTest::addColumn<bool>("fromMe");
    QTest::addColumn<QString>("mime");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("status");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<bool>("remote");
    QTest::addColumn<bool>("localExists");
    QTest::addColumn<QString>("totalText");
    QTest::addColumn<QString>("offsetText");
    QTest::addColumn<int>("progress");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("thumbIsLocal");

    QTest::newRow("received image on disk")
        << false << "image/png" << qint64(2048) << 1 << qint64(2048) << false << true << "2kB"
        << "2kB" << 100 << "" << true;
    QTest::newRow("received image not there")
        << false << "image/png" << qint64(2048) << 0 << qint64(1024) << false << false << "2kB"
        << "1024B" << 50 << "" << false;
    QTest::newRow("sent image on disk") << true << "image/jpeg" << qint64(3000000) << 0 << qint64(1000000) << false
                                        << true << "2M"
                                        << "976kB" << 33 << "" << true;
    QTest::newRow("file on disk that is no image")
        << false << "text/plain" << qint64(10) << 1 << qint64(10) << false << true << "10B"
        << "10B" << 100 << "" << false;
    QTest::newRow("empty file") << false << "text/plain" << qint64(0) << 0 << qint64(0) << false << false << "-"
                                << "0B" << 99 << "" << false;
    QTest::newRow("failed here") << false << "text/plain" << qint64(100) << -1 << qint64(40) << false << false << "100B"
                                 << "40B" << 40 << "Gone." << false;
    QTest::newRow("failed on the other device")
        << false << "text/plain" << qint64(100) << -1 << qint64(40) << true << false << "100B"
        << "40B" << 40 << "Error in the other device. Gone." << false;
}

void TestTaskMgrModel::fileRows()
{
    QFETCH(bool, fromMe);
    QFETCH(QString, mime);
    QFETCH(qint64, total);
    QFETCH(int, status);
    QFETCH(qint64, offset);
    QFETCH(bool, remote);
    QFETCH(bool, localExists);
    QFETCH(QString, totalText);
    QFETCH(QString, offsetText);
    QFETCH(int, progress);
    QFETCH(QString, error);
    QFETCH(bool, thumbIsLocal);

    const std::string path = dir() + "/local file.png";
    if (localExists) {
        QFile f(QString::fromStdString(path));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    TransferFileStatus st = fileStatus(status, offset, remote, status < 0 ? "Gone." : "");
    st.desc = "sub/part";
    const TaskKey key = makeTask(fromMe, {file("pic.png", mime.toStdString(), total, st, path)});
    loadModel();
    m_model->loadTaskFiles(QString::fromStdString(key.tid), fromMe);
    QCOMPARE(m_model->model()->rowCount(m_model->model()->index(0, 0)), 1);

    const QVariantMap r = row(0, 0);
    const QString url = QUrl::fromLocalFile(QString::fromStdString(path)).toString();
    QCOMPARE(r["t"].toString(), QString("file"));
    QCOMPARE(r["name"].toString(), QString("pic.png"));
    QCOMPARE(r["status"].toInt(), status);
    QCOMPARE(r["total"].toString(), totalText);
    QCOMPARE(r["offset"].toString(), offsetText);
    QCOMPARE(r["progress"].toInt(), progress);
    QCOMPARE(r["progressDesc"].toString(), QString("sub/part"));
    QCOMPARE(r["error"].toString(), error);
    QCOMPARE(r["running"].toBool(), false);
    QCOMPARE(r["saveUrl"].toString(), url);
    QCOMPARE(r["thumb"].toString(), thumbIsLocal ? url : QString("qrc:/res/icon_file.png"));
    QVERIFY(url.startsWith("file:///"));
}

void TestTaskMgrModel::fileOrder()
{
    const TaskKey key =
        makeTask(false, {file("b", "text/plain", 1, fileStatus(1)), file("a", "text/plain", 1, fileStatus(1)),
                         file("Z", "text/plain", 1, fileStatus(0)), file("c", "text/plain", 1, fileStatus(-1)),
                         file("a", "text/plain", 1, fileStatus(0)), file("\xc3\xa9", "text/plain", 1, fileStatus(0))});
    loadModel();
    m_model->loadTaskFiles(QString::fromStdString(key.tid), false);
    // Failed first, then waiting, then done; names in byte order within.
    const QStringList expected{"c", "Z", "a", "\xc3\xa9", "a", "b"};
    QStringList names;
    QList<int> statuses;
    for (int i = 0; i < 6; ++i) {
        names << row(0, i)["name"].toString();
        statuses << row(0, i)["status"].toInt();
    }
    QCOMPARE(names, expected);
    QCOMPARE(statuses, (QList<int>{-1, 0, 0, 0, 1, 1}));
}

void TestTaskMgrModel::loadTaskFilesInsertsOnce()
{
    makeTask(false, {});
    const TaskKey key =
        makeTask(false,
                 {file("one", "text/plain", 1, fileStatus(0)), file("two", "text/plain", 1, fileStatus(0)),
                  file("three", "text/plain", 1, fileStatus(0))},
                 {}, kDefaultPort, 1800000000);
    loadModel();
    QCOMPARE(row(0)["uid"].toString().toStdString(), key.tid); // newest first
    QSignalSpy inserted(m_model->model(), &QAbstractItemModel::rowsInserted);
    const QModelIndex parent = m_model->model()->index(0, 0);
    m_model->loadTaskFiles(QString::fromStdString(key.tid), false);
    m_model->loadTaskFiles(QString::fromStdString(key.tid), false);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted[0][0].value<QModelIndex>(), parent);
    QCOMPARE(inserted[0][1].toInt(), 0);
    QCOMPARE(inserted[0][2].toInt(), 2);
    QCOMPARE(m_model->model()->rowCount(parent), 3);
    // A task that is not listed loads nothing.
    m_model->loadTaskFiles("no-such-task", false);
    QCOMPARE(inserted.count(), 1);
}

void TestTaskMgrModel::batchesUpdateRowsAndEndTheTask()
{
    // A sent task runs until its receiver has reported every file.
    std::vector<TransferFile> files{file("a", "text/plain", 100, fileStatus(0)),
                                    file("b", "text/plain", 100, fileStatus(0))};
    const std::string fa = files[0].uid, fb = files[1].uid;
    const TaskKey key = makeTask(true, files);
    loadModel();
    const QString tid = QString::fromStdString(key.tid);
    m_model->startTask(tid, true);
    QCOMPARE(row(0)["running"].toBool(), true);
    QCOMPARE(row(0, 0)["running"].toBool(), true);
    m_model->startTask(tid, true); // already running: nothing changes
    QCOMPARE(row(0)["running"].toBool(), true);

    m_model->updateFileStatus(key, fa, fileStatus(0, 50));
    QTRY_COMPARE(row(0, 0)["offset"].toString(), QString("50B"));
    QCOMPARE(row(0, 0)["progress"].toInt(), 50);
    QCOMPARE(row(0)["progressDesc"].toString(), QString("Files: 0 / 2"));

    // A file reported done twice counts once.
    m_model->updateFileStatus(key, fa, fileStatus(1, 100));
    QTRY_COMPARE(row(0)["progressDesc"].toString(), QString("Files: 1 / 2"));
    m_model->updateFileStatus(key, fa, fileStatus(1, 100));
    m_model->updateFileStatus(key, "not-a-file-of-it", fileStatus(-1, 0, true, "?"));
    m_model->updateFileStatus(key, fb, fileStatus(-1, 30, true, "Disk full."));
    QTRY_COMPARE(row(0)["running"].toBool(), false);

    const QVariantMap t = row(0);
    QCOMPARE(t["status"].toInt(), -1);
    QCOMPARE(t["progressDesc"].toString(), QString("Files: 2 / 2, 1 failed"));
    QCOMPARE(t["error"].toString(), QString("Error in the other device. Disk full."));
    QCOMPARE(t["startable"].toBool(), false);
    // Sorted again: the failed file first.
    QCOMPARE(row(0, 0)["name"].toString(), QString("b"));
    QCOMPARE(row(0, 0)["running"].toBool(), false);
    QCOMPARE(row(0, 1)["name"].toString(), QString("a"));
    // The counters are stored.
    TransferTask stored;
    QCOMPARE(TaskStore(true).readTask(key.tid, &stored), 1);
    QCOMPARE(stored.status.successes, 1);
    QCOMPARE(stored.status.failed, 1);
    QCOMPARE(stored.status.error, std::string("Disk full."));

    // Started again: the failed file waits anew and the failure count restarts.
    m_model->startTask(tid, true);
    QCOMPARE(row(0)["running"].toBool(), true);
    QCOMPARE(row(0)["progressDesc"].toString(), QString("Files: 1 / 2"));
    m_model->stopTask(tid, true);
    QCOMPARE(row(0)["running"].toBool(), false);
    QCOMPARE(row(0)["status"].toInt(), 0);
}

void TestTaskMgrModel::startWithNothingUnfinishedEndsAtOnce()
{
    const TaskKey key = makeTask(false, {file("a", "text/plain", 1, fileStatus(1, 1))});
    loadModel();
    m_model->startTask(QString::fromStdString(key.tid), false);
    const QVariantMap t = row(0);
    QCOMPARE(t["running"].toBool(), false);
    QCOMPARE(t["status"].toInt(), 1);
    QCOMPARE(t["startable"].toBool(), false);
}

void TestTaskMgrModel::listLoadKeepsATaskStartedMeanwhile()
{
    makeTask(true, {file("a", "text/plain", 1, fileStatus(0))});
    const TaskKey key = makeTask(true, {file("b", "text/plain", 1, fileStatus(0))}, {}, kDefaultPort, 1800000000);
    m_model = std::make_unique<TaskMgrModel>();
    m_tester = std::make_unique<QAbstractItemModelTester>(m_model->model(),
                                                          QAbstractItemModelTester::FailureReportingMode::QtTest);
    // Started before the background load of the list has come back.
    m_model->startTask(QString::fromStdString(key.tid), true);
    QCOMPARE(m_model->tasksCount(), 1);
    QTRY_COMPARE(m_model->tasksCount(), 2);
    QCOMPARE(row(0)["uid"].toString().toStdString(), key.tid);
    QCOMPARE(row(0)["running"].toBool(), true);
    QCOMPARE(m_model->model()->rowCount(m_model->model()->index(0, 0)), 1);
}

void TestTaskMgrModel::confirmations_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("running");
    QTest::addColumn<QString>("text");

    QTest::newRow("stop") << "stop" << true << "IDS_CONFIRM_STOP_TASK";
    QTest::newRow("remove a running task") << "remove" << true << "IDS_CONFIRM_REMOVE_RUNNING_TASK";
    QTest::newRow("remove a task") << "remove" << false << "IDS_CONFIRM_REMOVE_THIS_TASK";
}

void TestTaskMgrModel::confirmations()
{
    QFETCH(QString, operation);
    QFETCH(bool, running);
    QFETCH(QString, text);

    const TaskKey key = makeTask(true, {file("a", "text/plain", 1, fileStatus(0))});
    loadModel();
    const MyTreeItemModel::PNode before = node(0);
    loadModel();
    if (running)
        m_model->startTask(QString::fromStdString(key.tid), true);
    m_model->loadTaskFiles(QString::fromStdString(key.tid), true);
    const auto act = [&](MyTreeItemModel::PNode n) {
        if (operation == "stop")
            m_model->stopTask(n);
        else
            m_model->removeTask(n);
    };

    // A file row or a stranger's node is no task: nothing is asked.
    act(row(0, 0).value("node").value<MyTreeItemModel::PNode>());
    act(nullptr);
    act(before); // from before the list was loaded again, wherever the new node lives
    QCOMPARE(m_boxes->count(), 0);

    // No changes nothing.
    act(node(0));
    MessageBoxRequest box = takeBox();
    QCOMPARE(box.msg, text);
    QCOMPARE(box.title, QString());
    QCOMPARE(box.icon, int(MessageBoxContext::Question));
    QCOMPARE(box.roles(), (QList<int>{MessageBoxContext::Yes, MessageBoxContext::No}));
    QCOMPARE(box.buttons[0].label, QString("Yes"));
    QCOMPARE(box.buttons[1].label, QString("No"));
    QVERIFY(box.press(MessageBoxContext::No, MessageBoxContext::instance()));
    QCOMPARE(m_model->tasksCount(), 1);
    QCOMPARE(row(0)["running"].toBool(), running);

    // Yes does it.
    act(node(0));
    QVERIFY(takeBox().press(MessageBoxContext::Yes, MessageBoxContext::instance()));
    if (operation == "stop") {
        QCOMPARE(row(0)["running"].toBool(), false);
    } else {
        QCOMPARE(m_model->tasksCount(), 0);
        QVERIFY(!QDir(QString::fromStdString(TaskStore(true).taskDir(key.tid))).exists());
    }
}

void TestTaskMgrModel::checkAndRemoveChecked_data()
{
    QTest::addColumn<QList<int>>("checked"); // rows checked before removing
    QTest::addColumn<int>("left");

    QTest::newRow("nothing checked") << QList<int>{} << 3;
    QTest::newRow("one checked") << QList<int>{1} << 2;
    QTest::newRow("all checked") << QList<int>{0, 1, 2} << 0;
}

void TestTaskMgrModel::checkAndRemoveChecked()
{
    QFETCH(QList<int>, checked);
    QFETCH(int, left);

    makeTask(true, {}, {}, kDefaultPort, 1);
    makeTask(false, {}, {}, kDefaultPort, 2);
    makeTask(false, {file("a", "text/plain", 1, fileStatus(0))}, {}, kDefaultPort, 3);
    loadModel();
    QCOMPARE(m_model->tasksCount(), 3);
    QSignalSpy selections(m_model.get(), &TaskMgrModel::selectionsCountChanged);
    QSignalSpy loading(m_model.get(), &TaskMgrModel::isLoadingChanged);

    // Check all and none, then the chosen rows.
    m_model->checkAll(true);
    QCOMPARE(m_model->selectionsCount(), 3);
    QCOMPARE(row(2)["checked"].toBool(), true);
    m_model->checkAll(false);
    QCOMPARE(m_model->selectionsCount(), 0);
    QCOMPARE(selections.count(), 2);
    QStringList removedIds, keptIds;
    for (int i = 0; i < 3; ++i)
        (checked.contains(i) ? removedIds : keptIds) << row(i)["uid"].toString();
    for (int i : checked)
        m_model->checkTask(node(i), true);
    QCOMPARE(m_model->selectionsCount(), checked.size());
    for (int i = 0; i < 3; ++i)
        QCOMPARE(row(i)["checked"].toBool(), checked.contains(i));

    m_model->removeChecked();
    MessageBoxRequest box = takeBox();
    QCOMPARE(box.msg, QString("IDS_CONFIRM_REMOVE_SELECTED_TASKS_PLEASE_NOT_RUNNING_TASKS"));
    QCOMPARE(box.icon, int(MessageBoxContext::Question));
    QVERIFY(box.press(MessageBoxContext::Yes, MessageBoxContext::instance()));
    QTRY_COMPARE(m_model->isLoading(), 0);
    QCOMPARE(loading.count(), 2); // 1, then 0
    QCOMPARE(m_model->tasksCount(), left);
    QCOMPARE(m_model->selectionsCount(), 0);
    QStringList listed;
    for (int i = 0; i < left; ++i)
        listed << row(i)["uid"].toString();
    QCOMPARE(listed, keptIds);
    std::vector<TransferTask> stored;
    TaskStore(true).listTasks(&stored);
    TaskStore(false).listTasks(&stored);
    QCOMPARE(static_cast<int>(stored.size()), left);
}

QTEST_GUILESS_MAIN(TestTaskMgrModel)
#include "tst_taskmgrmodel.moc"
