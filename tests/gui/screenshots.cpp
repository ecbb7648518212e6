// Takes the pictures of docs/screenshots: the real program's window beside
// three other instances (model_peer processes), on every screen and form, one
// PNG each. Run by scripts/screenshots under Xvfb; never installed.
#include "ScreenTest.h"

#include "discovery/LanferryUdpServer.h"
#include "store/ShareFilesDb.h"
#include "ui/DevicesModel.h"
#include "ui/GlobalModel.h"
#include "ui/ServerModel.h"
#include "ui/TaskMgrModel.h"
#include "ui/ToastContext.h"

#include <QDir>
#include <QLinearGradient>
#include <QPainter>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <cstdio>
#include <list>

using namespace screentest;

namespace {

struct Peer {
    QString name, type, home;
    int port = 0;
    QProcess process;
};

void startPeer(Peer &peer, const QString &home)
{
    peer.home = home;
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

// A picture with something in it, for thumbnails.
bool writePicture(const QString &path, QColor from, QColor to)
{
    QDir().mkpath(QFileInfo(path).path());
    QImage image(640, 420, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 640, 420);
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    painter.fillRect(image.rect(), gradient);
    painter.setBrush(QColor(255, 255, 255, 140));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPoint(440, 150), 80, 80);
    painter.end();
    return image.save(path);
}

bool writeBytes(const QString &path, qint64 size)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(QByteArray(int(qMin<qint64>(size, 1 << 20)), 'x'));
    return size <= (1 << 20) || f.resize(size); // large ones sparse: quick to make and to read
}

// The key of the task that is new since before.
QString newTask(const std::vector<TaskKey> &before)
{
    for (const TaskKey &key : TaskMgrModel::instance()->taskOrder())
        if (std::find(before.begin(), before.end(), key) == before.end())
            return QString::fromStdString(key.tid);
    return QString();
}

class Camera {
public:
    Camera(Screen &screen, QString folder) : m_screen(screen), m_folder(std::move(folder)) {}

    bool shoot(const QString &name)
    {
        QTest::qWait(400); // let images load and the window repaint
        return save(m_screen.window->grabWindow(), name);
    }

    bool save(const QImage &image, const QString &name)
    {
        const QString path = m_folder + "/" + name + ".png";
        const bool ok = image.save(path);
        std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
        return ok;
    }

private:
    Screen &m_screen;
    QString m_folder;
};

// Answers the window's prompt for an offer with Yes and the folder.
bool acceptOffer(Screen &screen, const QString &saveTo)
{
    if (!waitFor([&] { return screen.item("messageBox.button.0") != nullptr; }))
        return false;
    click(screen.item("messageBox.button.0"));
    QFileDialog *dialog = nullptr;
    if (!waitFor([&] { return (dialog = openFileDialog()) != nullptr; }))
        return false;
    QDir().mkpath(saveTo);
    choose(dialog, {saveTo});
    return true;
}

void offer(Peer &from, const QStringList &paths)
{
    from.process.write(
        QStringLiteral("send 127.0.0.1 %1 - %2\n").arg(ServerModel::instance()->port()).arg(paths.join(' ')).toUtf8());
}

