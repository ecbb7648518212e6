// The application-wide objects: none without an application object, exactly one
// per process however many threads ask first, living on the application's
// thread, destroyed with the application object, and reachable from a worker
// without ever being made there.
#include "ui/AppSingleton.h"
#include "ui/GlobalModel.h"
#include "ui/InputCallbackModel.h"
#include "ui/MessageBoxContext.h"
#include "ui/ToastContext.h"

#include <QPointer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <set>
#include <thread>
#include <vector>

namespace {

bool noneExist()
{
    return !MessageBoxContext::instance() && !ToastContext::instance() && !GlobalModel::instance() &&
           !InputCallbackModel::instance();
}

} // namespace

class TestAppSingletons : public QObject {
    Q_OBJECT
public:
    QList<QPointer<QObject>> made;

private slots:
    void madeOnTheApplicationThread();
    void concurrentFirstUseMakesOne();
    void workersUseOnlyAnExistingOne();
};

void TestAppSingletons::madeOnTheApplicationThread()
{
    MessageBoxContext *boxes = MessageBoxContext::instance();
    QVERIFY(boxes);
    QCOMPARE(boxes->parent(), QCoreApplication::instance());
    QCOMPARE(MessageBoxContext::instance(), boxes);
    made << boxes << GlobalModel::instance();
}

void TestAppSingletons::concurrentFirstUseMakesOne()
{
    // First use happens on workers, all at once.
    std::vector<std::thread> workers;
    std::vector<ToastContext *> toasts(8, nullptr);
    std::vector<InputCallbackModel *> inputs(8, nullptr);
    for (int i = 0; i < 8; ++i)
        workers.emplace_back([&, i] {
            toasts[i] = ToastContext::instance();
            inputs[i] = InputCallbackModel::instance();
        });
    for (std::thread &w : workers)
        w.join();
    QCOMPARE(std::set<ToastContext *>(toasts.begin(), toasts.end()).size(), size_t(1));
    QCOMPARE(std::set<InputCallbackModel *>(inputs.begin(), inputs.end()).size(), size_t(1));
    QVERIFY(toasts.front());
    QVERIFY(inputs.front());
    QCOMPARE(toasts.front()->thread(), QCoreApplication::instance()->thread());
    QCOMPARE(inputs.front()->thread(), QCoreApplication::instance()->thread());
    QCOMPARE(ToastContext::instance(), toasts.front());
    made << toasts.front() << inputs.front();
}

void TestAppSingletons::workersUseOnlyAnExistingOne()
{
    delete ToastContext::instance();
    bool ran = true;
    std::thread([&] { ran = AppSingleton<ToastContext>::withExisting([](ToastContext *) {}); }).join();
    QVERIFY(!ran);
    QVERIFY(!AppSingleton<ToastContext>::withExisting([](ToastContext *) {}));

    // One that exists stays alive while a worker uses it: its end waits.
    ToastContext *toasts = ToastContext::instance();
    std::atomic<bool> inside{false}, finished{false};
    std::thread worker([&] {
        AppSingleton<ToastContext>::withExisting([&](ToastContext *t) {
            inside = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            t->setObjectName(QStringLiteral("still here"));
            finished = true;
        });
    });
    while (!inside)
        std::this_thread::yield();
    delete toasts;
    QVERIFY(finished);
    worker.join();
    QVERIFY(!AppSingleton<ToastContext>::withExisting([](ToastContext *) {}));
}

int main(int argc, char **argv)
{
    if (!noneExist()) {
        std::fprintf(stderr, "FAIL: an application-wide object exists before the application object\n");
        return 1;
    }
    auto *app = new QCoreApplication(argc, argv);
    TestAppSingletons tc;
    int result = QTest::qExec(&tc, argc, argv);

    delete app;
    for (const QPointer<QObject> &p : qAsConst(tc.made)) {
        if (p) {
            std::fprintf(stderr, "FAIL: %s outlived the application object\n", p->metaObject()->className());
            result = 1;
        }
    }
    if (tc.made.size() != 4) {
        std::fprintf(stderr, "FAIL: expected 4 objects, saw %d\n", int(tc.made.size()));
        result = 1;
    }
    if (!noneExist()) {
        std::fprintf(stderr, "FAIL: an application-wide object was handed out after the application object\n");
        result = 1;
    }
    return result;
}

#include "tst_appsingletons.moc"
