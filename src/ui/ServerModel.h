// The device's own services behind the screens' "server" object: it starts and
// stops discovery and the HTTPS service, shows and saves the identity, and
// turns what peers do into prompts, notices and task-manager calls.
#pragma once

#include "InputCallbackModel.h"

#include "client/LanferryHttpClient.h"
#include "client/PeerEndpoint.h"
#include "discovery/LanferryUdpServer.h"
#include "engine/QueueThread.h"
#include "server/LanferryHttpServer.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class DesktopNotifier;
class Invoker;

class ServerModel : public QObject {
    Q_OBJECT
public:
    // Offers waiting for an answer at most, from one device and in all;
    // further offers are answered 429 and nothing of them is kept.
    static constexpr size_t kMaxWaitingOffersPerDevice = 16;
    static constexpr size_t kMaxWaitingOffers = 64;
    // An offer nobody answered within this is declined towards its sender.
    static constexpr int kOfferLifetimeMs = 10 * 60 * 1000;

    Q_PROPERTY(QString uid READ uid WRITE setUid NOTIFY uidChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(int port READ port WRITE setPort NOTIFY portChanged)
    Q_PROPERTY(QString passcode READ passcode WRITE setPasscode NOTIFY passcodeChanged)
    Q_PROPERTY(QString ip READ ip WRITE setIp NOTIFY ipChanged)
    Q_PROPERTY(int defaultPort READ defaultPort CONSTANT)
public:
    explicit ServerModel(QObject *parent = nullptr);
    ~ServerModel() override;

    // The application-wide object; null without an application object.
    static ServerModel *instance();

    // Answers offered tasks without asking anyone (the command line): given the
    // waiting task and its files, a save folder accepts it, an empty text declines.
    using OfferPolicy = std::function<QString(const TransferTask &task, const std::vector<TransferFile> &files)>;
    void setOfferPolicy(OfferPolicy policy) { m_offerPolicy = std::move(policy); }
    // How long an offer waits for its answer (kOfferLifetimeMs unless set).
    void setOfferLifetime(int ms) { m_offerLifetimeMs = ms; }
    // Offers are also shown as desktop notifications through notifier (not
    // owned); whichever of the prompt and the notification is answered first
    // decides, and the other closes.
    void setNotifier(DesktopNotifier *notifier);

    LanferryUdpServer &udpServer() { return m_udp; }
    LanferryHttpServer &httpServer() { return m_http; }

    QString uid() const { return m_uid; }
    QString name() const { return m_name; }
    int port() const { return m_port; }
    QString passcode() const { return m_passcode; }
    QString ip() const { return m_ip; }
    int defaultPort() const { return kDefaultPort; }
    void setUid(const QString &v);
    void setName(const QString &v);
    void setPort(int v);
    void setPasscode(const QString &v);
    void setIp(const QString &v);

signals:
    void devicesChanged();
    // The screen asks the user for a save folder and calls back with its URL
    // (an empty list when cancelled).
    void selectSaveRoot(InputCallbackModel::Callback cb);
    void nameChanged();
    void portChanged();
    void passcodeChanged();
    void uidChanged();
    void ipChanged();

public slots:
    void reloadInfo();
    void start();
    void stop();
    bool saveMe(QString name, int port, QString passcode);

private:
    void installCallbacks();
    void post(std::function<void()> fn);
    // Incoming task flow, on the user-interface thread.
    void promptForTask(const std::string &tid, const PeerEndpoint &peer);
    void acceptTask(const std::string &tid, const PeerEndpoint &peer, const QString &saveFolder);
    // Tells the sender (in the background, in order) and drops the waiting task.
    void declineTask(const std::string &tid, const PeerEndpoint &peer);
    // Offers left waiting by an earlier run can never be answered (their
    // prompts are gone): their senders hear a decline and the offers go.
    void dropLeftoverOffers();
    void notifySender(const std::string &tid, const PeerEndpoint &peer, bool accept);

    Invoker *m_invoker = nullptr;
    LanferryUdpServer m_udp;
    LanferryHttpServer m_http;
    OfferPolicy m_offerPolicy;
    QPointer<DesktopNotifier> m_notifier;
    bool m_startedOnce = false;
    // Offers waiting for their answer (stored under "tasks_tmp"), by task id:
    // the sending device's id. Written by the service's workers and by this thread.
    std::mutex m_waitingMutex;
    std::map<std::string, std::string> m_waiting;
    void forgetWaiting(const std::string &tid);
    bool isWaiting(const std::string &tid);
    int m_offerLifetimeMs = kOfferLifetimeMs;
    // The task engine asks discovery for peers from its workers; this outlives
    // the model so that a late question finds no service instead of a dangling one.
    struct Discovery {
        std::mutex mutex;
        LanferryUdpServer *udp = nullptr;
    };
    std::shared_ptr<Discovery> m_discovery = std::make_shared<Discovery>();
    // Answers to senders, one after another, off the user-interface thread.
    LanferryHttpClient m_noticeClient; // used on m_notices only
    std::atomic<bool> m_closing{false};
    QueueThread m_notices; // after what its functions use, so it ends first
    QString m_uid;
    QString m_name;
    int m_port = 0;
    QString m_passcode;
    QString m_ip;
};
