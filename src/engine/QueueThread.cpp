#include "QueueThread.h"

#include <QMetaObject>
#include <QPointer>

#include <exception>
#include <iostream>

QueueThread::QueueThread() : m_receiver(new QObject)
{
    m_receiver->moveToThread(&m_thread);
}

QueueThread::~QueueThread()
{
    stop();
    // The thread has finished: nothing else can touch the receiver now.
    delete m_receiver;
}

void QueueThread::run(std::function<void()> fn, QObject *context)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_quitting)
        return;
    if (!m_thread.isRunning())
        m_thread.start(QThread::InheritPriority);
    const bool guarded = context != nullptr;
    QPointer<QObject> guard(context);
    QMetaObject::invokeMethod(
        m_receiver,
        [this, fn = std::move(fn), guarded, guard] {
            // The event loop may still hand out functions queued before stop().
            if (m_quitting || (guarded && !guard))
                return;
            try {
                fn();
            } catch (const std::exception &e) {
                std::cerr << "QueueThread Task execution failed:" << e.what() << std::endl;
            } catch (...) {
                std::cerr << "QueueThread Task execution failed:unknown exception" << std::endl;
            }
        },
        Qt::QueuedConnection);
}

void QueueThread::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quitting = true;
    }
    m_thread.quit();
    m_thread.wait();
}
