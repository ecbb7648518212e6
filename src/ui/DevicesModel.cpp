#include "DevicesModel.h"

#include "AppSingleton.h"
#include "GlobalModel.h"
#include "MessageBoxContext.h"
#include "ServerModel.h"
#include "TaskMgrModel.h"
#include "UiMetaTypes.h"

#include "core/Invoker.h"
#include "server/FileWork.h"
#include "store/TaskStore.h"

#include <QPointer>

#include <algorithm>

namespace {

QString fromUtf8(const std::string &s)
{
    return QString::fromStdString(s);
}

QString iconFor(const std::string &type)
{
    GlobalModel *global = GlobalModel::instance();
    return global ? global->deviceIcon(fromUtf8(type)) : QStringLiteral("qrc:/res/win-device.png");
}

} // namespace

DevicesModel::DevicesModel(QObject *parent) : QObject(parent)
{
    registerUiMetaTypes();
    qRegisterMetaType<LanferryUdpServer::ServerItem>("LanferryUdpServer::ServerItem");
    m_invoker = new Invoker(this);
    // A request that starts once the model is closing ends at once. The flag is
    // the model's own and set before the abort: the abort alone is cleared by
    // the next request, and the worker's quitting flag comes only after it.
    m_client.setCancelCheck([this] { return m_closing.load(); });
    m_model = new MyItemModel(this);
    m_model->countFn = [this] { return int(m_devices.size()) + 1; };
    m_model->setData2([this](int r) { return row(r); }, QStringLiteral("d"));
    if (ServerModel *server = ServerModel::instance())
        connect(server, &ServerModel::devicesChanged, this, &DevicesModel::reloadDevices);
    reloadDevices();
}

DevicesModel::~DevicesModel()
{
    AppSingleton<DevicesModel>::release(this);
    m_closing = true;
    m_client.abort();
    m_worker.stop();
}

DevicesModel *DevicesModel::instance()
{
    return AppSingleton<DevicesModel>::instance();
}

QAbstractItemModel *DevicesModel::itemModel()
{
    return m_model;
}

void DevicesModel::setIsLoading(bool v)
{
    if (v != m_isLoading) {
        m_isLoading = v;
        emit isLoadingChanged();
    }
}

void DevicesModel::setServerSettingPresent(bool v)
{
    if (v != m_serverSettingPresent) {
        m_serverSettingPresent = v;
        emit serverSettingPresentChanged();
    }
}

void DevicesModel::setConnectPresent(bool v)
{
    if (v != m_connectPresent) {
        m_connectPresent = v;
        emit connectPresentChanged();
    }
}

void DevicesModel::beginLoading()
{
    ++m_pending;
    setIsLoading(true);
}

void DevicesModel::endLoading()
{
    if (m_pending > 0)
        --m_pending;
    setIsLoading(m_pending > 0);
}

QVariantMap DevicesModel::row(int r) const
{
    const int count = int(m_devices.size());
    if (r == count)
        return QVariantMap{{QStringLiteral("t"), QStringLiteral("add")}};
    if (r < 0 || r > count)
        return QVariantMap();
    const LanferryUdpServer::ServerItem &d = m_devices[size_t(r)];
    return QVariantMap{
        {QStringLiteral("t"), QStringLiteral("device")},
        {QStringLiteral("row"), r},
        {QStringLiteral("uid"), fromUtf8(d.info.uid)},
        {QStringLiteral("type"), fromUtf8(d.info.type)},
        {QStringLiteral("name"), fromUtf8(d.info.name)},
        {QStringLiteral("ip"), fromUtf8(d.ip)},
        {QStringLiteral("port"), d.port},
        {QStringLiteral("pwd"), fromUtf8(d.info.pwd)},
        {QStringLiteral("iconsrc"), iconFor(d.info.type)},
    };
}

