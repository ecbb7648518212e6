#include "ResumeVerb.h"

#include "HeadlessSession.h"

#include "store/TaskStore.h"
#include "ui/TaskMgrModel.h"

#include <algorithm>
#include <set>

namespace {

QString fromUtf8(const std::string &s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

} // namespace

QString ResumeVerb::synopsis() const
{
    return QStringLiteral("[TASK-ID...]");
}

QString ResumeVerb::description() const
{
    return QStringLiteral("Start unfinished received tasks (all of them when none is given) and wait until they "
                          "end.");
}

void ResumeVerb::describe(QCommandLineParser &parser)
{
    parser.addPositionalArgument(QStringLiteral("TASK-ID"), QStringLiteral("A received task (see lanferry tasks)."),
                                 QStringLiteral("[TASK-ID...]"));
}

bool ResumeVerb::take(const QCommandLineParser &parser, QString *error)
{
    m_ids = parser.positionalArguments();
    for (const QString &id : m_ids) {
        if (!isValidStoreId(id.toStdString())) {
            *error = QStringLiteral("not a task id: %1").arg(id);
            return false;
        }
    }
    return true;
}

int ResumeVerb::run()
{
    std::vector<TransferTask> stored;
    TaskStore(false).listTasks(&stored);
    std::set<std::string> chosen;
    for (const QString &id : m_ids) {
        const std::string tid = id.toStdString();
        const bool known =
            std::any_of(stored.begin(), stored.end(), [&tid](const TransferTask &t) { return t.uid == tid; });
        if (!known) {
            std::fprintf(stderr, "lanferry: no received task %s\n", tid.c_str());
            return ExitUsage;
        }
        chosen.insert(tid);
    }
    if (m_ids.isEmpty()) {
        for (const TransferTask &t : stored) {
            if (t.status.total - t.status.successes > 0)
                chosen.insert(t.uid);
        }
    }
    if (chosen.empty()) {
        std::printf("nothing to resume\n");
        return ExitOk;
    }

    HeadlessSession session;
    session.setInterruptCode(ExitFailed);
    bool failed = false;
    std::set<std::string> left = chosen;
    session.setTick([&] {
        for (auto it = left.begin(); it != left.end();) {
            const TaskEntry *entry = session.showTask(TaskKey{*it, false});
            if (!entry) {
                // Removed meanwhile (by another program on the same data folder): nothing to wait for.
                failed = true;
                it = left.erase(it);
                continue;
            }
            if (!HeadlessSession::isDone(*entry)) {
                ++it;
                continue;
            }
            const TransferTaskStatus &s = entry->task.status;
            failed = failed || s.failed > 0;
            session.printer().line(QStringLiteral("task %1 from %2 ended: %3 of %4 files arrived")
                                       .arg(fromUtf8(*it), fromUtf8(entry->task.remote_name),
                                            QString::number(s.successes), QString::number(s.total)));
            it = left.erase(it);
        }
        if (left.empty())
            session.finish(failed ? ExitFailed : ExitOk);
    });
    session.startServices();
    for (const std::string &tid : chosen) {
        session.printer().line(QStringLiteral("resuming task %1").arg(fromUtf8(tid)));
        session.tasks()->startTask(fromUtf8(tid), false);
    }
    return session.exec();
}
