// Turns SIGINT and SIGTERM into a Qt signal on the main thread, so that the
// event loop ends normally and every destructor runs.
#pragma once

#include <QObject>

class QSocketNotifier;

class UnixSignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit UnixSignalWatcher(QObject *parent = nullptr);
    ~UnixSignalWatcher() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};
