// A run of the program without screens: the application-wide models with every
// box, toast and offer answered by the command line's policy, progress of the
// watched tasks printed, and SIGINT or SIGTERM ending it as a user would: running
// tasks stopped as the Tasks screen's Stop does, then the services stopped, so
// that discovery says goodbye.
#pragma once

#include "ProgressPrinter.h"
#include "UnixSignalWatcher.h"

#include "store/TransferRecords.h"
#include "ui/MessageBoxRequest.h"
#include "ui/ServerModel.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <set>

class TaskMgrModel;

class HeadlessSession : public QObject {
    Q_OBJECT
public:
    // Answers offered tasks by declining them until a verb sets its own policy.
    explicit HeadlessSession(QObject *parent = nullptr);
    ~HeadlessSession() override;

    // Starts discovery and the HTTPS service. A service that cannot start ends
    // the session with exit code 1 once the loop runs.
    void startServices();
    // Runs the event loop until finish(); answers the exit code.
    int exec();
    // Ends the loop with code; later calls change nothing.
    void finish(int code);
    bool finished() const { return m_finished; }

    // A verb's look at every box first: true when it dealt with the box
    // (pressing a button is then its affair). Unhandled boxes are printed on
    // standard error and answered with "No", or their first button.
    using BoxHandler = std::function<bool(const MessageBoxRequest &box)>;
    void setBoxHandler(BoxHandler handler) { m_boxHandler = std::move(handler); }
    void setOfferPolicy(ServerModel::OfferPolicy policy);
    // The code a signal ends the session with.
    void setInterruptCode(int code) { m_interruptCode = code; }
    // Called about four times a second while the loop runs.
    void setTick(std::function<void()> tick) { m_tick = std::move(tick); }

    // Presses a button of a box as a screen does.
    static void press(const MessageBoxRequest &box, int role);
    // Whether text is what the catalogue makes of key in context, whatever its placeholders hold.
    static bool matches(const QString &text, const char *context, const char *key);

    // Prints the progress of a task; answers its entry, or null while it is not listed.
    const TaskEntry *showTask(const TaskKey &key);
    // Whether every file of a listed task is final, and the task no longer runs.
    static bool isDone(const TaskEntry &entry);
    // Shows the task's progress and, once it is done, ends the session: 0 when
    // every file arrived, 1 (with the last failure on standard error) otherwise.
    void finishWhenDone(const TaskKey &key);
    ProgressPrinter &printer() { return m_printer; }
    TaskMgrModel *tasks() const { return m_tasks; }
    ServerModel *server() const { return m_server; }

    // One line on standard error, after the running files are cleared away.
    void error(const QString &text);

private:
    void onBox(const QVariantMap &e);
    void onSignal();
    void stopAndQuit();

    ServerModel *m_server = nullptr;
    TaskMgrModel *m_tasks = nullptr;
    UnixSignalWatcher m_signals;
    QTimer m_ticker;
    QElapsedTimer m_clock;
    ProgressPrinter m_printer;
    BoxHandler m_boxHandler;
    std::function<void()> m_tick;
    int m_interruptCode = 0;
    int m_exitCode = 0;
    bool m_finished = false;
    bool m_stopping = false;
};