void DevicesModel::reloadDevices()
{
    ServerModel *server = ServerModel::instance();
    const std::vector<LanferryUdpServer::ServerItem> fresh =
        server ? server->udpServer().listServers(std::string()) : std::vector<LanferryUdpServer::ServerItem>();
    // Row by row, not a reset: a view keeps its tiles (and what is being
    // dragged onto one) while devices come and go. Both lists are in address order.
    const auto same = [](const LanferryUdpServer::ServerItem &a, const LanferryUdpServer::ServerItem &b) {
        return a.port == b.port && a.info.uid == b.info.uid && a.info.name == b.info.name &&
               a.info.type == b.info.type && a.info.pwd == b.info.pwd;
    };
    int firstMoved = -1; // rows from here on have a new number
    size_t i = 0, j = 0;
    while (i < m_devices.size() || j < fresh.size()) {
        const int at = int(i);
        if (j >= fresh.size() || (i < m_devices.size() && m_devices[i].ip < fresh[j].ip)) {
            m_model->removeRowsWith(at, 1, [&] { m_devices.erase(m_devices.begin() + at); });
            firstMoved = firstMoved < 0 ? at : std::min(firstMoved, at);
        } else if (i >= m_devices.size() || fresh[j].ip < m_devices[i].ip) {
            m_model->insertRowsWith(at, 1, [&] { m_devices.insert(m_devices.begin() + at, fresh[j]); });
            firstMoved = firstMoved < 0 ? at + 1 : std::min(firstMoved, at + 1);
            ++i;
            ++j;
        } else {
            const bool changed = !same(m_devices[i], fresh[j]);
            m_devices[i] = fresh[j];
            if (changed)
                m_model->update(at, 1);
            ++i;
            ++j;
        }
    }
    // Each row tells its number: those after a change moved.
    if (firstMoved >= 0 && firstMoved < int(m_devices.size()))
        m_model->update(firstMoved, int(m_devices.size()) - firstMoved);
}

void DevicesModel::connectDeviceTodo(bool promptPassword, const QString &ip, int port, const QString &passcode,
                                     OnOk onOk, OnFail onFail)
{
    beginLoading();
    const PeerEndpoint peer{ip.toStdString(), port, passcode.toStdString()};
    m_worker.run(
        [this, promptPassword, ip, port, peer, onOk, onFail] {
            ServerInfo info;
            const HttpResponse answer = m_client.getInfo(peer, &info);
            info.port = port;
            if (!peer.pwd.empty())
                info.pwd = peer.pwd;
            m_invoker->post([this, promptPassword, ip, port, answer, info, onOk, onFail] {
                endLoading();
                onIdentity(promptPassword, ip, port, answer, info, onOk, onFail);
            });
        },
        this);
}

void DevicesModel::onIdentity(bool promptPassword, const QString &ip, int port, const HttpResponse &answer,
                              const ServerInfo &info, const OnOk &onOk, const OnFail &onFail)
{
    MessageBoxContext *boxes = MessageBoxContext::instance();
    if (answer.status == 200) {
        const std::string address = ip.toStdString();
        if (ServerModel *server = ServerModel::instance())
            server->udpServer().addServer(address, port, info);
        for (size_t i = 0; i < m_devices.size(); ++i) {
            if (m_devices[i].ip == address && m_devices[i].port == port) {
                m_devices[i].info = info;
                m_model->update(int(i), 1);
            }
        }
        if (onOk)
            onOk(info);
        return;
    }
    if (answer.status == 401) {
        if (onFail) {
            onFail();
        } else if (promptPassword) {
            emit pwdRequest(retryWithPassword(ip, port, onOk, onFail));
        } else {
            const InputCallbackModel::Callback retry = retryWithPassword(ip, port, onOk, onFail);
            QPointer<DevicesModel> self(this);
            showWarningBox(boxes, QString(), tr("IDS_INVALID_CONNECTION_PASSWORD"),
                           MessageBoxContext::CallBack([self, retry] {
                               if (self)
                                   emit self->pwdRequest(retry);
                           }),
                           MessageBoxContext::tr("OK"));
        }
        return;
    }
    showErrorBox(boxes, QString(), tr("IDS_CONNECT_SERVER_FAILED") + QStringLiteral(" ") + fromUtf8(answer.body), {},
                 MessageBoxContext::tr("OK"));
}

