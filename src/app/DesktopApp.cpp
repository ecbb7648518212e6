#include "DesktopApp.h"

#include "RaiseListener.h"
#include "UnixSignalWatcher.h"

#include "core/DataFolder.h"

#include "ui/Catalogue.h"
#include "ui/CurlImageProvider.h"
#include "ui/DesktopNotifier.h"
#include "ui/DeviceModel.h"
#include "ui/DevicesModel.h"
#include "ui/GlobalModel.h"
#include "ui/InputCallbackModel.h"
#include "ui/MessageBoxContext.h"
#include "ui/MyTreeItemModel.h"
#include "ui/ServerModel.h"
#include "ui/ShareFormModel.h"
#include "ui/SleepInhibitor.h"
#include "ui/TaskMgrModel.h"
#include "ui/ToastContext.h"
#include "ui/TreeRowsModel.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QWindow>

#include <cstdio>

namespace DesktopApp {

QUrl mainScreen()
{
    return QUrl(QStringLiteral("qrc:/qml/main.qml"));
}

void prepareApplication()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
}

template <class T> static void declare(const char *name)
{
    qmlRegisterType<T>(name, 1, 0, name);
}

void load(QQmlApplicationEngine &engine, const QUrl &url)
{
    installCatalogue(QCoreApplication::instance());

    // devicemgr.itemModel() hands the screens a model by its base class.
    qRegisterMetaType<QAbstractItemModel *>();
    declare<MessageBoxContext>("MessageBoxContext");
    declare<ToastContext>("ToastContext");
    declare<ServerModel>("LanferryUdpServerModel");
    declare<DevicesModel>("DevicesModel");
    declare<GlobalModel>("GlobalModel");
    declare<TaskMgrModel>("TaskMgrModel");
    declare<InputCallbackModel>("InputCallbackModel");
    declare<MyTreeItemModel>("MyTreeItemModel");
    declare<TreeRowsModel>("TreeRowsModel");
    declare<ShareFormModel>("ShareFormModel");
    declare<DeviceModel>("DeviceModel");

    engine.addImageProvider(QStringLiteral("curl"), new CurlImageProvider);
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreated, QCoreApplication::instance(),
        [url](QObject *object, const QUrl &created) {
            if (!object && created == url)
                QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);

    QQmlContext *root = engine.rootContext();
    root->setContextProperty(QStringLiteral("engine"), &engine);
    root->setContextProperty(QStringLiteral("msgboxctx"), MessageBoxContext::instance());
    root->setContextProperty(QStringLiteral("toastctx"), ToastContext::instance());
    root->setContextProperty(QStringLiteral("server"), ServerModel::instance());
    root->setContextProperty(QStringLiteral("global"), GlobalModel::instance());
    root->setContextProperty(QStringLiteral("taskmgr"), TaskMgrModel::instance());
    root->setContextProperty(QStringLiteral("devicemgr"), DevicesModel::instance());
    root->setContextProperty(QStringLiteral("inputcb"), InputCallbackModel::instance());

    root->setContextProperty(QStringLiteral("PROD_NAME"), QCoreApplication::translate("QObject", "Tovantic Lanferry"));
    root->setContextProperty(QStringLiteral("PROD_VER"), QStringLiteral("3.1.1"));
    root->setContextProperty(QStringLiteral("PROD_VERID"), 1);
    root->setContextProperty(QStringLiteral("PROD_UID"), QStringLiteral("tovantic_lanferry_win"));
    root->setContextProperty(QStringLiteral("FONTSIZE_TITLE1"), 20);
    root->setContextProperty(QStringLiteral("FONTSIZE_TITLE"), 17);
    root->setContextProperty(QStringLiteral("FONTSIZE_DEF"), 14);
    root->setContextProperty(QStringLiteral("FONTSIZE_SUB"), 13);
    root->setContextProperty(QStringLiteral("FONTSIZE_SUB2"), 11);
    root->setContextProperty(QStringLiteral("FONTSIZE_SUB3"), 9);
    root->setContextProperty(QStringLiteral("TEXTCOLOR_MAIN"), QStringLiteral("black"));
    root->setContextProperty(QStringLiteral("TEXTCOLOR_MAIN2"), QStringLiteral("#333333"));
    root->setContextProperty(QStringLiteral("FONTFAMILY_MAIN"), QStringLiteral("Arial"));
    root->setContextProperty(QStringLiteral("MAIN_COLOR"), QStringLiteral("#02BAFF"));

    engine.load(url);
}

