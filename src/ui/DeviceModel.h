// The model behind the screen of one other device: its name, address and icon,
// the checkable list of files it shares with their thumbnails, downloading the
// checked entries into a chosen folder, and sending it files.
#pragma once

#include "InputCallbackModel.h"
#include "MyItemModel.h"

#include "client/LanferryHttpClient.h"
#include "discovery/LanferryUdpServer.h"
#include "engine/QueueThread.h"
#include "store/ShareFile.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <vector>

class Invoker;

class DeviceModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading WRITE setIsLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString subName READ subName WRITE setSubName NOTIFY subNameChanged)
    Q_PROPERTY(QString iconSrc READ iconSrc WRITE setIconSrc NOTIFY iconSrcChanged)
    Q_PROPERTY(MyItemModel *model READ model CONSTANT)
    Q_PROPERTY(int selectCount READ selectCount NOTIFY selectCountChanged)
public:
    explicit DeviceModel(QObject *parent = nullptr);
    // Ends the request in progress and joins the worker; answers still on their
    // way are dropped.
    ~DeviceModel() override;

    bool isLoading() const { return m_isLoading; }
    void setIsLoading(bool v);
    QString name() const { return m_name; }
    void setName(const QString &v);
    QString subName() const { return m_subName; }
    void setSubName(const QString &v);
    QString iconSrc() const { return m_iconSrc; }
    void setIconSrc(const QString &v);
    MyItemModel *model() const { return m_model; }
    int selectCount() const { return m_selectCount; }

    Q_INVOKABLE int itemsCount() const { return int(m_rows.size()); }

signals:
    // The screen asks for a save folder and calls back with its URL (an empty
    // list when cancelled).
    void selectSaveRoot(InputCallbackModel::Callback cb);
    void isLoadingChanged();
    void nameChanged();
    void subNameChanged();
    void iconSrcChanged();
    void selectCountChanged();

public slots:
    // The device as the devices model found it, with its real password.
    void open(LanferryUdpServer::ServerItem item);
    void check(int index, bool checked);
    void checkAll(bool checked);
    void download();
    void sendFiles(QList<QUrl> urls);

private:
    struct Row {
        ShareFile file;
        bool checked = false;
    };

    QVariantMap row(int r) const;
    void setSelectCount(int count);
    void downloadInner();
    void onFiles(const HttpResponse &answer);
    void onDownload(const HttpResponse &answer, const QString &folder);
    PeerEndpoint endpoint() const;

    Invoker *m_invoker = nullptr;
    QueueThread m_worker;
    LanferryHttpClient m_client; // used on the worker only
    std::atomic<bool> m_closing{false};
    LanferryUdpServer::ServerItem m_peer;
    // Answers to an earlier open() are dropped once the screen opens another device.
    int m_generation = 0;
    int m_pending = 0;
    bool m_isLoading = false;
    QString m_name;
    QString m_subName;
    QString m_iconSrc;
    std::vector<Row> m_rows;
    MyItemModel *m_model = nullptr;
    int m_selectCount = 0;
};