InputCallbackModel::Callback DevicesModel::retryWithPassword(const QString &ip, int port, const OnOk &onOk,
                                                             const OnFail &onFail)
{
    QPointer<DevicesModel> self(this);
    return InputCallbackModel::Callback([self, ip, port, onOk, onFail](const QVariantList &params) {
        // An empty answer is a prompt the user gave up on.
        if (!self || params.isEmpty())
            return;
        self->connectDeviceTodo(false, ip, port, params.first().toString(), onOk, onFail);
    });
}

void DevicesModel::connectDevice(QString ip, int port, QString passcode)
{
    const OnOk onOk = [this, ip](const ServerInfo &info) {
        if (ServerModel *server = ServerModel::instance())
            server->udpServer().addServer(ip.toStdString(), info.port, info);
        setConnectPresent(false);
        reloadDevices();
    };
    const OnFail onFail = [] {
        showWarningBox(MessageBoxContext::instance(), QString(), tr("IDS_INVALID_CONNECTION_PASSWORD"), {},
                       MessageBoxContext::tr("OK"));
    };
    connectDeviceTodo(true, ip, port, passcode, onOk, onFail);
}

void DevicesModel::gotoDevice(int idx)
{
    if (idx < 0 || idx >= int(m_devices.size()))
        return;
    const LanferryUdpServer::ServerItem device = m_devices[size_t(idx)];
    const OnOk onOk = [device](const ServerInfo &info) {
        LanferryUdpServer::ServerItem opened = device;
        opened.info = info;
        if (GlobalModel *global = GlobalModel::instance())
            global->navTo(QStringLiteral("Device.qml"),
                          QVariantMap{{QStringLiteral("devItem"), QVariant::fromValue(opened)}});
    };
    connectDeviceTodo(true, fromUtf8(device.ip), device.port, fromUtf8(device.info.pwd), onOk, OnFail());
}

void DevicesModel::sendFiles(QString ip, int port, QString passcode, QList<QUrl> furls)
{
    const OnOk onOk = [this, ip, port, furls](const ServerInfo &info) { sendFilesInner(ip, port, info, furls); };
    connectDeviceTodo(true, ip, port, passcode, onOk, OnFail());
}

void DevicesModel::sendFilesInner(QString ip, int port, ServerInfo info, QList<QUrl> furls)
{
    beginLoading();
    m_worker.run(
        [this, ip, port, info, furls] {
            TransferTask task = newOutgoingTask(ip.toStdString(), port, info.uid, info.name, info.type);
            std::vector<TransferFile> files;
            for (const QUrl &url : furls) {
                if (url.isLocalFile())
                    addLocalPath(task.uid, files, url.toLocalFile().toStdString(), std::string(), std::string());
            }
            bool ok = false;
            QString error;
            TaskStore store(true);
            if (files.empty()) {
                // Nothing left to send (the dropped paths are gone): offer no empty task.
                error = GlobalModel::tr("IDS_FILE_NOT_EXISTS");
            } else if (!store.createTask(task, files)) {
                error = fromUtf8(store.lastError());
            } else {
                const HttpResponse answer = m_client.taskRecv(PeerEndpoint{ip.toStdString(), port, info.pwd},
                                                              mirrorForPeer(task, loadServerInfo()), files);
                ok = answer.status == 200;
                if (!ok) {
                    // The device does not have the task: keep no send task that can never run.
                    store.deleteTask(task.uid, 200);
                    error = tr("IDS_REMOTE_ERROR_RETURN_%1_ERR_%2").arg(answer.status).arg(fromUtf8(answer.body));
                }
            }
            const QString tid = fromUtf8(task.uid);
            m_invoker->post([this, ok, error, tid] {
                endLoading();
                if (!ok) {
                    showErrorBox(MessageBoxContext::instance(), QString(), error, {}, MessageBoxContext::tr("OK"));
                    return;
                }
                if (TaskMgrModel *tasks = TaskMgrModel::instance())
                    tasks->startTask(tid, true);
                if (GlobalModel *global = GlobalModel::instance())
                    global->navTo(QStringLiteral("Tasks.qml"));
            });
        },
        this);
}

void DevicesModel::getHelp()
{
    showOkBox(MessageBoxContext::instance(), QString(),
              tr("If no local area network available, you can turn on your phone's hotspot to connect your "
                 "computer."),
              {}, MessageBoxContext::Alert, MessageBoxContext::tr("OK"));
}
