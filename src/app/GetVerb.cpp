#include "GetVerb.h"

#include "HeadlessSession.h"
#include "SendVerb.h"

#include "store/TaskStore.h"
#include "ui/DeviceModel.h"
#include "ui/DevicesModel.h"
#include "ui/GlobalModel.h"
#include "ui/MessageBoxContext.h"
#include "ui/MyItemModel.h"
#include "ui/TaskMgrModel.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <set>

namespace {

std::set<std::string> receivedTaskIds()
{
    std::vector<TransferTask> tasks;
    TaskStore(false).listTasks(&tasks);
    std::set<std::string> ids;
    for (const TransferTask &t : tasks)
        ids.insert(t.uid);
    return ids;
}

QVariantMap rowOf(QAbstractItemModel *model, int row)
{
    return model->data(model->index(row, 0), MyItemModel::FirstRole).toMap();
}

} // namespace

QString GetVerb::synopsis() const
{
    return QStringLiteral("HOST[:PORT] --to DIR [--password PWD] [--ids ID,...]");
}

QString GetVerb::description() const
{
    return QStringLiteral("Download every entry the device shares, or the given ones, into DIR.");
}

void GetVerb::describe(QCommandLineParser &parser)
{
    parser.addPositionalArgument(QStringLiteral("HOST[:PORT]"), QStringLiteral("The sharing device."));
    parser.addOption(
        {QStringLiteral("to"), QStringLiteral("Save the files in DIR (created when missing)."), QStringLiteral("DIR")});
    parser.addOption(
        {QStringLiteral("password"), QStringLiteral("The sharing device's password."), QStringLiteral("PWD")});
    parser.addOption({QStringLiteral("ids"), QStringLiteral("Only these shared entries (comma-separated ids)."),
                      QStringLiteral("ID,...")});
}

bool GetVerb::take(const QCommandLineParser &parser, QString *error)
{
    const QStringList args = parser.positionalArguments();
    if (args.size() != 1) {
        *error = QStringLiteral("get needs one HOST[:PORT]");
        return false;
    }
    if (!SendVerb::parseHost(args.first(), &m_host, &m_port)) {
        *error = QStringLiteral("not a device address: HOST or HOST:PORT with a port from 1 to 65535");
        return false;
    }
    m_folder = parser.value(QStringLiteral("to"));
    if (m_folder.isEmpty()) {
        *error = QStringLiteral("get needs --to DIR");
        return false;
    }
    m_password = parser.value(QStringLiteral("password"));
    if (parser.isSet(QStringLiteral("ids"))) {
        m_ids = parser.value(QStringLiteral("ids")).split(',', Qt::SkipEmptyParts);
        if (m_ids.isEmpty()) {
            *error = QStringLiteral("--ids needs at least one id");
            return false;
        }
    }
    return true;
}

int GetVerb::run()
{
    const QString folder = QDir(m_folder).absolutePath();
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir()) {
        std::fprintf(stderr, "lanferry: cannot create the folder %s\n", folder.toUtf8().constData());
        return ExitFailed;
    }
    HeadlessSession session;
    session.setInterruptCode(ExitFailed);
    DevicesModel *devices = DevicesModel::instance();
    std::unique_ptr<DeviceModel> device;
    const std::set<std::string> before = receivedTaskIds();
    TaskKey key;
    bool browsed = false;

    session.setBoxHandler([&](const MessageBoxRequest &box) {
        if (!key.tid.empty())
            return false;
        // Before the task exists: the device could not be reached (2), or it refused the list or the download (1).
        session.error(box.msg);
        HeadlessSession::press(box, box.buttons.isEmpty() ? MessageBoxContext::OK : box.buttons.first().role);
        session.finish(device ? ExitFailed : ExitUsage);
        return true;
    });
    QObject::connect(devices, &DevicesModel::pwdRequest, &session, [&session](InputCallbackModel::Callback) {
        session.error(QCoreApplication::translate("DevicesModel", "IDS_INVALID_CONNECTION_PASSWORD"));
        session.finish(ExitUsage);
    });

    auto downloadChosen = [&] {
        QAbstractItemModel *rows = device->model();
        const int count = rows->rowCount();
        QStringList missing = m_ids;
        for (int r = 0; r < count; ++r) {
            const QString uid = rowOf(rows, r).value(QStringLiteral("uid")).toString();
            const bool wanted = m_ids.isEmpty() || m_ids.contains(uid);
            missing.removeAll(uid);
            device->check(r, wanted);
        }
        if (!missing.isEmpty()) {
            session.error(QStringLiteral("the device shares no entry %1").arg(missing.join(QStringLiteral(", "))));
            session.finish(ExitUsage);
            return;
        }
        if (count == 0) {
            session.error(QStringLiteral("the device shares nothing"));
            session.finish(ExitFailed);
            return;
        }
        session.printer().line(QStringLiteral("downloading %1 entries into %2")
                                   .arg(QString::number(m_ids.isEmpty() ? count : m_ids.size()), folder));
        device->download();
    };

    // The Device screen: opened by the devices model with the device it checked.
    QObject::connect(
        GlobalModel::instance(), &GlobalModel::nav, &session, [&](const QString &qml, const QVariantMap &props) {
            if (qml == QLatin1String("Device.qml") && !device) {
                device = std::make_unique<DeviceModel>();
                QObject::connect(device.get(), &DeviceModel::selectSaveRoot, &session,
                                 [folder](InputCallbackModel::Callback cb) {
                                     InputCallbackModel::instance()->callback(cb, {QUrl::fromLocalFile(folder)});
                                 });
                QObject::connect(device.get(), &DeviceModel::isLoadingChanged, &session, [&] {
                    // The rows are filled just after the loading flag drops.
                    if (!device->property("isLoading").toBool() && !browsed) {
                        browsed = true;
                        QTimer::singleShot(0, &session, downloadChosen);
                    }
                });
                device->open(props.value(QStringLiteral("devItem")).value<LanferryUdpServer::ServerItem>());
            } else if (qml == QLatin1String("Tasks.qml") && key.tid.empty()) {
                for (const std::string &tid : receivedTaskIds()) {
                    if (!before.count(tid))
                        key = TaskKey{tid, false};
                }
            }
        });
    // Connected by address: the device is in the list now; open it as its tile does.
    auto openDevice = [&] {
        QAbstractItemModel *rows = devices->itemModel();
        for (int r = 0; r < rows->rowCount(); ++r) {
            const QVariantMap row = rowOf(rows, r);
            if (row.value(QStringLiteral("t")).toString() == QLatin1String("device") &&
                row.value(QStringLiteral("ip")).toString() == m_host &&
                row.value(QStringLiteral("port")).toInt() == m_port) {
                devices->gotoDevice(r);
                return;
            }
        }
        session.error(QStringLiteral("the device %1:%2 did not stay in the device list").arg(m_host).arg(m_port));
        session.finish(ExitUsage);
    };
    // Connected by address: the panel closes, and once the list is read again
    // the device has its tile; open it as a click on the tile does.
    QObject::connect(devices, &DevicesModel::connectPresentChanged, &session, [&] {
        if (!devices->property("connectPresent").toBool())
            QTimer::singleShot(0, &session, openDevice);
    });
    session.setTick([&] {
        if (!key.tid.empty())
            session.finishWhenDone(key);
    });
    session.startServices();
    devices->setProperty("connectPresent", true);
    devices->connectDevice(m_host, m_port, m_password);
    return session.exec();
}
