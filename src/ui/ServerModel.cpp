#include "ServerModel.h"

#include "AppSingleton.h"
#include "DesktopNotifier.h"
#include "GlobalModel.h"
#include "MessageBoxContext.h"
#include "TaskMgrModel.h"
#include "ToastContext.h"
#include "UiMetaTypes.h"

#include "client/LanferryHttpClient.h"
#include "core/DataFolder.h"
#include "core/Invoker.h"
#include "core/ServerInfo.h"
#include "server/FileWork.h"
#include "store/SavePaths.h"
#include "store/TaskStore.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <filesystem>

namespace {

QString fromUtf8(const std::string &s)
{
    return QString::fromStdString(s);
}

// A picked folder arrives as a URL (from a folder dialog) or as a plain path.
QString localFolder(const QVariant &v)
{
    const QUrl url = v.toUrl();
    if (url.isLocalFile())
        return url.toLocalFile();
    const QString text = v.toString();
    const QUrl parsed(text);
    return parsed.isLocalFile() ? parsed.toLocalFile() : text;
}

} // namespace

ServerModel::ServerModel(QObject *parent) : QObject(parent)
{
    registerUiMetaTypes();
    m_invoker = new Invoker(this);
    m_discovery->udp = &m_udp;
    // Once, before any start: the service's workers call these without a lock,
    // so they must never change while it runs (start() restarts it with them).
    installCallbacks();
    // A notice to a sender that does not answer must not hold up the end of the program.
    m_noticeClient.setCancelCheck([this] { return m_closing.load(); });
    reloadInfo();
}

ServerModel::~ServerModel()
{
    AppSingleton<ServerModel>::release(this);
    {
        std::lock_guard<std::mutex> lock(m_discovery->mutex);
        m_discovery->udp = nullptr;
    }
    stop();
    // The flag first: a notice that starts after the abort sees it and goes nowhere.
    m_closing = true;
    m_noticeClient.abort();
    m_notices.stop();
}

ServerModel *ServerModel::instance()
{
    return AppSingleton<ServerModel>::instance();
}

void ServerModel::post(std::function<void()> fn)
{
    m_invoker->post(std::move(fn));
}

void ServerModel::setUid(const QString &v)
{
    if (v != m_uid) {
        m_uid = v;
        emit uidChanged();
    }
}

void ServerModel::setName(const QString &v)
{
    if (v != m_name) {
        m_name = v;
        emit nameChanged();
    }
}

void ServerModel::setPort(int v)
{
    if (v != m_port) {
        m_port = v;
        emit portChanged();
    }
}

void ServerModel::setPasscode(const QString &v)
{
    if (v != m_passcode) {
        m_passcode = v;
        emit passcodeChanged();
    }
}

void ServerModel::setIp(const QString &v)
{
    if (v != m_ip) {
        m_ip = v;
        emit ipChanged();
    }
}

void ServerModel::reloadInfo()
{
    const ServerInfo me = loadServerInfo();
    setUid(fromUtf8(me.uid));
    setName(fromUtf8(me.name));
    setPort(me.port);
    setPasscode(fromUtf8(me.pwd));
    QStringList addresses;
    for (const std::string &a : LanferryUdpServer::localAddresses()) {
        if (a != "127.0.0.1")
            addresses << fromUtf8(a);
    }
    setIp(addresses.join(QStringLiteral(", ")));
}

bool ServerModel::saveMe(QString name, int port, QString passcode)
{
    ServerInfo me = loadServerInfo();
    me.name = name.isEmpty() ? homeFolderName() : name.toStdString();
    me.pwd = passcode.toStdString();
    const int newPort = port >= 1 && port <= 65535 ? port : kDefaultPort;
    if (newPort != me.port) {
        me.port = newPort;
        // After this call returns: both services go down, then come up on the new port.
        post([this] {
            m_udp.stop();
            m_http.stop();
        });
        post([this] { start(); });
    }
    saveServerInfo(me);
    reloadInfo();
    return true;
}

