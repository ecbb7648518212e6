#include "ShareFormModel.h"

#include "MessageBoxContext.h"
#include "UiMetaTypes.h"

#include "server/FileWork.h"
#include "store/ShareFilesDb.h"

#include <QFileInfo>

namespace {

QString fromUtf8(const std::string &s)
{
    return QString::fromStdString(s);
}

} // namespace

ShareFormModel::ShareFormModel(QObject *parent) : QObject(parent)
{
    registerUiMetaTypes();
    m_shareEnabled = ShareFilesDb::instance().isEnabled();
    m_model = new MyItemModel(this);
    m_model->countFn = [this] { return int(m_files.size()); };
    m_model->setData2([this](int r) { return row(r); }, QStringLiteral("d"));
    reload();
}

QVariantMap ShareFormModel::row(int r) const
{
    if (r < 0 || r >= int(m_files.size()))
        return QVariantMap();
    const ShareFile &f = m_files[size_t(r)];
    const QString uri = fromUtf8(f.uri);
    const QString uid = fromUtf8(f.uid);
    const bool showImage = QFileInfo::exists(uri) && isImageMime(f.mime);
    return QVariantMap{
        {QStringLiteral("row"), r},
        {QStringLiteral("uid"), uid},
        {QStringLiteral("uri"), uri},
        {QStringLiteral("name"), fromUtf8(f.name)},
        {QStringLiteral("thumb"), fromUtf8(f.thumb)},
        {QStringLiteral("folder"), f.folder},
        {QStringLiteral("icon"), showImage  ? QUrl::fromLocalFile(uri).toString()
                                 : f.folder ? QStringLiteral("qrc:/res/icon_folder.png")
                                            : QStringLiteral("qrc:/res/icon_file.png")},
        {QStringLiteral("checked"), m_selection.contains(uid)},
    };
}

void ShareFormModel::setShareEnabled(bool enabled)
{
    if (enabled == m_shareEnabled)
        return;
    m_shareEnabled = enabled;
    ShareFilesDb::instance().setEnabled(enabled);
    emit shareEnabledChanged();
}

void ShareFormModel::setSelectionCount(int count)
{
    if (count == m_selectionCount)
        return;
    m_selectionCount = count;
    emit selectionCountChanged();
}

void ShareFormModel::reload()
{
    m_model->resetWith([this] {
        m_files.clear();
        m_selection.clear();
        ShareFilesDb::instance().listFiles(ShareFilesDb::All, &m_files);
    });
    setSelectionCount(0);
}

void ShareFormModel::addFiles(QList<QUrl> urls)
{
    if (urls.isEmpty())
        return;
    ShareFilesDb &store = ShareFilesDb::instance();
    for (const QUrl &url : urls) {
        // A URL that is not a local file would turn into an empty path, which
        // reads as the current folder: never share that by accident.
        const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
        if (path.isEmpty())
            continue;
        const QFileInfo info(path);
        const std::string uri = info.absoluteFilePath().toStdString();
        if (store.hasUri(uri))
            continue;
        const std::string mime = mimeForSuffix(info.suffix().toStdString());
        const std::string thumb = isImageMime(mime) ? uri : std::string();
        store.addFile(newShareFile(info.fileName().toStdString(), uri, mime, thumb, info.isDir()));
    }
    reload();
}

void ShareFormModel::check(int index, bool checked)
{
    if (index < 0 || index >= int(m_files.size()))
        return;
    const QString uid = fromUtf8(m_files[size_t(index)].uid);
    if (checked)
        m_selection.insert(uid);
    else
        m_selection.remove(uid);
    m_model->update(index, 1);
    setSelectionCount(m_selection.size());
}

void ShareFormModel::checkAll(bool checked)
{
    m_selection.clear();
    if (checked) {
        for (const ShareFile &f : m_files)
            m_selection.insert(fromUtf8(f.uid));
    }
    setSelectionCount(m_selection.size());
    m_model->update(0, int(m_files.size()));
}

void ShareFormModel::removeChecked()
{
    if (m_selection.isEmpty())
        return;
    showYesNoBox(MessageBoxContext::instance(), QString(), tr("IDS_CONFIRM_TO_REMOVE_SELECTIONS"),
                 MessageBoxContext::CallBack([this] { removeSelected(); }), MessageBoxContext::CallBack(),
                 MessageBoxContext::Question, MessageBoxContext::tr("Yes"), MessageBoxContext::tr("No"));
}

void ShareFormModel::removeSelected()
{
    ShareFilesDb &store = ShareFilesDb::instance();
    m_model->resetWith([&] {
        for (auto it = m_files.begin(); it != m_files.end();) {
            if (m_selection.contains(fromUtf8(it->uid))) {
                store.removeFile(it->uid);
                it = m_files.erase(it);
            } else {
                ++it;
            }
        }
        m_selection.clear();
    });
    setSelectionCount(0);
}
