#include "Invoker.h"

#include <QCoreApplication>
#include <QThread>

Invoker::Invoker(QObject *parent) : QObject(parent)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!parent && app && app->thread() != thread())
        moveToThread(app->thread());
}

void Invoker::post(std::function<void()> fn)
{
    if (!fn)
        return;
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}