void ServerModel::start()
{
    // Once per run: a later start (a new port, a retry) finds offers that are still being answered.
    if (!m_startedOnce) {
        m_startedOnce = true;
        dropLeftoverOffers();
    }
    const bool discovery = m_udp.start(
        [this](const LanferryUdpServer::ServerItem &, LanferryUdpServer::ServerItemStatus) { emit devicesChanged(); },
        nullptr);
    if (!discovery) {
        const QString error = fromUtf8(m_udp.lastError());
        post([error] {
            showWarningBox(MessageBoxContext::instance(), QString(), tr("IDS_LISTENNING_DEVICES_ERROR_%1").arg(error),
                           {}, tr("OK"));
        });
    }
    if (TaskMgrModel *tasks = TaskMgrModel::instance()) {
        tasks->setCandidateList([discovery = m_discovery](const std::string &uid) {
            std::lock_guard<std::mutex> lock(discovery->mutex);
            return discovery->udp ? discovery->udp->listServers(uid) : std::vector<LanferryUdpServer::ServerItem>();
        });
    }
    m_http.start();
}

void ServerModel::dropLeftoverOffers()
{
    TaskStore waiting(false, tmpTasksRoot());
    std::vector<std::string> tids;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(waiting.root(), ec)) {
        const std::string tid = entry.path().filename().string();
        if (isValidStoreId(tid))
            tids.push_back(tid);
    }
    for (const std::string &tid : tids) {
        TransferTask task;
        if (waiting.readTask(tid, &task) == 1)
            notifySender(tid, PeerEndpoint{task.ip, task.port, task.pwd}, false);
        waiting.deleteTask(tid, 200);
    }
}

void ServerModel::stop()
{
    m_udp.stop();
    m_http.stop();
}

void ServerModel::installCallbacks()
{
    m_http.onReadFile = readFileForPeer;
    m_http.onReadThumb = makeThumbnail;
    m_http.onShareFile = [](const std::string &tid, const ShareFile &entry, std::vector<TransferFile> &files) {
        addLocalPath(tid, files, entry.uri, std::string(), entry.uid);
    };
    m_http.onServerError = [this](const std::string &message) {
        const QString text = fromUtf8(message);
        post([this, text] {
            showMessageBox(MessageBoxContext::instance(), QString(), tr("IDS_START_SERVER_ERROR_%1").arg(text),
                           MessageBoxContext::Error,
                           {{MessageBoxContext::Yes, tr("BTN_RETRY"), MessageBoxContext::CallBack([this] { start(); })},
                            {MessageBoxContext::No, tr("Close"), {}}});
        });
    };
    m_http.onTaskRecv = [this](const TransferTask &task, const std::vector<TransferFile> &files) {
        {
            // Each waiting offer is a prompt and a folder: a device cannot pile them up.
            std::lock_guard<std::mutex> lock(m_waitingMutex);
            size_t fromDevice = 0;
            for (const auto &w : m_waiting)
                fromDevice += w.second == task.remote_uid ? 1 : 0;
            if (!m_waiting.count(task.uid) &&
                (m_waiting.size() >= kMaxWaitingOffers || fromDevice >= kMaxWaitingOffersPerDevice))
                return OnTaskRecvResult{429, "Too many offers are waiting for an answer."};
            m_waiting[task.uid] = task.remote_uid;
        }
        TaskStore waiting(false, tmpTasksRoot());
        if (!waiting.createTask(task, files)) {
            forgetWaiting(task.uid);
            const QString error = fromUtf8(waiting.lastError());
            post([error] { showErrorBox(MessageBoxContext::instance(), QString(), error, {}, tr("OK")); });
            return OnTaskRecvResult();
        }
        const PeerEndpoint peer{task.ip, task.port, task.pwd};
        const std::string tid = task.uid;
        post([this, tid, peer] { promptForTask(tid, peer); });
        return OnTaskRecvResult();
    };
    m_http.onTaskProgress = [](const std::string &tid, const std::string &fid, const TransferFileStatus &status) {
        // On a worker: only a task manager that exists takes the status (start()
        // made it). Making one here would put it on this thread, or bring it
        // back while the program is tearing it down.
        AppSingleton<TaskMgrModel>::withExisting([&](TaskMgrModel *tasks) {
            tasks->updateFileStatus(TaskKey{tid, true}, fid, status);
        });
    };
    m_http.onTaskNotif = [this](const TransferTask &task, bool accepted) {
        post([task, accepted] {
            if (!accepted) {
                showWarningBox(MessageBoxContext::instance(), QString(),
                               tr("IDS_REMOTE_%1_REJECT_THE_TASK").arg(fromUtf8(task.remote_name)), {}, tr("OK"));
            }
            if (TaskMgrModel *tasks = TaskMgrModel::instance())
                tasks->refreshTask(fromUtf8(task.uid), task.from_me != 0);
        });
    };
    m_http.onTaskStart = [this](const std::string &tid) {
        post([tid] {
            if (TaskMgrModel *tasks = TaskMgrModel::instance())
                tasks->startTask(fromUtf8(tid), true);
        });
    };
    m_http.onTaskStop = [this](const std::string &tid) {
        post([tid] {
            if (TaskMgrModel *tasks = TaskMgrModel::instance())
                tasks->stopTask(fromUtf8(tid), true);
        });
    };
    m_http.onShareReq = [this](const std::string &address, const ServerInfo &requester) {
        const QString who = QStringLiteral("%1(%2)").arg(fromUtf8(requester.name), fromUtf8(address));
        post([who] {
            if (ToastContext *toasts = ToastContext::instance())
                emit toasts->toast(tr("IDS_%1_DOWNLOAD_SHARE_FILES").arg(who), 2000);
        });
    };
}

