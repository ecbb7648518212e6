// Access to the network test bed from a QtTest: commands run in one host of
// the bed (through netbed.sh exec, with that host's own data folder), either
// to completion or as long-running processes whose output lines are kept.
#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <signal.h>
#include <unistd.h>

namespace netbed {

// Empty when the test runs inside a bed; otherwise why it cannot run.
inline QString unavailableReason()
{
    if (::geteuid() != 0)
        return QStringLiteral("the network test bed needs root");
    if (qEnvironmentVariableIsEmpty("NETBED_ID"))
        return QStringLiteral("no test bed: run the test through netbed.sh run -- <test>");
    return QString();
}

inline QString script()
{
    const QString fromBed = qEnvironmentVariable("NETBED");
    return fromBed.isEmpty() ? QStringLiteral(NETBED_SCRIPT) : fromBed;
}

// The IPv4 address of host (1-based).
inline QString address(int host)
{
    return qEnvironmentVariable(qPrintable(QStringLiteral("NETBED_ADDR_%1").arg(host)));
}

struct Result {
    int exitCode = -1;
    QStringList lines; // standard output
    QString errors;    // standard error
};

// Runs a command in host and waits for it to end.
inline Result run(int host, const QString &program, const QStringList &args, int timeoutMs = 15000)
{
    QProcess process;
    process.start(script(), QStringList{"exec", QString::number(host), program} + args);
    Result result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.errors = QStringLiteral("timed out");
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.lines = QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    result.errors = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// A command running in one host; every line it writes to standard output is
// kept. Standard error goes to the test's own, so sanitizer reports show.
class Process {
public:
    Process(int host, const QString &program, const QStringList &args) : m_host(host)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(script(), QStringList{"exec", QString::number(host), program} + args);
    }
    ~Process()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.write("quit\n");
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    int host() const { return m_host; }
    bool isRunning() { return m_process.state() != QProcess::NotRunning; }
    void write(const QString &line) { m_process.write((line + "\n").toUtf8()); }
    // SIGKILL: the command ends without any farewell.
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    // Sends a signal to the command itself (exec keeps its process id).
    void signal(int sig) { ::kill(static_cast<pid_t>(m_process.processId()), sig); }
    // Waits for the command to end, keeping its output; its exit code, or -1
    // when it did not end in time or died by a signal.
    int waitExit(int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (isRunning() && timer.elapsed() < timeoutMs)
            pump(100);
        pump(0);
        if (isRunning() || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        return m_process.exitCode();
    }

    // All lines so far.
    const QStringList &lines()
    {
        pump(0);
        return m_lines;
    }
    // The index of the first line at or after from that satisfies match, waiting up to timeoutMs; -1 if none.
    int waitFor(const std::function<bool(const QString &)> &match, int timeoutMs, int from = 0)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            for (int i = from; i < m_lines.size(); ++i) {
                if (match(m_lines.at(i)))
                    return i;
            }
            from = std::max(from, int(m_lines.size()));
            const qint64 left = timeoutMs - timer.elapsed();
            if (left <= 0 || !isRunning())
                return -1;
            pump(int(std::min<qint64>(left, 100)));
        }
    }
    int waitForPrefix(const QString &prefix, int timeoutMs, int from = 0)
    {
        return waitFor([&prefix](const QString &line) { return line.startsWith(prefix); }, timeoutMs, from);
    }

private:
    void pump(int ms)
    {
        m_process.waitForReadyRead(ms);
        m_partial += m_process.readAllStandardOutput();
        int newline;
        while ((newline = m_partial.indexOf('\n')) >= 0) {
            m_lines.append(QString::fromUtf8(m_partial.left(newline)));
            m_partial.remove(0, newline + 1);
        }
    }

    int m_host;
    QProcess m_process;
    QByteArray m_partial;
    QStringList m_lines;
};

} // namespace netbed
