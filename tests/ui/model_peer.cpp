// A whole instance without screens, for tests across processes: the server
// model and the task manager run in their own data folder, every box, toast,
// screen change and folder request is printed as one JSON line on standard
// output, and prompts are answered by a policy read from standard input.
//
// Commands (one per line on standard input):
//   accept DIR         answer offers with Yes and DIR as the save folder
//   decline            answer offers with No
//   cancel             answer offers with Yes, then cancel the folder choice
//   send HOST PORT PWD PATH...   offer the paths to another instance (PWD "-" for none)
//   start TID          start a received task again
//   stop TID           stop a received task
//   quit
#include "StdinLines.h"
#include "client/LanferryHttpClient.h"
#include "core/ServerInfo.h"
#include "server/FileWork.h"
#include "store/ShareFilesDb.h"
#include "store/TaskStore.h"
#include "ui/Catalogue.h"
#include "ui/GlobalModel.h"
#include "ui/MessageBoxRequest.h"
#include "ui/ServerModel.h"
#include "ui/TaskMgrModel.h"
#include "ui/ToastContext.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <cstdio>
#include <unistd.h>

namespace {

void emitLine(const QJsonObject &o)
{
    std::fputs(QJsonDocument(o).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

struct Policy {
    enum Kind { Accept, Decline, Cancel } kind = Decline;
    QString folder;
};

// Builds a send task of the paths, stores it and offers it, as the devices screen does.
void send(const QStringList &args)
{
    if (args.size() < 4) {
        emitLine({{"event", "error"}, {"text", "send HOST PORT PWD PATH..."}});
        return;
    }
    const PeerEndpoint peer{args[0].toStdString(), args[1].toInt(),
                            args[2] == "-" ? std::string() : args[2].toStdString()};
    LanferryHttpClient client;
    ServerInfo remote;
    const HttpResponse info = client.getInfo(peer, &remote);
    if (info.status != 200) {
        emitLine({{"event", "error"}, {"text", QString::fromStdString(info.body)}, {"status", info.status}});
        return;
    }
    TransferTask task = newOutgoingTask(peer.host, peer.port, remote.uid, remote.name, remote.type);
    task.pwd = peer.pwd;
    std::vector<TransferFile> files;
    for (int i = 3; i < args.size(); ++i)
        addLocalPath(task.uid, files, args[i].toStdString(), std::string(), std::string());
    TaskStore store(true);
    if (!store.createTask(task, files)) {
        emitLine({{"event", "error"}, {"text", QString::fromStdString(store.lastError())}});
        return;
    }
    const HttpResponse offered = client.taskRecv(peer, mirrorForPeer(task, loadServerInfo()), files);
    if (offered.status != 200) {
        store.deleteTask(task.uid, 200);
        emitLine({{"event", "error"}, {"text", QString::fromStdString(offered.body)}, {"status", offered.status}});
        return;
    }
    TaskMgrModel::instance()->startTask(QString::fromStdString(task.uid), true);
    emitLine({{"event", "sent"}, {"tid", QString::fromStdString(task.uid)}});
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    installCatalogue(&app);
    ShareFilesDb::instance().open();
    Policy policy;

    MessageBoxContext *boxes = MessageBoxContext::instance();
    QObject::connect(boxes, &MessageBoxContext::msgbox, &app, [&](const QVariantMap &e) {
        const MessageBoxRequest box = MessageBoxRequest::fromMap(e);
        QJsonArray roles;
        QJsonArray labels;
        for (const auto &b : box.buttons) {
            roles.append(b.role);
            labels.append(b.label);
        }
        emitLine({{"event", "box"},
                  {"title", box.title},
                  {"text", box.msg},
                  {"icon", box.icon},
                  {"buttons", roles},
                  {"labels", labels}});
        if (box.hasButton(MessageBoxContext::Yes) && box.hasButton(MessageBoxContext::No))
            box.press(policy.kind == Policy::Decline ? MessageBoxContext::No : MessageBoxContext::Yes, boxes);
        else if (!box.buttons.isEmpty())
            box.press(box.buttons.first().role, boxes);
    });
    QObject::connect(ToastContext::instance(), &ToastContext::toast, &app, [](const QString &text, int ms) {
        emitLine({{"event", "toast"}, {"text", text}, {"ms", ms}});
    });
    QObject::connect(GlobalModel::instance(), &GlobalModel::nav, &app, [](const QString &qml, const QVariantMap &) {
        emitLine({{"event", "nav"}, {"qml", qml}});
    });

    ServerModel *server = ServerModel::instance();
    QObject::connect(server, &ServerModel::selectSaveRoot, &app, [&](InputCallbackModel::Callback cb) {
        emitLine({{"event", "selectSaveRoot"}});
        QVariantList params;
        if (policy.kind == Policy::Accept)
            params << QUrl::fromLocalFile(policy.folder);
        InputCallbackModel::instance()->callback(cb, params);
    });
    TaskMgrModel *tasks = TaskMgrModel::instance();
    server->start();
    emitLine({{"event", "ready"}, {"port", server->port()}, {"uid", server->uid()}});

    auto run = [&](const QString &line) {
        QStringList words = line.split(' ', Qt::SkipEmptyParts);
        if (words.isEmpty())
            return;
        const QString verb = words.takeFirst();
        if (verb == "accept" && !words.isEmpty())
            policy = {Policy::Accept, words.join(' ')};
        else if (verb == "decline")
            policy = {Policy::Decline, QString()};
        else if (verb == "cancel")
            policy = {Policy::Cancel, QString()};
        else if (verb == "send")
            send(words);
        else if (verb == "start" && !words.isEmpty())
            tasks->startTask(words.first(), false);
        else if (verb == "stop" && !words.isEmpty())
            tasks->stopTask(words.first(), false);
        else if (verb == "quit")
            app.quit();
        emitLine({{"event", "done"}, {"command", verb}});
    };
    const StdinLines input(run);
    const int code = app.exec();
    server->stop();
    return code;
}
