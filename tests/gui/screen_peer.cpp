// A whole instance with its window, for tests across processes: the program's
// own set-up loads the real main screen (offscreen), and a test drives it
// from standard input as a user would, by pressing, dropping and choosing in
// dialogs. Each command answers with one JSON line on standard output.
//
// Commands (one per line):
//   press NAME            wait for the item named NAME, then click it
//   text NAME             the "text" property of the item named NAME
//   prop NAME PROPERTY    any property of that item
//   drop NAME PATH...     drop the files on that item
//   choose PATH...        pick the paths in the open file or folder dialog and accept it
//   quit
// Answers: {"event":"done","command":..., "value":...} or {"event":"error","text":...}.
#include "StdinLines.h"
#include "ScreenTest.h"

#include "ui/ServerModel.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <unistd.h>

using namespace screentest;

namespace {

void emitLine(const QJsonObject &o)
{
    std::fputs(QJsonDocument(o).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Waits for what a user would wait for: an item to show, a dialog to open.
template <class T> T waitFor(const std::function<T()> &find, int ms = 30000)
{
    T found{};
    (void)QTest::qWaitFor([&] { return (found = find()) != T{}; }, ms);
    return found;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    DesktopApp::prepareApplication();
    QApplication app(argc, argv);
    Screen screen;
    if (!screen.window)
        return 1;
    if (!QTest::qWaitForWindowExposed(screen.window) ||
        !QTest::qWaitFor([] { return ServerModel::instance()->httpServer().isListening(); }, 30000))
        return 1;
    emitLine({{"event", "ready"}, {"port", ServerModel::instance()->port()}});

    auto item = [&](const QString &name) { return waitFor<QQuickItem *>([&] { return screen.item(name); }); };
    auto run = [&](const QString &line) {
        QStringList words = line.split(' ', Qt::SkipEmptyParts);
        if (words.isEmpty())
            return;
        const QString verb = words.takeFirst();
        QJsonObject answer{{"event", "done"}, {"command", verb}};
        QQuickItem *target = (verb == "choose" || verb == "quit" || words.isEmpty()) ? nullptr : item(words.first());
        if (verb != "choose" && verb != "quit" && !target) {
            emitLine({{"event", "error"}, {"text", "no item " + words.value(0)}});
            return;
        }
        if (verb == "press") {
            click(target);
        } else if (verb == "text") {
            answer["value"] = target->property("text").toString();
        } else if (verb == "prop" && words.size() == 2) {
            answer["value"] = QJsonValue::fromVariant(target->property(words[1].toUtf8()));
        } else if (verb == "drop") {
            QList<QUrl> urls;
            for (int i = 1; i < words.size(); ++i)
                urls << QUrl::fromLocalFile(words[i]);
            dropFiles(target, urls);
        } else if (verb == "choose") {
            QFileDialog *dialog = waitFor<QFileDialog *>(openFileDialog);
            if (!dialog) {
                emitLine({{"event", "error"}, {"text", "no dialog"}});
                return;
            }
            choose(dialog, words);
        } else if (verb == "quit") {
            app.quit();
        }
        emitLine(answer);
    };
    const StdinLines input(run);
    const int code = app.exec();
    ServerModel::instance()->stop();
    return code;
}
