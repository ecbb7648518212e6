// What every screen test shares: a private data folder, runtime folder and
// identity on a free port, the program's own engine set-up loading the real
// main screen, every Qt warning turned into a test failure, and finding and
// pressing items of the window by objectName.
#pragma once

#include "TempDataHome.h"

#include "app/DesktopApp.h"
#include "core/ServerInfo.h"
#include "ui/InputCallbackModel.h"
#include "ui/TaskMgrModel.h"

#include <QApplication>
#include <QMutex>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtQuickTest/quicktest.h>
#include <QtTest>

#include <cstdio>
#include <memory>

namespace screentest {

inline QMutex g_mx;
inline QStringList g_warnings;

inline void recordWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg) {
        QMutexLocker lock(&g_mx); // image threads log too
        g_warnings << message;
    }
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

// The warnings logged since the last call.
inline QStringList takeWarnings()
{
    QMutexLocker lock(&g_mx);
    QStringList taken;
    taken.swap(g_warnings);
    return taken;
}

inline int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Made before the application object: the folders the program reads at start.
class Environment {
public:
    explicit Environment(const char *name)
    {
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8()); // QTemporaryDir makes it 0700
        qputenv("QT_QUICK_BACKEND", "software");
        ServerInfo me = loadServerInfo();
        me.name = name;
        me.port = freePort();
        saveServerInfo(me);
    }

private:
    QTemporaryDir m_runtime;
    TempDataHome m_home;
};

inline QQuickItem *findItem(QQuickItem *from, const QString &name)
{
    if (!from)
        return nullptr;
    if (from->objectName() == name && from->isVisible())
        return from;
    const auto kids = from->childItems();
    for (QQuickItem *c : kids)
        if (QQuickItem *hit = findItem(c, name))
            return hit;
    return nullptr;
}

inline QQuickItem *findItem(QQuickWindow *window, const QString &name)
{
    return findItem(window->contentItem(), name);
}

inline void click(QQuickItem *item)
{
    QVERIFY(item && QQuickTest::qWaitForItemPolished(item));
    const QPoint p = item->mapToScene({item->width() / 2, item->height() / 2}).toPoint();
    QTest::mouseClick(item->window(), Qt::LeftButton, Qt::NoModifier, p);
}

// Replaces a text field's text as a user does: click, select all, type.
inline void typeInto(QQuickItem *field, const QString &text)
{
    click(field);
    QTRY_VERIFY(field->hasActiveFocus());
    QTest::keyClick(field->window(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field->window(), Qt::Key_Delete);
    for (const QChar c : text)
        QTest::keyClick(field->window(), c.toLatin1());
}

// The window's main screen as the program loads it.
class Screen {
public:
    Screen()
    {
        qInstallMessageHandler(recordWarnings);
        engine = std::make_unique<QQmlApplicationEngine>();
        DesktopApp::load(*engine);
        if (!engine->rootObjects().isEmpty())
            window = qobject_cast<QQuickWindow *>(engine->rootObjects().constFirst());
    }
    ~Screen() { engine.reset(); }

    QQuickItem *item(const QString &name) const { return findItem(window, name); }
    QVariant eval(const QString &expression) const
    {
        QQmlExpression e(qmlContext(window), window, expression);
        return e.evaluate();
    }

    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window = nullptr;
};

} // namespace screentest

// A main() that prepares the environment and the application object exactly
// as the program does before running the test object.
#define SCREEN_TEST_MAIN(TestObject, instanceName)                                                                     \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        screentest::Environment environment(instanceName);                                                             \
        DesktopApp::prepareApplication();                                                                              \
        QApplication app(argc, argv);                                                                                  \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
