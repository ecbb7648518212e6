#include "GlobalModel.h"

#include "AppSingleton.h"
#include "MessageBoxContext.h"

#include "core/ServerInfo.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

GlobalModel::GlobalModel(QObject *parent) : QObject(parent)
{
}

GlobalModel::~GlobalModel()
{
    AppSingleton<GlobalModel>::release(this);
}

GlobalModel *GlobalModel::instance()
{
    return AppSingleton<GlobalModel>::instance();
}

QString GlobalModel::deviceIcon(QString type)
{
    if (type == QLatin1String("mac"))
        return QStringLiteral("qrc:/res/mac-device.png");
    if (type == QLatin1String("android"))
        return QStringLiteral("qrc:/res/android-device.png");
    if (type == QLatin1String("ios"))
        return QStringLiteral("qrc:/res/iphone-device.png");
    return QStringLiteral("qrc:/res/win-device.png");
}

QString GlobalModel::serverIcon()
{
    return deviceIcon(QString::fromStdString(platformType()));
}

void GlobalModel::navTo(QString qml, QVariantMap props)
{
    emit nav(qml, props);
}

void GlobalModel::navTo(QString qml)
{
    emit nav(qml, QVariantMap());
}

void GlobalModel::open(QString path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) {
        showWarningBox(MessageBoxContext::instance(), QString(), tr("IDS_FILE_NOT_EXISTS"));
        return;
    }
    // The path goes over as a URL, never through a shell, so no name can be
    // taken as a command.
    QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
}

void GlobalModel::openUrl(QUrl url)
{
    open(url.isLocalFile() ? url.toLocalFile() : url.toString());
}

void GlobalModel::showInFolder(QUrl url)
{
    const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) {
        showWarningBox(MessageBoxContext::instance(), QString(), tr("IDS_FILE_NOT_EXISTS"));
        return;
    }
    const QString folder = info.absolutePath();
    const QDBusConnection bus =
        m_fileManagerBus.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(m_fileManagerBus);
    if (!bus.isConnected()) {
        open(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded)} << QString();
    // Asked without waiting: a file manager that is slow to start must not hold up the screens.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, folder](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        if (w->isError())
            open(folder);
    });
}