// A received task ended: the user hears of it, and may see the files in their folder.
static void notifyTaskEnded(DesktopNotifier &notifier, const TaskEntry &entry)
{
    const TransferTaskStatus &s = entry.task.status;
    // The first file that arrived is shown selected; without one, the save folder.
    QString shown = QString::fromStdString(entry.task.root);
    for (const TransferFile &f : entry.files) {
        if (f.status.status > 0 && !f.save_path.empty()) {
            shown = QString::fromStdString(f.save_path);
            break;
        }
    }
    std::function<void()> show;
    if (!shown.isEmpty()) {
        show = [shown] {
            if (GlobalModel *global = GlobalModel::instance())
                global->showInFolder(QUrl::fromLocalFile(shown));
        };
    }
    QString error = QString::fromStdString(s.error);
    for (const TransferFile &f : entry.files) {
        if (error.isEmpty() && f.status.status < 0)
            error = QString::fromStdString(f.status.error);
    }
    notifier.taskEnded(QString::fromStdString(entry.task.remote_name), s.successes, s.total, error, std::move(show));
}

int run(int argc, char *argv[])
{
    prepareApplication();
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/res/app-icon.svg")));
    // Ties the window to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.tovantic.Lanferry"));
    int code;
    {
        QQmlApplicationEngine engine;
        // SIGINT and SIGTERM close the program as its window's close button does.
        UnixSignalWatcher watcher;
        QObject::connect(&watcher, &UnixSignalWatcher::terminationRequested, &app, [] { QCoreApplication::quit(); });
        const auto raiseWindow = [&engine] {
            const QList<QObject *> roots = engine.rootObjects();
            QWindow *window = roots.isEmpty() ? nullptr : qobject_cast<QWindow *>(roots.first());
            RaiseListener::raise(window);
            if (window && qEnvironmentVariableIsSet("LANFERRY_TRACE"))
                std::fprintf(stderr, "lanferry: raise: visible %d, minimised %d\n", int(window->isVisible()),
                             int(bool(window->windowStates() & Qt::WindowMinimized)));
        };
        // A second start shows this window. Without the socket the program
        // works as before; a second start then just ends.
        RaiseListener raiser;
        if (!raiser.listen(RaiseListener::socketPath(dataFolder())))
            std::fprintf(stderr, "lanferry: %s\n", qUtf8Printable(raiser.lastError()));
        QObject::connect(&raiser, &RaiseListener::raiseRequested, &app, raiseWindow);
        load(engine, mainScreen());

        TaskEngine &tasks = TaskMgrModel::instance()->engine();
        SleepInhibitor::whileBusy(tasks, TaskMgrModel::instance());
        // Offers and finished transfers reach the user outside the window too.
        DesktopNotifier notifier;
        notifier.setWindowActive([] { return QGuiApplication::applicationState() == Qt::ApplicationActive; });
        ServerModel::instance()->setNotifier(&notifier);
        QObject::connect(&notifier, &DesktopNotifier::acceptChosen, &app, raiseWindow);
        tasks.setTaskEndListener([&notifier](const TaskKey &key, const TaskEntry &entry) {
            if (!key.fromMe)
                notifyTaskEnded(notifier, entry);
        });
        code = app.exec();
        tasks.setTaskEndListener(nullptr);
    }
    return code;
}

} // namespace DesktopApp
