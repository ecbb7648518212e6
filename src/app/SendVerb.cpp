#include "SendVerb.h"

#include "HeadlessSession.h"

#include "store/TaskStore.h"
#include "ui/DevicesModel.h"
#include "ui/GlobalModel.h"
#include "ui/MessageBoxContext.h"
#include "ui/TaskMgrModel.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <set>

namespace {

QString fromUtf8(const std::string &s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

std::set<std::string> sentTaskIds()
{
    std::vector<TransferTask> tasks;
    TaskStore(true).listTasks(&tasks);
    std::set<std::string> ids;
    for (const TransferTask &t : tasks)
        ids.insert(t.uid);
    return ids;
}

} // namespace

QString SendVerb::synopsis() const
{
    return QStringLiteral("HOST[:PORT] PATH... [--password PWD]");
}

QString SendVerb::description() const
{
    return QStringLiteral("Offer PATHs (files and folders) to the device and serve them until it has every file "
                          "or declines.");
}

void SendVerb::describe(QCommandLineParser &parser)
{
    parser.addPositionalArgument(QStringLiteral("HOST[:PORT]"), QStringLiteral("The receiving device."));
    parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("Files and folders to send."),
                                 QStringLiteral("PATH..."));
    parser.addOption(
        {QStringLiteral("password"), QStringLiteral("The receiving device's password."), QStringLiteral("PWD")});
}

bool SendVerb::parseHost(const QString &text, QString *host, int *port)
{
    const int colon = text.lastIndexOf(':');
    *host = colon < 0 ? text : text.left(colon);
    *port = kDefaultPort;
    if (colon >= 0) {
        bool ok = false;
        *port = text.mid(colon + 1).toInt(&ok);
        if (!ok || *port < 1 || *port > 65535)
            return false;
    }
    return !host->isEmpty();
}

bool SendVerb::take(const QCommandLineParser &parser, QString *error)
{
    QStringList args = parser.positionalArguments();
    if (args.size() < 2) {
        *error = QStringLiteral("send needs HOST[:PORT] and at least one PATH");
        return false;
    }
    if (!parseHost(args.takeFirst(), &m_host, &m_port)) {
        *error = QStringLiteral("not a device address: HOST or HOST:PORT with a port from 1 to 65535");
        return false;
    }
    for (const QString &path : args) {
        if (!QFileInfo::exists(path)) {
            *error = QStringLiteral("no such file or folder: %1").arg(path);
            return false;
        }
    }
    m_paths = args;
    m_password = parser.value(QStringLiteral("password"));
    return true;
}

int SendVerb::run()
{
    HeadlessSession session;
    session.setInterruptCode(ExitFailed);
    DevicesModel *devices = DevicesModel::instance();
    const std::set<std::string> before = sentTaskIds();
    TaskKey key;

    // Before the offer every failure means the device could not be reached
    // (or would not take the task); after it, a refusal is the receiver's answer.
    session.setBoxHandler([&](const MessageBoxRequest &box) {
        if (HeadlessSession::matches(box.msg, "ServerModel", "IDS_REMOTE_%1_REJECT_THE_TASK")) {
            session.error(box.msg);
            HeadlessSession::press(box, MessageBoxContext::OK);
            session.finish(ExitFailed);
            return true;
        }
        // The devices model's failures: connection (its text, then the error), password, the
        // device's answer to the offer; all Error boxes but the password's.
        if (key.tid.empty() && (box.icon == MessageBoxContext::Error ||
                                HeadlessSession::matches(box.msg, "DevicesModel", "IDS_INVALID_CONNECTION_PASSWORD"))) {
            session.error(box.msg);
            HeadlessSession::press(box, MessageBoxContext::OK);
            session.finish(ExitUsage);
            return true;
        }
        return false;
    });
    // The screens ask for the password again; the command line knows no other.
    QObject::connect(devices, &DevicesModel::pwdRequest, &session, [&session](InputCallbackModel::Callback) {
        session.error(QCoreApplication::translate("DevicesModel", "IDS_INVALID_CONNECTION_PASSWORD"));
        session.finish(ExitUsage);
    });
    // The devices model opens the Tasks screen once the device took the task.
    QObject::connect(GlobalModel::instance(), &GlobalModel::nav, &session,
                     [&](const QString &qml, const QVariantMap &) {
                         if (qml != QLatin1String("Tasks.qml") || !key.tid.empty())
                             return;
                         for (const std::string &tid : sentTaskIds()) {
                             if (!before.count(tid))
                                 key = TaskKey{tid, true};
                         }
                         if (key.tid.empty())
                             return;
                         session.printer().line(QStringLiteral("offered %1 to %2:%3; task %4")
                                                    .arg(QString::number(m_paths.size()) + QStringLiteral(" paths"),
                                                         m_host, QString::number(m_port), fromUtf8(key.tid)));
                     });
    session.setTick([&] {
        if (!key.tid.empty())
            session.finishWhenDone(key);
    });
    session.startServices();
    QList<QUrl> urls;
    for (const QString &path : m_paths)
        urls << QUrl::fromLocalFile(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    devices->sendFiles(m_host, m_port, m_password, urls);
    return session.exec();
}
