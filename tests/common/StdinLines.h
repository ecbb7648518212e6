// Reads standard input line by line inside a Qt event loop, for the test
// programs driven by commands on their standard input. Lines are read by
// hand: a buffered stream could hold lines the notifier never reports. At the
// end of input the application quits.
#pragma once

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QString>

#include <functional>
#include <unistd.h>

class StdinLines {
public:
    explicit StdinLines(std::function<void(const QString &)> onLine)
        : m_onLine(std::move(onLine)), m_input(STDIN_FILENO, QSocketNotifier::Read)
    {
        QObject::connect(&m_input, &QSocketNotifier::activated, [this] { readSome(); });
    }

private:
    void readSome()
    {
        char buf[4096];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            m_input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        m_pending.append(buf, int(n));
        int end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_pending.left(end));
            m_pending.remove(0, end + 1);
            m_onLine(line);
        }
    }

    std::function<void(const QString &)> m_onLine;
    QSocketNotifier m_input;
    QByteArray m_pending;
};
