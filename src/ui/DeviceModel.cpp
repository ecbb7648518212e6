#include "DeviceModel.h"

#include "DevicesModel.h"
#include "GlobalModel.h"
#include "MessageBoxContext.h"
#include "TaskMgrModel.h"
#include "UiMetaTypes.h"

#include "core/Invoker.h"
#include "core/Json.h"
#include "core/ServerInfo.h"
#include "store/SavePaths.h"
#include "store/TaskStore.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

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

void showError(const QString &text)
{
    showErrorBox(MessageBoxContext::instance(), QString(), text, {}, MessageBoxContext::tr("OK"));
}

} // namespace

DeviceModel::DeviceModel(QObject *parent) : QObject(parent)
{
    registerUiMetaTypes();
    qRegisterMetaType<LanferryUdpServer::ServerItem>("LanferryUdpServer::ServerItem");
    m_invoker = new Invoker(this);
    // A request that starts once the model is closing ends at once. The flag is
    // the model's own and set before the abort: the abort alone is cleared by
    // the next request, and the worker's quitting flag comes only after it.
    m_client.setCancelCheck([this] { return m_closing.load(); });
    m_model = new MyItemModel(this);
    m_model->countFn = [this] { return int(m_rows.size()); };
    m_model->setData2([this](int r) { return row(r); }, QStringLiteral("d"));
}

DeviceModel::~DeviceModel()
{
    m_closing = true;
    m_client.abort();
    m_worker.stop();
}

void DeviceModel::setIsLoading(bool v)
{
    if (v != m_isLoading) {
        m_isLoading = v;
        emit isLoadingChanged();
    }
}

void DeviceModel::setName(const QString &v)
{
    if (v != m_name) {
        m_name = v;
        emit nameChanged();
    }
}

void DeviceModel::setSubName(const QString &v)
{
    if (v != m_subName) {
        m_subName = v;
        emit subNameChanged();
    }
}

void DeviceModel::setIconSrc(const QString &v)
{
    if (v != m_iconSrc) {
        m_iconSrc = v;
        emit iconSrcChanged();
    }
}

void DeviceModel::setSelectCount(int count)
{
    if (count != m_selectCount) {
        m_selectCount = count;
        emit selectCountChanged();
    }
}

PeerEndpoint DeviceModel::endpoint() const
{
    return PeerEndpoint{m_peer.ip, m_peer.port, m_peer.info.pwd};
}

QVariantMap DeviceModel::row(int r) const
{
    if (r < 0 || r >= int(m_rows.size()))
        return QVariantMap();
    const Row &row = m_rows[size_t(r)];
    const ShareFile &f = row.file;
    QString thumb;
    if (!f.thumb.empty()) {
        thumb = QStringLiteral("image://curl/https://%1:%2/share/thumb/%3?mime=%4")
                    .arg(fromUtf8(m_peer.ip))
                    .arg(m_peer.port)
                    .arg(fromUtf8(f.uid), fromUtf8(f.mime));
    }
    return QVariantMap{
        {QStringLiteral("row"), r},
        {QStringLiteral("uid"), fromUtf8(f.uid)},
        {QStringLiteral("name"), fromUtf8(f.name)},
        {QStringLiteral("icon"), !thumb.isEmpty() ? thumb
                                 : f.folder       ? QStringLiteral("qrc:/res/icon_folder.png")
                                                  : QStringLiteral("qrc:/res/icon_file.png")},
        {QStringLiteral("folder"), f.folder},
        {QStringLiteral("thumb"), thumb},
        {QStringLiteral("checked"), row.checked},
    };
}

void DeviceModel::open(LanferryUdpServer::ServerItem item)
{
    m_peer = item;
    setName(fromUtf8(item.info.name));
    setSubName(item.port == kDefaultPort ? fromUtf8(item.ip)
                                         : QStringLiteral("%1:%2").arg(fromUtf8(item.ip)).arg(item.port));
    GlobalModel *global = GlobalModel::instance();
    setIconSrc(global ? global->deviceIcon(fromUtf8(item.info.type)) : QStringLiteral("qrc:/res/win-device.png"));

    const int generation = ++m_generation;
    m_pending = 1;
    setIsLoading(true);
    const PeerEndpoint peer = endpoint();
    m_worker.run(
        [this, peer, generation] {
            const HttpResponse answer = m_client.shareFiles(peer);
            m_invoker->post([this, answer, generation] {
                if (generation != m_generation)
                    return;
                onFiles(answer);
            });
        },
        this);
}

