#include "ReceiveVerb.h"

#include "HeadlessSession.h"

#include "core/ServerInfo.h"
#include "ui/MessageBoxContext.h"
#include "ui/TaskMgrModel.h"

#include <QDir>
#include <QFileInfo>

#include <set>

namespace {

QString fromUtf8(const std::string &s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

} // namespace

QString ReceiveVerb::synopsis() const
{
    return QStringLiteral("--to DIR [--from NAME-OR-UID]... [--once]");
}

QString ReceiveVerb::description() const
{
    return QStringLiteral("Serve, and accept every offered task (or only those from the given devices) into DIR; "
                          "with --once, end after the first task.");
}

void ReceiveVerb::describe(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("to"), QStringLiteral("Save received files in DIR (created when missing)."),
                      QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("from"),
                      QStringLiteral("Accept only tasks from this device name or id (repeatable); others are "
                                     "declined."),
                      QStringLiteral("NAME-OR-UID")});
    parser.addOption({QStringLiteral("once"), QStringLiteral("End after the first accepted task has ended.")});
}

bool ReceiveVerb::take(const QCommandLineParser &parser, QString *error)
{
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("receive takes no arguments besides its options");
        return false;
    }
    m_folder = parser.value(QStringLiteral("to"));
    if (m_folder.isEmpty()) {
        *error = QStringLiteral("receive needs --to DIR");
        return false;
    }
    m_from = parser.values(QStringLiteral("from"));
    m_once = parser.isSet(QStringLiteral("once"));
    return true;
}

int ReceiveVerb::run()
{
    const QString folder = QDir(m_folder).absolutePath();
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir()) {
        std::fprintf(stderr, "lanferry: cannot create the folder %s\n", folder.toUtf8().constData());
        return ExitFailed;
    }
    if (loadServerInfo().pwd.empty())
        std::fprintf(stderr, "lanferry: warning: this device has no password; any device on the network can send "
                             "it files (lanferry config --password PWD)\n");

    HeadlessSession session;
    session.setInterruptCode(m_once ? ExitFailed : ExitOk);
    std::set<std::string> accepted; // running or waiting to run

    session.setOfferPolicy([&](const TransferTask &task, const std::vector<TransferFile> &) {
        const QString name = fromUtf8(task.remote_name);
        if (!m_from.isEmpty() && !m_from.contains(name) && !m_from.contains(fromUtf8(task.remote_uid))) {
            session.printer().line(
                QStringLiteral("declined %1 files from %2").arg(QString::number(task.status.total), name));
            return QString();
        }
        if (m_once && !accepted.empty())
            return QString(); // one task is all this run takes
        session.printer().line(
            QStringLiteral("receiving %1 files from %2").arg(QString::number(task.status.total), name));
        accepted.insert(task.uid);
        if (!QFileInfo(folder).isDir())
            QDir().mkpath(folder);
        return folder;
    });
    session.setBoxHandler([&](const MessageBoxRequest &box) {
        if (!HeadlessSession::matches(box.msg, "ServerModel", "The task from %1 was refused: %2"))
            return false;
        // A task that would place files outside the folder: refused whole, and the device stays up.
        session.error(box.msg);
        HeadlessSession::press(box, MessageBoxContext::OK);
        if (m_once)
            session.finish(ExitFailed);
        return true;
    });
    session.setTick([&] {
        for (auto it = accepted.begin(); it != accepted.end();) {
            const TaskKey key{*it, false};
            const TaskEntry *entry = session.showTask(key);
            if (!entry || !HeadlessSession::isDone(*entry)) {
                ++it;
                continue;
            }
            const TransferTaskStatus &s = entry->task.status;
            const QString from = fromUtf8(entry->task.remote_name);
            if (s.failed > 0)
                session.printer().line(QStringLiteral("task from %1 ended: %2 of %3 files failed")
                                           .arg(from, QString::number(s.failed), QString::number(s.total)));
            else
                session.printer().line(
                    QStringLiteral("task from %1 ended: %2 files arrived").arg(from, QString::number(s.total)));
            const int code = s.failed > 0 ? ExitFailed : ExitOk;
            it = accepted.erase(it);
            if (m_once) {
                session.finish(code);
                return;
            }
        }
    });
    session.startServices();
    return session.exec();
}
