// What every screen test shares: a private data folder, runtime folder and
// identity on a free port, the program's own engine set-up loading the real
// main screen, every Qt warning turned into a test failure, and finding and
// pressing items of the window by objectName.
#pragma once

#include "FreePort.h"
#include "TempDataHome.h"

#include "app/DesktopApp.h"
#include "core/ServerInfo.h"
#include "ui/InputCallbackModel.h"
#include "ui/TaskMgrModel.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QMutex>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
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
    // The offscreen platform says so for every widget window, here the desktop's file dialog.
    const bool platformNote = message == QLatin1String("This plugin does not support propagateSizeHints()");
    if ((type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg) && !platformNote) {
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

// Drags the files from a file manager onto item and drops them there.
inline void dropFiles(QQuickItem *item, const QList<QUrl> &urls)
{
    QMimeData data;
    data.setUrls(urls);
    QWindow *window = item->window();
    const QPoint at = item->mapToScene({item->width() / 2, item->height() / 2}).toPoint();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &move);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &drop);
    QVERIFY(drop.isAccepted());
}

// The file or folder dialog the window opened (the desktop's own, a widget).
inline QFileDialog *openFileDialog()
{
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget *w : widgets)
        if (auto *dialog = qobject_cast<QFileDialog *>(w); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

// Chooses paths in dialog (all in one folder) as a user does, and presses its OK button.
inline void choose(QFileDialog *dialog, const QStringList &paths)
{
    const QFileInfo first(paths.value(0));
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (dialog->fileMode() == QFileDialog::Directory && name) { // the folder opened, no name typed: that folder
        dialog->setDirectory(first.absoluteFilePath());
        name->clear();
        static_cast<QDialog *>(dialog)->accept();
        return;
    }
    dialog->setDirectory(first.absolutePath());
    QStringList names;
    for (const QString &p : paths)
        names << '"' + QFileInfo(p).fileName() + '"';
    // Typed into the name field as "a" "b", as the dialog writes a choice of several.
    if (name && paths.size() > 1)
        name->setText(names.join(' '));
    else
        dialog->selectFile(first.fileName());
    static_cast<QDialog *>(dialog)->accept(); // as the dialog's own button does
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
