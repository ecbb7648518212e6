// Takes the pictures of docs/screenshots: the real program's window beside
// three other instances (model_peer processes), on every screen and form, one
// PNG each. Run by scripts/screenshots under Xvfb; never installed.
#include "ScreenTest.h"

#include "ui/DevicesModel.h"
#include "ui/GlobalModel.h"
#include "ui/ServerModel.h"
#include "ui/ToastContext.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <cstdio>
#include <list>

using namespace screentest;

namespace {

struct Peer {
    QString name, type;
    int port = 0;
    QProcess process;
};

void startPeer(Peer &peer, const QString &home)
{
    const QString folder = home + "/data/tovantic_lanferry_win";
    QDir().mkpath(folder);
    peer.port = freePort();
    QFile settings(folder + "/server");
    settings.open(QIODevice::WriteOnly);
    settings.write(QJsonDocument(QJsonObject{{"uid", QUuid::createUuid().toString(QUuid::WithoutBraces)},
                                             {"name", peer.name},
                                             {"type", peer.type},
                                             {"port", peer.port}})
                       .toJson());
    settings.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_DATA_HOME", home + "/data");
    peer.process.setProcessEnvironment(env);
    peer.process.start(MODEL_PEER_PATH, QStringList());
    peer.process.waitForReadyRead(20000); // its "ready" line
}

bool waitFor(const std::function<bool()> &condition)
{
    return QTest::qWaitFor(condition, 20000);
}

class Camera {
public:
    Camera(Screen &screen, QString folder) : m_screen(screen), m_folder(std::move(folder)) {}

    bool shoot(const QString &name)
    {
        QTest::qWait(400); // let images load and the window repaint
        const QImage image = m_screen.window->grabWindow();
        const QString path = m_folder + "/" + name + ".png";
        const bool ok = image.save(path);
        std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
        return ok;
    }

private:
    Screen &m_screen;
    QString m_folder;
};

int shootAll(const QString &folder)
{
    QTemporaryDir peersHome;
    std::list<Peer> peers;
    for (const auto &[name, type] : {std::pair<const char *, const char *>{"Alice's MacBook", "mac"},
                                     {"Pixel 8", "android"},
                                     {"Tom's iPhone", "ios"},
                                     {"Office-PC", "win"}}) {
        peers.emplace_back();
        peers.back().name = name;
        peers.back().type = type;
        startPeer(peers.back(), peersHome.path() + "/" + QString::number(peers.size()));
    }

    Screen screen;
    if (!screen.window || !QTest::qWaitForWindowExposed(screen.window))
        return 1;
    Camera camera(screen, folder);
    bool ok = camera.shoot("home");

    GlobalModel::instance()->navTo("Devices.qml");
    // One loopback address each: the devices screen lists one device per address.
    int host = 2;
    for (const Peer &peer : peers)
        DevicesModel::instance()->connectDevice(QStringLiteral("127.0.0.%1").arg(host++), peer.port, QString());
    ok &= waitFor([&] { return screen.eval("navUtil.currentPage.objectName").toString() == "devices"; });
    ok &= waitFor([&] { return screen.item("devices.grid")->property("count").toInt() == int(peers.size()) + 1; });
    ok &= camera.shoot("devices");

    DevicesModel::instance()->setServerSettingPresent(true);
    ok &= waitFor([&] { return screen.item("serverSettingForm.name") != nullptr; });
    ok &= camera.shoot("settings-form");
    DevicesModel::instance()->setServerSettingPresent(false);

    DevicesModel::instance()->setConnectPresent(true);
    ok &= waitFor([&] { return screen.item("connectForm.ip") != nullptr; });
    typeInto(screen.item("connectForm.ip"), "192.168.1.23");
    ok &= camera.shoot("connect-form");
    DevicesModel::instance()->setConnectPresent(false);

    emit DevicesModel::instance()->pwdRequest(InputCallbackModel::Callback());
    ok &= waitFor([&] { return screen.item("passowrdInputForm.password") != nullptr; });
    ok &= camera.shoot("password-form");
    QTest::keyClick(screen.window, Qt::Key_Escape);
    ok &= waitFor([&] { return screen.item("passowrdInputForm") == nullptr; });

    // A real offer from another device: the receiving prompt.
    QTemporaryDir outbox;
    for (const char *name : {"holiday.jpg", "notes.txt", "slides.pdf"}) {
        QFile f(outbox.path() + "/" + name);
        f.open(QIODevice::WriteOnly);
        f.write("x");
    }
    Peer &office = peers.back();
    office.process.write(QStringLiteral("send 127.0.0.1 %1 - %2/holiday.jpg %2/notes.txt %2/slides.pdf\n")
                             .arg(ServerModel::instance()->port())
                             .arg(outbox.path())
                             .toUtf8());
    ok &= waitFor([&] { return screen.item("messageBox.button.1") != nullptr; });
    ok &= camera.shoot("message-box");
    click(screen.item("messageBox.button.1"));
    ok &= waitFor([&] { return screen.item("messageBox") == nullptr; });

    GlobalModel::instance()->navTo("home.qml");
    emit ToastContext::instance()->toast(ServerModel::tr("IDS_%1_DOWNLOAD_SHARE_FILES").arg("Pixel 8"), 3000);
    QTest::qWait(1200);
    ok &= camera.shoot("toast");
    ok &= waitFor([&] { return screen.item("myToast") == nullptr; });

    click(screen.item("mainHeader.menu"));
    ok &= waitFor([&] { return screen.item("mainHeader.menu.help") != nullptr; });
    click(screen.item("mainHeader.menu.help"));
    ok &= waitFor([&] { return screen.item("helpBox") != nullptr; });
    ok &= camera.shoot("help");
    click(screen.item("helpBox.close"));
    ok &= waitFor([&] { return screen.item("helpBox") == nullptr; });

    click(screen.item("mainHeader.menu"));
    ok &= waitFor([&] { return screen.item("mainHeader.menu.about") != nullptr; });
    click(screen.item("mainHeader.menu.about"));
    ok &= waitFor([&] { return screen.item("aboutBox") != nullptr; });
    ok &= camera.shoot("about");
    click(screen.item("aboutBox.close"));

    for (Peer &peer : peers) {
        peer.process.write("quit\n");
        if (!peer.process.waitForFinished(10000))
            peer.process.kill();
    }
    const QStringList warnings = takeWarnings();
    for (const QString &w : warnings)
        std::fprintf(stderr, "warning: %s\n", qPrintable(w));
    return ok && warnings.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    Environment environment("Studio-PC");
    DesktopApp::prepareApplication();
    QApplication app(argc, argv);
    return shootAll(folder);
}
