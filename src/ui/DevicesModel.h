// The devices screen's model: the devices that discovery knows followed by an
// "add" tile, and connecting to a device by address, opening one to browse its
// shares, and sending it files. Network work runs on the model's own worker.
#pragma once

#include "InputCallbackModel.h"
#include "MyItemModel.h"

#include "client/LanferryHttpClient.h"
#include "core/ServerInfo.h"
#include "discovery/LanferryUdpServer.h"
#include "engine/QueueThread.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <vector>

class Invoker;

class DevicesModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading WRITE setIsLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(bool serverSettingPresent READ serverSettingPresent WRITE setServerSettingPresent NOTIFY
                   serverSettingPresentChanged)
    Q_PROPERTY(bool connectPresent READ connectPresent WRITE setConnectPresent NOTIFY connectPresentChanged)
public:
    using OnOk = std::function<void(const ServerInfo &)>;
    using OnFail = std::function<void()>;

    explicit DevicesModel(QObject *parent = nullptr);
    // Ends the request in progress and joins the worker.
    ~DevicesModel() override;

    // The application-wide object; null without an application object.
    static DevicesModel *instance();

    Q_INVOKABLE QAbstractItemModel *itemModel();

    bool isLoading() const { return m_isLoading; }
    void setIsLoading(bool v);
    bool serverSettingPresent() const { return m_serverSettingPresent; }
    void setServerSettingPresent(bool v);
    bool connectPresent() const { return m_connectPresent; }
    void setConnectPresent(bool v);

signals:
    // The screen asks for a password and hands it back as a one-element list
    // (nothing, or an empty list, when the user gives up).
    void pwdRequest(InputCallbackModel::Callback cb);
    void isLoadingChanged();
    void serverSettingPresentChanged();
    void connectPresentChanged();

public slots:
    void connectDevice(QString ip, int port, QString passcode);
    void sendFiles(QString ip, int port, QString passcode, QList<QUrl> furls);
    void gotoDevice(int idx);
    void getHelp();

private slots:
    void reloadDevices();

private:
    QVariantMap row(int r) const;
    // Asks the device for its identity with the passcode; a wrong one leads to
    // onFail when given, else to the password prompt (promptPassword) or the
    // invalid-password message, and round again with what the user types.
    void connectDeviceTodo(bool promptPassword, const QString &ip, int port, const QString &passcode, OnOk onOk,
                           OnFail onFail);
    void onIdentity(bool promptPassword, const QString &ip, int port, const HttpResponse &answer,
                    const ServerInfo &info, const OnOk &onOk, const OnFail &onFail);
    InputCallbackModel::Callback retryWithPassword(const QString &ip, int port, const OnOk &onOk, const OnFail &onFail);
    void sendFilesInner(QString ip, int port, ServerInfo info, QList<QUrl> furls);
    // Counts the jobs in flight; isLoading is true while there is one.
    void beginLoading();
    void endLoading();

    Invoker *m_invoker = nullptr;
    QueueThread m_worker;
    LanferryHttpClient m_client; // used on the worker only
    std::atomic<bool> m_closing{false};
    MyItemModel *m_model = nullptr;
    std::vector<LanferryUdpServer::ServerItem> m_devices;
    bool m_isLoading = false;
    int m_pending = 0;
    bool m_serverSettingPresent = false;
    bool m_connectPresent = false;
};
