// Hands functions from any thread to the thread of the application object
// (the user-interface thread): a model owns one and posts its state changes to it.
#pragma once

#include <QObject>

#include <functional>

class Invoker : public QObject {
    Q_OBJECT
public:
    // Without a parent the object moves to the application object's thread (the
    // creating thread when there is no application object yet); with a parent it
    // lives on the parent's thread.
    explicit Invoker(QObject *parent = nullptr);

    // Any thread: queues fn to run on this object's thread and returns at once.
    // Never runs fn inline, even on that thread. Functions posted from one thread
    // run in the order posted. Functions still queued when the object is
    // destroyed are dropped; the owner stops every thread that posts before it
    // destroys the object.
    void post(std::function<void()> fn);
};
