#include "HeadlessSession.h"

#include "TerminalText.h"
#include "Verb.h"

#include "ui/MessageBoxContext.h"
#include "ui/SleepInhibitor.h"
#include "ui/TaskMgrModel.h"
#include "ui/ToastContext.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <atomic>
#include <cstdio>
#include <memory>

namespace {

QString fromUtf8(const std::string &s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

// The stop notices of received tasks go out on the task manager's queue; they
// get this long before the program ends anyway.
constexpr int kStopNoticeWaitMs = 3000;

} // namespace

HeadlessSession::HeadlessSession(QObject *parent)
    : QObject(parent), m_printer(stdout, ProgressPrinter::isTerminal(stdout))
{
    m_clock.start();
    m_server = ServerModel::instance();
    m_tasks = TaskMgrModel::instance();
    // A headless transfer keeps the computer awake as the window does.
    SleepInhibitor::whileBusy(m_tasks->engine(), m_tasks);
    setOfferPolicy({});
    connect(MessageBoxContext::instance(), &MessageBoxContext::msgbox, this, &HeadlessSession::onBox);
    connect(ToastContext::instance(), &ToastContext::toast, this,
            [this](const QString &text, int) { m_printer.line(text); });
    connect(&m_signals, &UnixSignalWatcher::terminationRequested, this, &HeadlessSession::onSignal);
    connect(&m_ticker, &QTimer::timeout, this, [this] {
        if (m_tick && !m_finished)
            m_tick();
    });
    m_ticker.start(250);
}

HeadlessSession::~HeadlessSession()
{
    m_printer.clearLive();
    if (m_server)
        m_server->setOfferPolicy({});
}

void HeadlessSession::setOfferPolicy(ServerModel::OfferPolicy policy)
{
    if (!policy) {
        // A command that does not receive turns every offer down, and says so.
        policy = [this](const TransferTask &task, const std::vector<TransferFile> &) {
            error(QStringLiteral("declined %1 files offered by %2: this command does not receive files")
                      .arg(task.status.total)
                      .arg(fromUtf8(task.remote_name)));
            return QString();
        };
    }
    m_server->setOfferPolicy(std::move(policy));
}

void HeadlessSession::startServices()
{
    m_server->start();
}

int HeadlessSession::exec()
{
    if (!m_finished)
        QCoreApplication::exec();
    m_printer.clearLive();
    return m_exitCode;
}

void HeadlessSession::finish(int code)
{
    if (m_finished)
        return;
    m_finished = true;
    m_exitCode = code;
    m_ticker.stop();
    QCoreApplication::exit(code);
}

void HeadlessSession::error(const QString &text)
{
    m_printer.clearLive();
    std::fflush(stdout);
    std::fprintf(stderr, "lanferry: %s\n", TerminalText::utf8(text).constData());
    std::fflush(stderr);
}

void HeadlessSession::press(const MessageBoxRequest &box, int role)
{
    box.press(role, MessageBoxContext::instance());
}

bool HeadlessSession::matches(const QString &text, const char *context, const char *key)
{
    // Each placeholder stands for any text; the rest must be as the catalogue has it.
    const QStringList parts =
        QCoreApplication::translate(context, key).split(QRegularExpression(QStringLiteral("%\\d")));
    QStringList escaped;
    for (const QString &part : parts)
        escaped << QRegularExpression::escape(part);
    const QRegularExpression pattern(QStringLiteral("\\A(?:%1)\\z").arg(escaped.join(QStringLiteral(".*"))),
                                     QRegularExpression::DotMatchesEverythingOption);
    return pattern.match(text).hasMatch();
}

void HeadlessSession::onBox(const QVariantMap &e)
{
    const MessageBoxRequest box = MessageBoxRequest::fromMap(e);
    if (m_boxHandler && m_boxHandler(box))
        return;
    error(box.msg);
    if (matches(box.msg, "ServerModel", "IDS_START_SERVER_ERROR_%1")) {
        // Without its HTTPS service the device can neither send nor receive.
        press(box, MessageBoxContext::No);
        finish(1);
        return;
    }
    if (box.hasButton(MessageBoxContext::No))
        press(box, MessageBoxContext::No);
    else if (!box.buttons.isEmpty())
        press(box, box.buttons.first().role);
}

const TaskEntry *HeadlessSession::showTask(const TaskKey &key)
{
    const TaskEntry *entry = m_tasks->engine().entry(key);
    if (entry)
        m_printer.update(key, *entry, m_clock.elapsed());
    return entry;
}

bool HeadlessSession::isDone(const TaskEntry &entry)
{
    const TransferTaskStatus &s = entry.task.status;
    return entry.filesLoaded && !entry.running() && s.total - s.successes - s.failed < 1;
}

void HeadlessSession::finishWhenDone(const TaskKey &key)
{
    const TaskEntry *entry = showTask(key);
    if (!entry || !isDone(*entry))
        return;
    const TransferTaskStatus &s = entry->task.status;
    if (s.failed > 0) {
        error(QStringLiteral("%1 of %2 files failed: %3")
                  .arg(QString::number(s.failed), QString::number(s.total),
                       TaskMgrModel::errorText(s.remote, -1, s.error)));
        finish(ExitFailed);
    } else {
        m_printer.line(QStringLiteral("all %1 files arrived").arg(s.total));
        finish(ExitOk);
    }
}

void HeadlessSession::onSignal()
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_ticker.stop();
    m_printer.clearLive();
    // As the Tasks screen's Stop: the sending device of a received task is told.
    bool told = false;
    for (const auto &item : m_tasks->engine().entries()) {
        if (!item.second.running())
            continue;
        m_tasks->stopTask(fromUtf8(item.first.tid), item.first.fromMe);
        told = told || !item.first.fromMe;
    }
    if (!told) {
        stopAndQuit();
        return;
    }
    // The notices are queued on the task manager's queue thread; a marker
    // queued after them says when they are out.
    auto sent = std::make_shared<std::atomic<bool>>(false);
    m_tasks->engine().queue().run([sent] { *sent = true; });
    auto waited = std::make_shared<QElapsedTimer>();
    waited->start();
    auto *poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, sent, waited, poll] {
        if (*sent || waited->elapsed() > kStopNoticeWaitMs) {
            poll->stop();
            stopAndQuit();
        }
    });
    poll->start(20);
}

void HeadlessSession::stopAndQuit()
{
    m_server->stop(); // discovery says goodbye
    finish(m_interruptCode);
}
