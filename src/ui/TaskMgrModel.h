// The task screen's model: every sent and received task as a tree of task
// rows and their file rows, with the screen's operations (load, refresh,
// start, stop, remove, check) on top of the task engine that it owns.
#pragma once

#include "MyTreeItemModel.h"

#include "engine/TaskEngine.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <set>
#include <vector>

class TaskMgrModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(MyTreeItemModel *model READ model CONSTANT)
    Q_PROPERTY(int selectionsCount READ selectionsCount NOTIFY selectionsCountChanged)
    Q_PROPERTY(int isLoading READ isLoading NOTIFY isLoadingChanged)
public:
    // Loads the stored tasks in the background.
    explicit TaskMgrModel(QObject *parent = nullptr);
    ~TaskMgrModel() override;

    // The application-wide object; null without an application object.
    static TaskMgrModel *instance();

    MyTreeItemModel *model() const { return m_model; }
    int selectionsCount() const { return m_selectionsCount; }
    int isLoading() const { return m_isLoading; }

    // Any thread. How a task's device is found when its stored address does
    // not answer; until set, only the stored address is tried.
    void setCandidateList(TaskEngine::CandidateList candidates);
    // Any thread: a file status of a task sent by this device, as its receiver reported it.
    void updateFileStatus(const TaskKey &key, const std::string &fid, const TransferFileStatus &status);

    // The row of a row path: one index for a task, two for a file of it; an
    // empty map for anything else.
    QVariantMap rowData(const QList<int> &path) const;
    // The keys of the listed tasks, newest first.
    const std::vector<TaskKey> &taskOrder() const { return m_order; }
    const TaskEngine &engine() const { return *m_engine; }
    TaskEngine &engine() { return *m_engine; }

    // "1024B", "1kB", "1M", "1.50G": whole units of 1024, hundredths for gigabytes.
    static QString sizeText(int64_t n);
    // The error to show for a state: the text of a failure, marked when the other side failed.
    static QString errorText(bool remote, int status, const std::string &error);

    Q_INVOKABLE int tasksCount() const { return static_cast<int>(m_order.size()); }

signals:
    void selectionsCountChanged();
    void isLoadingChanged();

public slots:
    void loadTaskFiles(QString tid, bool isFromMe);
    void refreshTask(QString tid, bool isFromMe);
    void startTask(QString tid, bool isFromMe);
    void stopTask(QString tid, bool isFromMe);
    void stopTask(MyTreeItemModel::PNode node);
    void removeTask(MyTreeItemModel::PNode node);
    void removeChecked();
    void checkTask(MyTreeItemModel::PNode node, bool checked);
    void checkAll(bool checked);
    void updateTaskSelectionsCount();

private:
    QVariantMap taskRow(const TaskKey &key) const;
    QVariantMap fileRow(const TaskKey &key, int index) const;
    // The position of a task row among the top-level rows; -1 for anything else.
    int taskPosition(MyTreeItemModel::PNode node) const;
    int positionOf(const TaskKey &key) const;
    MyTreeItemModel::PNode taskNode(const TaskKey &key) const;
    void sortOrder();
    void tasksUpdateReset();
    // A task's row, with its file rows when they are loaded.
    void addTaskNode(const TaskKey &key, const MyTreeItemModel::NodeFactory &factory);
    void addFileNodes(MyTreeItemModel::PNode parent, const TaskKey &key, int count,
                      const MyTreeItemModel::NodeFactory &factory);
    void setLoading(int loading);
    // After its removal from the store: the task's row, entry and check go.
    void forgetTask(const TaskKey &key);
    void confirm(const QString &text, std::function<void()> action);

    // Engine events.
    void onTaskAdded(const TaskKey &key);
    void onTaskRemoved(const TaskKey &key);
    void onFilesLoaded(const TaskKey &key, int count);
    void onTaskChanged(const TaskKey &key);
    void onFileChanged(const TaskKey &key, int index);
    void onFilesChanged(const TaskKey &key);

    MyTreeItemModel *m_model;
    std::vector<TaskKey> m_order;
    std::set<TaskKey> m_checked;
    int m_selectionsCount = 0;
    int m_isLoading = 0;
    std::unique_ptr<TaskEngine> m_engine; // last: its threads end before the rest goes
};