// The share list, another device's shares with the save-folder dialog, and
// the tasks: one failed, one finished, a folder task opened, one running.
bool shootShareDeviceAndTasks(Screen &screen, Camera &camera, std::list<Peer> &peers)
{
    QTemporaryDir files;
    const QString mine = files.path() + "/mine";
    bool ok = writePicture(mine + "/Holiday photos/beach.jpg", QColor("#1E6FD9"), QColor("#F2C94C"));
    ok &= writePicture(mine + "/sunset.jpg", QColor("#F2994A"), QColor("#6C3483"));
    ok &= writeBytes(mine + "/Budget 2026.xlsx", 48000);
    ok &= writeBytes(mine + "/Concert.mp4", 250000);
    for (const auto &[name, mime, folder] : {std::tuple<QString, QString, bool>{"Holiday photos", "", true},
                                             {"sunset.jpg", "image/jpeg", false},
                                             {"Budget 2026.xlsx", "application/vnd.ms-excel", false},
                                             {"Concert.mp4", "video/mp4", false}}) {
        const std::string uri = (mine + "/" + name).toStdString();
        ShareFilesDb::instance().addFile(newShareFile(name.toStdString(), uri, mime.toStdString(),
                                                      mime.startsWith("image/") ? uri : std::string(), folder));
    }
    ShareFilesDb::instance().setEnabled(true);
    GlobalModel::instance()->navTo("Share.qml");
    ok &= waitFor([&] { return screen.item("share.file.3") != nullptr; });
    click(screen.item("share.file.2"));
    ok &= camera.shoot("share");

    // The office computer shares a few files; this window browses them.
    Peer &office = peers.back();
    const QString theirs = files.path() + "/office";
    ok &= writePicture(theirs + "/garden.png", QColor("#27AE60"), QColor("#D5F5E3"));
    ok &= writePicture(theirs + "/team.jpg", QColor("#8E44AD"), QColor("#F5B7B1"));
    ok &= writeBytes(theirs + "/Reports/q3.pdf", 90000);
    ok &= writeBytes(theirs + "/minutes.docx", 30000);
    {
        ShareFilesDb shares((office.home + "/data/tovantic_lanferry_win/share").toStdString());
        ok &= shares.open();
        for (const auto &[name, mime, folder] : {std::tuple<QString, QString, bool>{"Reports", "", true},
                                                 {"garden.png", "image/png", false},
                                                 {"team.jpg", "image/jpeg", false},
                                                 {"minutes.docx", "application/msword", false}}) {
            const std::string uri = (theirs + "/" + name).toStdString();
            shares.addFile(newShareFile(name.toStdString(), uri, mime.toStdString(),
                                        mime.startsWith("image/") ? uri : std::string(), folder));
        }
        shares.setEnabled(true);
    }
    LanferryUdpServer::ServerItem item;
    item.ip = "127.0.0.5";
    item.port = office.port;
    item.info = ServerInfo{"", office.name.toStdString(), "", office.type.toStdString(), office.port};
    GlobalModel::instance()->navTo("Device.qml", {{"devItem", QVariant::fromValue(item)}});
    ok &= waitFor([&] { return screen.item("device.file.3") != nullptr; });
    ok &= waitFor([&] { return screen.item("device.file.2.icon")->property("status").toInt() == 1; });
    click(screen.item("device.file.1"));
    click(screen.item("device.file.2"));
    ok &= camera.shoot("device");

    std::vector<TaskKey> before = TaskMgrModel::instance()->taskOrder();
    click(screen.item("device.download"));
    QFileDialog *dialog = nullptr;
    ok &= waitFor([&] { return (dialog = openFileDialog()) != nullptr; });
    if (!dialog)
        return false;
    QTest::qWait(400);
    ok &= camera.save(dialog->grab().toImage(), "save-folder-dialog");
    QDir().mkpath(files.path() + "/downloads");
    choose(dialog, {files.path() + "/downloads"});
    ok &= waitFor([&] { return !newTask(before).isEmpty(); });
    const QString downloaded = newTask(before);

    // A file that is gone by the time it is fetched: a failed task.
    auto it = peers.begin();
    Peer &phone = *std::next(it, 1);
    ok &= writeBytes(files.path() + "/phone/VoiceMemo.m4a", 12000);
    offer(phone, {files.path() + "/phone/VoiceMemo.m4a"});
    ok &= waitFor([&] { return screen.item("messageBox.button.0") != nullptr; });
    QFile::remove(files.path() + "/phone/VoiceMemo.m4a");
    before = TaskMgrModel::instance()->taskOrder();
    ok &= acceptOffer(screen, files.path() + "/inbox");
    ok &= waitFor([&] { return !newTask(before).isEmpty(); });
    const QString failed = newTask(before);
    ok &= waitFor([&] { return screen.item("tasks.task." + failed + ".error") != nullptr; });

    // A folder and a note from the laptop, opened to show its rows.
    Peer &laptop = peers.front();
    for (int i = 1; i <= 24; ++i)
        ok &= writePicture(files.path() + QStringLiteral("/laptop/Photos2026/IMG_%1.jpg").arg(4100 + i),
                           QColor::fromHsv(i * 15 % 360, 160, 200), QColor("#FFFFFF"));
    ok &= writeBytes(files.path() + "/laptop/notes.txt", 2300);
    before = TaskMgrModel::instance()->taskOrder();
    offer(laptop, {files.path() + "/laptop/Photos2026", files.path() + "/laptop/notes.txt"});
    ok &= acceptOffer(screen, files.path() + "/inbox");
    ok &= waitFor([&] { return !newTask(before).isEmpty(); });
    const QString folderTask = newTask(before);
    ok &= waitFor([&] {
        return screen.item("tasks.task." + folderTask + ".mark") &&
               screen.item("tasks.task." + folderTask + ".mark")->property("status").toInt() == 1;
    });
    ok &= waitFor([&] {
        QQuickItem *mark = screen.item("tasks.task." + downloaded + ".mark");
        return mark && mark->property("status").toInt() == 1;
    });

    click(screen.item("tasks.task." + folderTask));
    ok &= waitFor([&] { return screen.item("tasks.file." + folderTask + ".1") != nullptr; });

    // A large video from the phone, caught while it arrives.
    Peer &iphone = *std::next(it, 2);
    ok &= writeBytes(files.path() + "/iphone/Birthday.mov", qint64(6) << 30);
    ok &= writePicture(files.path() + "/iphone/cake.jpg", QColor("#E74C3C"), QColor("#FDEBD0"));
    before = TaskMgrModel::instance()->taskOrder();
    offer(iphone, {files.path() + "/iphone/cake.jpg", files.path() + "/iphone/Birthday.mov"});
    ok &= acceptOffer(screen, files.path() + "/inbox");
    ok &= waitFor([&] { return !newTask(before).isEmpty(); });
    const QString running = newTask(before);
    QTest::qWait(300); // the rows below move down first
    click(screen.item("tasks.task." + running));
    ok &= waitFor([&] {
        QQuickItem *bar = screen.item("tasks.file." + running + ".0.progress");
        return bar && bar->property("value").toDouble() > 3;
    });
    ok &= camera.shoot("tasks");
    TaskMgrModel::instance()->stopTask(running, false);
    return ok;
}

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

    ok &= shootShareDeviceAndTasks(screen, camera, peers);

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