void ServerModel::setNotifier(DesktopNotifier *notifier)
{
    m_notifier = notifier;
}

void ServerModel::promptForTask(const std::string &tid, const PeerEndpoint &peer)
{
    TransferTask task;
    TaskStore waiting(false, tmpTasksRoot());
    if (waiting.readTask(tid, &task) != 1)
        return;
    if (m_offerPolicy) {
        std::vector<TransferFile> files;
        const QString folder = waiting.readTaskFiles(tid, &files) > 0 ? m_offerPolicy(task, files) : QString();
        if (folder.isEmpty())
            declineTask(tid, peer);
        else
            acceptTask(tid, peer, folder);
        return;
    }
    const QString text = tr("Want to start receiving %1 files sent by the device (%2)?")
                             .arg(task.status.total)
                             .arg(fromUtf8(task.remote_name));
    // An answer that comes after the offer expired changes nothing: the sender was told.
    const std::function<void()> accept = [this, tid, peer] {
        if (!isWaiting(tid))
            return;
        emit selectSaveRoot(InputCallbackModel::Callback([this, tid, peer](const QVariantList &params) {
            if (!isWaiting(tid)) {
                showWarningBox(MessageBoxContext::instance(), QString(),
                               tr("The offer was not answered in time and has been declined."), {}, tr("OK"));
                return;
            }
            acceptTask(tid, peer, params.isEmpty() ? QString() : localFolder(params.first()));
        }));
    };
    const std::function<void()> decline = [this, tid, peer] {
        if (isWaiting(tid))
            declineTask(tid, peer);
    };
    // The prompt and the desktop notification are two views of one decision:
    // the first answer counts, and the other view closes.
    struct Decision {
        bool made = false;
        quint64 notification = 0;
    };
    const auto decision = std::make_shared<Decision>();
    const QString boxId = QStringLiteral("offer:") + fromUtf8(tid);
    const auto answer = [this, decision, boxId](bool inBox, const std::function<void()> &fn) {
        if (decision->made)
            return;
        decision->made = true;
        if (inBox) {
            if (m_notifier)
                m_notifier->closeOffer(decision->notification);
        } else {
            closeMessageBox(MessageBoxContext::instance(), boxId);
        }
        fn();
    };
    const MessageBoxContext::CallBack yes([answer, accept] { answer(true, accept); });
    const MessageBoxContext::CallBack no([answer, decline] { answer(true, decline); });
    showMessageBox(MessageBoxContext::instance(), QString(), text, MessageBoxContext::Question,
                   {{MessageBoxContext::Yes, tr("Yes"), yes}, {MessageBoxContext::No, tr("No"), no}}, boxId);
    if (m_notifier) {
        std::vector<TransferFile> files;
        int64_t bytes = 0;
        if (waiting.readTaskFiles(tid, &files) > 0) {
            for (const TransferFile &f : files)
                bytes += f.total;
        }
        decision->notification = m_notifier->offer(
            fromUtf8(task.remote_name), task.status.total, bytes, [answer, accept] { answer(false, accept); },
            [answer, decline] { answer(false, decline); });
    }
    QTimer::singleShot(m_offerLifetimeMs, this, [this, tid, peer, decision] {
        if (m_notifier)
            m_notifier->closeOffer(decision->notification);
        if (isWaiting(tid))
            declineTask(tid, peer);
    });
}