void DeviceModel::onFiles(const HttpResponse &answer)
{
    if (--m_pending <= 0)
        setIsLoading(false);
    if (answer.status != 200) {
        showError(fromUtf8(answer.body));
        return;
    }
    const JsonPtr list = jsonParse(answer.body);
    // The checks go with the old rows; selectCount is left to the next check.
    m_model->resetWith([&] {
        m_rows.clear();
        if (list && json_object_is_type(list.get(), json_type_array)) {
            const size_t n = json_object_array_length(list.get());
            for (size_t i = 0; i < n; ++i)
                m_rows.push_back(Row{shareFileFromJson(json_object_array_get_idx(list.get(), i)), false});
        }
    });
}

void DeviceModel::check(int index, bool checked)
{
    if (index < 0 || index >= int(m_rows.size()))
        return;
    m_rows[size_t(index)].checked = checked;
    m_model->update(index, 1);
    int count = 0;
    for (const Row &r : m_rows)
        count += r.checked ? 1 : 0;
    setSelectCount(count);
}

void DeviceModel::checkAll(bool checked)
{
    for (Row &r : m_rows)
        r.checked = checked;
    setSelectCount(checked ? int(m_rows.size()) : 0);
    m_model->update(0, int(m_rows.size()));
}

void DeviceModel::download()
{
    downloadInner();
}

void DeviceModel::downloadInner()
{
    std::vector<std::string> uids;
    for (const Row &r : m_rows) {
        if (r.checked)
            uids.push_back(r.file.uid);
    }
    if (uids.empty())
        return;
    QPointer<DeviceModel> self(this);
    emit selectSaveRoot(InputCallbackModel::Callback([self, uids](const QVariantList &params) {
        if (!self || params.isEmpty())
            return;
        const QString folder = localFolder(params.first());
        // Only an existing folder takes the files; anything else counts as no choice.
        if (folder.isEmpty() || !QFileInfo(folder).isDir())
            return;
        const QString absolute = QDir(folder).absolutePath();
        ++self->m_pending;
        self->setIsLoading(true);
        const PeerEndpoint peer = self->endpoint();
        const int generation = self->m_generation;
        DeviceModel *model = self;
        model->m_worker.run(
            [model, peer, uids, absolute, generation] {
                const HttpResponse answer = model->m_client.shareReq(peer, uids);
                model->m_invoker->post([model, answer, absolute, generation] {
                    if (generation != model->m_generation)
                        return;
                    model->onDownload(answer, absolute);
                });
            },
            model);
    }));
}

void DeviceModel::onDownload(const HttpResponse &answer, const QString &folder)
{
    if (--m_pending <= 0)
        setIsLoading(false);
    if (answer.status != 200) {
        showError(fromUtf8(answer.body));
        return;
    }
    const JsonPtr body = jsonParse(answer.body);
    std::vector<TransferFile> files;
    TransferTask task = transferTaskFromJson(body.get(), &files);
    // Where the files go and how far they got are this device's business: each
    // starts from nothing, as an offered one does, whatever the peer wrote.
    task.status = TransferTaskStatus();
    for (TransferFile &f : files) {
        f.save_path.clear();
        f.status = TransferFileStatus();
    }
    // It goes to the receive store, whatever the peer wrote.
    task.from_me = 0;
    task.ip = m_peer.ip;
    task.port = m_peer.port;
    task.pwd = m_peer.info.pwd;
    task.root = QDir::toNativeSeparators(folder).toStdString();
    // Nothing already in the folder is taken over: taken names get free numbered ones.
    std::string error;
    if (!assignFreeSavePaths(task.root, files, &error)) {
        // The peer may not place files outside the chosen folder: take none of them.
        showError(tr("The files from %1 were refused: %2").arg(fromUtf8(m_peer.info.name), fromUtf8(error)));
        return;
    }
    TaskStore store(false);
    if (!store.createTask(task, files)) {
        showError(fromUtf8(store.lastError()));
        return;
    }
    if (TaskMgrModel *tasks = TaskMgrModel::instance())
        tasks->startTask(fromUtf8(task.uid), false);
    if (GlobalModel *global = GlobalModel::instance())
        global->navTo(QStringLiteral("Tasks.qml"));
}

void DeviceModel::sendFiles(QList<QUrl> urls)
{
    if (urls.isEmpty())
        return;
    if (DevicesModel *devices = DevicesModel::instance())
        devices->sendFiles(fromUtf8(m_peer.ip), m_peer.port, fromUtf8(m_peer.info.pwd), urls);
}
