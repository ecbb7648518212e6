// The one application-wide object of a class: made on first use as a child of
// the application object, living on its thread, and destroyed with it.
#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <mutex>

template <class T> class AppSingleton {
public:
    // Any thread. Null when there is no application object (before it is made,
    // or while it is being torn down). T must be constructible from a parent
    // pointer and must call release(this) first thing in its destructor.
    static T *instance()
    {
        std::lock_guard<std::mutex> lock(mutex());
        T *&object = slot();
        if (object)
            return object;
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return nullptr;
        if (QThread::currentThread() == app->thread()) {
            object = new T(app);
        } else {
            // A child cannot be given to a parent on another thread: make it
            // here, hand it to the application's thread, and have it destroyed
            // when the application object goes.
            T *made = new T(nullptr);
            made->moveToThread(app->thread());
            QObject::connect(
                app, &QObject::destroyed, made, [made] { delete made; }, Qt::DirectConnection);
            object = made;
        }
        return object;
    }

    // Any thread: runs fn(object) when the object exists, and never makes one,
    // so a worker cannot bring one to life on its own thread, or while the
    // application is going away. The object stays alive while fn runs: its
    // destructor's release() waits for fn to return. fn must be short and must
    // not ask for the object again. Answers whether fn ran.
    template <class Fn> static bool withExisting(Fn &&fn)
    {
        std::lock_guard<std::mutex> lock(mutex());
        if (!slot())
            return false;
        fn(slot());
        return true;
    }

    // Forgets the object so that no thread is handed one that is going away.
    static void release(T *object)
    {
        std::lock_guard<std::mutex> lock(mutex());
        if (slot() == object)
            slot() = nullptr;
    }

private:
    static std::mutex &mutex()
    {
        static std::mutex m;
        return m;
    }
    static T *&slot()
    {
        static T *object = nullptr;
        return object;
    }
};
