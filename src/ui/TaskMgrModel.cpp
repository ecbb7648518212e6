#include "TaskMgrModel.h"

#include "AppSingleton.h"
#include "MessageBoxContext.h"
#include "UiMetaTypes.h"

#include "store/TaskStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>

namespace {

constexpr const char *kGenericThumb = "qrc:/res/icon_file.png";

QString fromUtf8(const std::string &text)
{
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

bool isImage(const std::string &mime)
{
    return mime.rfind("image/", 0) == 0;
}

} // namespace

TaskMgrModel::TaskMgrModel(QObject *parent) : QObject(parent), m_model(new MyTreeItemModel(this))
{
    registerUiMetaTypes();
    m_model->pathDataFn = [this](const QList<int> &path) { return rowData(path); };
    TaskEngine::Events events;
    events.tasksReset = [this] {
        m_order.clear();
        for (const auto &item : m_engine->entries())
            m_order.push_back(item.first);
        for (auto it = m_checked.begin(); it != m_checked.end();)
            it = m_engine->entry(*it) ? std::next(it) : m_checked.erase(it);
        sortOrder();
        tasksUpdateReset();
        updateTaskSelectionsCount();
    };
    events.taskAdded = [this](const TaskKey &key) { onTaskAdded(key); };
    events.taskRemoved = [this](const TaskKey &key) { onTaskRemoved(key); };
    events.filesLoaded = [this](const TaskKey &key, int count) { onFilesLoaded(key, count); };
    events.taskChanged = [this](const TaskKey &key) { onTaskChanged(key); };
    events.fileChanged = [this](const TaskKey &key, int index) { onFileChanged(key, index); };
    events.filesChanged = [this](const TaskKey &key) { onFilesChanged(key); };
    m_engine = std::make_unique<TaskEngine>(std::move(events));
    m_engine->reloadTasks();
}

TaskMgrModel::~TaskMgrModel()
{
    AppSingleton<TaskMgrModel>::release(this);
    // Its threads post to it and read nothing of ours; they end here.
    m_engine.reset();
}

TaskMgrModel *TaskMgrModel::instance()
{
    return AppSingleton<TaskMgrModel>::instance();
}

void TaskMgrModel::setCandidateList(TaskEngine::CandidateList candidates)
{
    m_engine->setCandidateList(std::move(candidates));
}

void TaskMgrModel::updateFileStatus(const TaskKey &key, const std::string &fid, const TransferFileStatus &status)
{
    m_engine->updateFileStatus(key, fid, status);
}

QString TaskMgrModel::sizeText(int64_t n)
{
    constexpr int64_t K = 1024, M = K * K, G = M * K;
    if (n <= K)
        return QString::asprintf("%lld%s", static_cast<long long>(n), "B");
    if (n <= M)
        return QString::asprintf("%lld%s", static_cast<long long>(n / K), "kB");
    if (n <= G)
        return QString::asprintf("%lld%s", static_cast<long long>(n / M), "M");
    const int64_t whole = n / G, rest = n % G;
    // Below a hundredth the fraction is not worth showing.
    if (rest > G / 100)
        return QString::asprintf("%lld.%02lld%s", static_cast<long long>(whole), static_cast<long long>(rest * 100 / G),
                                 "G");
    return QString::asprintf("%lld%s", static_cast<long long>(whole), "G");
}

QString TaskMgrModel::errorText(bool remote, int status, const std::string &error)
{
    if (status >= 0)
        return QString();
    return remote ? QStringLiteral("Error in the other device. ") + fromUtf8(error) : fromUtf8(error);
}

QVariantMap TaskMgrModel::rowData(const QList<int> &path) const
{
    if (path.isEmpty() || path.size() > 2 || path[0] < 0 || path[0] >= tasksCount())
        return QVariantMap();
    const TaskKey &key = m_order[static_cast<size_t>(path[0])];
    return path.size() == 1 ? taskRow(key) : fileRow(key, path[1]);
}

QVariantMap TaskMgrModel::taskRow(const TaskKey &key) const
{
    const TaskEntry *e = m_engine ? m_engine->entry(key) : nullptr;
    if (!e)
        return QVariantMap();
    const TransferTask &task = e->task;
    const TransferTaskStatus &s = task.status;
    const bool allFinal = s.total - s.successes - s.failed < 1;
    const int status = allFinal ? (s.failed < 1 ? 1 : -1) : 0;
    const QString address =
        task.port == kDefaultPort ? fromUtf8(task.ip) : QStringLiteral("%1:%2").arg(fromUtf8(task.ip)).arg(task.port);

    QVariantMap row;
    row["t"] = QStringLiteral("task");
    row["uid"] = fromUtf8(task.uid);
    row["name"] = QStringLiteral("%1 (%2)").arg(fromUtf8(task.remote_name), address);
    row["fromMe"] = key.fromMe;
    row["created"] = QDateTime::fromSecsSinceEpoch(task.created).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    row["status"] = status;
    row["progress"] = s.total == 0 ? 100 : static_cast<int>(int64_t(s.successes + s.failed) * 100 / s.total);
    row["progressDesc"] = s.failed < 1
                              ? tr("Files: %1 / %2").arg(s.successes + s.failed).arg(s.total)
                              : tr("Files: %1 / %2, %3 failed").arg(s.successes + s.failed).arg(s.total).arg(s.failed);
    row["running"] = e->running();
    row["startable"] = !key.fromMe && !e->running() && !(allFinal && s.failed < 1);
    row["checked"] = m_checked.count(key) > 0;
    row["error"] = errorText(s.remote, status, s.error);
    row["saveUrl"] = task.root.empty() ? QString() : QUrl::fromLocalFile(fromUtf8(task.root)).toString();
    return row;
}

QVariantMap TaskMgrModel::fileRow(const TaskKey &key, int index) const
{
    const TaskEntry *e = m_engine ? m_engine->entry(key) : nullptr;
    if (!e || index < 0 || index >= static_cast<int>(e->files.size()))
        return QVariantMap();
    const TransferFile &f = e->files[static_cast<size_t>(index)];
    const std::string &local = key.fromMe ? f.uri : f.save_path;
    const QString localPath = fromUtf8(local);
    const QString saveUrl = QUrl::fromLocalFile(localPath).toString();

    QVariantMap row;
    row["t"] = QStringLiteral("file");
    row["uid"] = fromUtf8(e->task.uid); // the task's: with row, names the file on the screen
    row["row"] = index;
    row["fromMe"] = key.fromMe;
    row["status"] = f.status.status;
    row["error"] = errorText(f.status.remote, f.status.status, f.status.error);
    row["offset"] = sizeText(f.status.offset);
    row["total"] = f.total == 0 ? QStringLiteral("-") : sizeText(f.total);
    row["name"] = fromUtf8(f.file_name);
    row["progress"] = f.total == 0 ? 99 : static_cast<int>(f.status.offset * 100 / f.total);
    row["progressDesc"] = fromUtf8(f.status.desc);
    row["running"] = f.status.status == 0 && e->running();
    row["saveUrl"] = saveUrl;
    row["thumb"] = !local.empty() && isImage(f.mime) && QFileInfo::exists(localPath) ? saveUrl : QString(kGenericThumb);
    return row;
}

int TaskMgrModel::positionOf(const TaskKey &key) const
{
    const auto it = std::find(m_order.begin(), m_order.end(), key);
    return it == m_order.end() ? -1 : static_cast<int>(it - m_order.begin());
}

int TaskMgrModel::taskPosition(MyTreeItemModel::PNode node) const
{
    if (!node || !m_model->contains(node) || node->parent != m_model->root().get())
        return -1;
    const int pos = m_model->root()->children.indexOf(node.get());
    return pos < tasksCount() ? pos : -1;
}

MyTreeItemModel::PNode TaskMgrModel::taskNode(const TaskKey &key) const
{
    const int pos = positionOf(key);
    const auto &children = m_model->root()->children;
    return pos < 0 || pos >= children.size() ? nullptr : children[pos];
}

void TaskMgrModel::sortOrder()
{
    std::sort(m_order.begin(), m_order.end(), [this](const TaskKey &a, const TaskKey &b) {
        const int64_t ca = m_engine->entry(a)->task.created, cb = m_engine->entry(b)->task.created;
        if (ca != cb)
            return ca > cb;
        return a < b;
    });
}

void TaskMgrModel::addFileNodes(MyTreeItemModel::PNode parent, const TaskKey &key, int count,
                                const MyTreeItemModel::NodeFactory &factory)
{
    // File nodes never move: the row at a place shows the file at that place of the sorted list.
    for (int i = 0; i < count; ++i)
        factory([this, key, i] { return fileRow(key, i); }, parent);
}

void TaskMgrModel::tasksUpdateReset()
{
    m_model->reset([this](const MyTreeItemModel::NodeFactory &factory) {
        for (const TaskKey &key : m_order)
            addTaskNode(key, factory);
    });
}

void TaskMgrModel::addTaskNode(const TaskKey &key, const MyTreeItemModel::NodeFactory &factory)
{
    MyTreeItemModel::PNode node = factory([this, key] { return taskRow(key); }, nullptr);
    const TaskEntry *e = m_engine->entry(key);
    if (e && e->filesLoaded)
        addFileNodes(node, key, static_cast<int>(e->files.size()), factory);
}

void TaskMgrModel::onTaskAdded(const TaskKey &key)
{
    m_order.push_back(key);
    sortOrder();
    // Inserted in its place: the rows around it keep their state on the screen.
    const int pos = positionOf(key);
    m_model->insertNodes(m_model->root(), pos,
                         [this, key](const MyTreeItemModel::NodeFactory &factory) { addTaskNode(key, factory); });
}

void TaskMgrModel::onTaskRemoved(const TaskKey &key)
{
    const int pos = positionOf(key);
    if (pos < 0)
        return;
    m_order.erase(m_order.begin() + pos);
    m_model->removeNodes(m_model->root(), pos, 1);
    m_checked.erase(key);
    updateTaskSelectionsCount();
}

void TaskMgrModel::onFilesLoaded(const TaskKey &key, int count)
{
    MyTreeItemModel::PNode node = taskNode(key);
    if (!node || count <= 0)
        return;
    m_model->insertNodes(node, -1, [this, key, count](const MyTreeItemModel::NodeFactory &factory) {
        addFileNodes(nullptr, key, count, factory);
    });
}

void TaskMgrModel::onTaskChanged(const TaskKey &key)
{
    const int pos = positionOf(key);
    if (pos >= 0)
        m_model->updateNodes(m_model->root(), pos, 1);
}

void TaskMgrModel::onFileChanged(const TaskKey &key, int index)
{
    if (MyTreeItemModel::PNode node = taskNode(key))
        m_model->updateNodes(node, index, 1);
}

void TaskMgrModel::onFilesChanged(const TaskKey &key)
{
    if (MyTreeItemModel::PNode node = taskNode(key))
        m_model->updateNodes(node, 0, node->children.size());
}

void TaskMgrModel::loadTaskFiles(QString tid, bool isFromMe)
{
    m_engine->loadTaskFiles(TaskKey{tid.toStdString(), isFromMe});
}

void TaskMgrModel::refreshTask(QString tid, bool isFromMe)
{
    m_engine->refreshTask(TaskKey{tid.toStdString(), isFromMe});
}

void TaskMgrModel::startTask(QString tid, bool isFromMe)
{
    m_engine->startTask(TaskKey{tid.toStdString(), isFromMe});
}

void TaskMgrModel::stopTask(QString tid, bool isFromMe)
{
    m_engine->stopTask(TaskKey{tid.toStdString(), isFromMe});
}

void TaskMgrModel::confirm(const QString &text, std::function<void()> action)
{
    showYesNoBox(MessageBoxContext::instance(), QString(), text, MessageBoxContext::CallBack(std::move(action)), {},
                 MessageBoxContext::Question, QCoreApplication::translate("MessageBoxContext", "Yes"),
                 QCoreApplication::translate("MessageBoxContext", "No"));
}

void TaskMgrModel::stopTask(MyTreeItemModel::PNode node)
{
    const int pos = taskPosition(node);
    if (pos < 0)
        return;
    const TaskKey key = m_order[static_cast<size_t>(pos)];
    confirm(tr("IDS_CONFIRM_STOP_TASK"), [this, key] { m_engine->stopTask(key); });
}

void TaskMgrModel::removeTask(MyTreeItemModel::PNode node)
{
    const int pos = taskPosition(node);
    if (pos < 0)
        return;
    const TaskKey key = m_order[static_cast<size_t>(pos)];
    const bool running = m_engine->entry(key)->running();
    const QString text = running ? tr("IDS_CONFIRM_REMOVE_RUNNING_TASK") : tr("IDS_CONFIRM_REMOVE_THIS_TASK");
    confirm(text, [this, key] {
        if (!m_engine->entry(key))
            return;
        m_engine->cancelTask(key);
        TaskStore store(key.fromMe);
        if (store.deleteTask(key.tid, 200)) {
            m_engine->removeEntry(key);
            return;
        }
        showOkBox(MessageBoxContext::instance(), QString(), fromUtf8(store.lastError()), {}, MessageBoxContext::Error,
                  QCoreApplication::translate("MessageBoxContext", "OK"));
    });
}

void TaskMgrModel::removeChecked()
{
    confirm(tr("IDS_CONFIRM_REMOVE_SELECTED_TASKS_PLEASE_NOT_RUNNING_TASKS"), [this] {
        setLoading(1);
        std::vector<TaskKey> keys;
        for (const TaskKey &key : m_order) {
            if (m_checked.count(key))
                keys.push_back(key);
        }
        const auto done = [this] {
            setLoading(0);
            updateTaskSelectionsCount();
        };
        if (keys.empty()) {
            done();
            return;
        }
        // Counts the removals still out; the last one to come back ends the loading state.
        auto left = std::make_shared<size_t>(keys.size());
        TaskEngine *engine = m_engine.get();
        for (const TaskKey &key : keys) {
            engine->cancelTask(key);
            engine->queue().run([engine, key, left, done] {
                const bool removed = TaskStore(key.fromMe).deleteTask(key.tid, 200);
                engine->post([engine, key, left, done, removed] {
                    if (removed)
                        engine->removeEntry(key);
                    if (--*left == 0)
                        done();
                });
            });
        }
    });
}

void TaskMgrModel::checkTask(MyTreeItemModel::PNode node, bool checked)
{
    const int pos = taskPosition(node);
    if (pos < 0)
        return;
    const TaskKey &key = m_order[static_cast<size_t>(pos)];
    if (checked)
        m_checked.insert(key);
    else
        m_checked.erase(key);
    updateTaskSelectionsCount();
    m_model->updateNodes(m_model->root(), pos, 1);
}

void TaskMgrModel::checkAll(bool checked)
{
    m_checked.clear();
    if (checked)
        m_checked.insert(m_order.begin(), m_order.end());
    updateTaskSelectionsCount();
    m_model->updateNodes(m_model->root(), 0, tasksCount());
}

void TaskMgrModel::updateTaskSelectionsCount()
{
    const int count = static_cast<int>(m_checked.size());
    if (count == m_selectionsCount)
        return;
    m_selectionsCount = count;
    emit selectionsCountChanged();
}

void TaskMgrModel::setLoading(int loading)
{
    if (loading == m_isLoading)
        return;
    m_isLoading = loading;
    emit isLoadingChanged();
}
