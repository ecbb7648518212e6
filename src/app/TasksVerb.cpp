#include "TasksVerb.h"

#include "TerminalText.h"

#include "store/TaskStore.h"

#include <QDateTime>

#include <algorithm>
#include <cstdio>

QString TasksVerb::description() const
{
    return QStringLiteral("List the stored tasks: id, direction, device, created, files done/failed/total, error.");
}

bool TasksVerb::take(const QCommandLineParser &parser, QString *error)
{
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("tasks takes no arguments");
        return false;
    }
    return true;
}

int TasksVerb::run()
{
    std::vector<TransferTask> tasks;
    TaskStore sent(true), received(false);
    // A store that cannot be read completely still lists what it could.
    const bool sentOk = sent.listTasks(&tasks);
    const bool receivedOk = received.listTasks(&tasks);
    std::stable_sort(tasks.begin(), tasks.end(),
                     [](const TransferTask &a, const TransferTask &b) { return a.created > b.created; });
    for (const TransferTask &t : tasks) {
        const TransferTaskStatus &s = t.status;
        const QString peer =
            QStringLiteral("%1 (%2:%3)")
                .arg(QString::fromStdString(t.remote_name), QString::fromStdString(t.ip), QString::number(t.port));
        QString line = QString::fromStdString(t.uid) + QStringLiteral("  ") +
                       (t.from_me ? QStringLiteral("sent     ") : QStringLiteral("received ")) + QStringLiteral(" ") +
                       peer + QStringLiteral("  ") +
                       QDateTime::fromSecsSinceEpoch(t.created).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
                       QStringLiteral("  %1/%2/%3").arg(s.successes).arg(s.failed).arg(s.total);
        if (!s.error.empty())
            line += QStringLiteral("  ") + (s.remote ? QStringLiteral("Error in the other device. ") : QString()) +
                    QString::fromStdString(s.error);
        std::printf("%s\n", TerminalText::utf8(line).constData());
    }
    if (!sentOk || !receivedOk) {
        std::fprintf(stderr, "lanferry: %s\n",
                     TerminalText::utf8(QString::fromStdString((!sentOk ? sent : received).lastError())).constData());
        return ExitFailed;
    }
    return ExitOk;
}