void ServerModel::acceptTask(const std::string &tid, const PeerEndpoint &peer, const QString &saveFolder)
{
    if (saveFolder.isEmpty() || !QFileInfo(saveFolder).isDir()) {
        declineTask(tid, peer);
        return;
    }
    TaskStore waiting(false, tmpTasksRoot());
    TransferTask task;
    std::vector<TransferFile> files;
    if (waiting.readTask(tid, &task) != 1 || waiting.readTaskFiles(tid, &files) <= 0)
        return; // the waiting task stays; the sender is not told
    const std::string folder = QDir(saveFolder).absolutePath().toStdString();
    task.root = folder;
    // Nothing already in the folder is taken over: taken names get free numbered ones.
    std::string error;
    if (!assignFreeSavePaths(folder, files, &error)) {
        // A sender may not place files outside the chosen folder: refuse the whole task.
        declineTask(tid, peer);
        showErrorBox(MessageBoxContext::instance(), QString(),
                     tr("The task from %1 was refused: %2").arg(fromUtf8(task.remote_name), fromUtf8(error)), {},
                     tr("OK"));
        return;
    }
    TaskStore received(false);
    if (!received.createTask(task, files)) {
        // A task that cannot be kept cannot be received: the sender must not wait for pulls.
        declineTask(tid, peer);
        showErrorBox(MessageBoxContext::instance(), QString(), fromUtf8(received.lastError()), {}, tr("OK"));
        return;
    }
    notifySender(tid, peer, true);
    waiting.deleteTask(tid, 200);
    forgetWaiting(tid);
    if (TaskMgrModel *tasks = TaskMgrModel::instance())
        tasks->startTask(fromUtf8(tid), false);
    if (GlobalModel *global = GlobalModel::instance())
        global->navTo(QStringLiteral("Tasks.qml"));
}

void ServerModel::declineTask(const std::string &tid, const PeerEndpoint &peer)
{
    notifySender(tid, peer, false);
    TaskStore(false, tmpTasksRoot()).deleteTask(tid, 200);
    forgetWaiting(tid);
}

bool ServerModel::isWaiting(const std::string &tid)
{
    std::lock_guard<std::mutex> lock(m_waitingMutex);
    return m_waiting.count(tid) > 0;
}

void ServerModel::forgetWaiting(const std::string &tid)
{
    std::lock_guard<std::mutex> lock(m_waitingMutex);
    m_waiting.erase(tid);
}

void ServerModel::notifySender(const std::string &tid, const PeerEndpoint &peer, bool accept)
{
    // The answer is not looked at; a network wait must not hold the user-interface thread.
    m_notices.run([this, tid, peer, accept] { m_noticeClient.taskRecvNotif(peer, tid, accept); });
}
