// Another whole instance in its own process (model_peer, or another program
// that speaks the same lines), with its own data and runtime folders, port,
// name and password, and the JSON events it printed.
#pragma once

#include "FreePort.h"
#include "core/Uuid.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <functional>

class ModelPeerProcess {
public:
    ModelPeerProcess(const QString &home, const QString &name, const QString &password = QString(),
                     const QString &program = MODEL_PEER_PATH)
        : m_home(home)
    {
        QDir().mkpath(dataFolder());
        port = freePort();
        uid = QString::fromStdString(newUuid());
        QJsonObject settings{{"uid", uid}, {"name", name}, {"type", "win"}, {"port", port}};
        if (!password.isEmpty())
            settings["pwd"] = password;
        QFile file(dataFolder() + "/server");
        file.open(QIODevice::WriteOnly);
        file.write(QJsonDocument(settings).toJson());
        file.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_DATA_HOME", home + "/data");
        QDir().mkpath(home + "/runtime");
        QFile::setPermissions(home + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert("XDG_RUNTIME_DIR", home + "/runtime");
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { readLines(); });
        m_process.start(program, QStringList());
    }
    ~ModelPeerProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            command("quit");
            if (!m_process.waitForFinished(10000))
                m_process.kill();
        }
    }

    QString dataFolder() const { return m_home + "/data/tovantic_lanferry_win"; }
    std::string path(const char *name) const { return (dataFolder() + "/" + name).toStdString(); }

    void command(const QString &line) { m_process.write(line.toUtf8() + "\n"); }
    // Sends a command and waits until the peer has carried it out.
    bool run(const QString &line)
    {
        const int before = countOf("done");
        command(line);
        return QTest::qWaitFor([&] { return countOf("done") > before; }, 20000);
    }

    // The first event (from the start) that matches, waiting for it up to timeoutMs.
    QJsonObject waitEvent(const std::function<bool(const QJsonObject &)> &match, int timeoutMs = 20000)
    {
        QJsonObject found;
        (void)QTest::qWaitFor(
            [&] {
                for (const QJsonObject &e : events) {
                    if (match(e)) {
                        found = e;
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
        return found;
    }
    QJsonObject waitEvent(const QString &name, int timeoutMs = 20000)
    {
        return waitEvent([&](const QJsonObject &e) { return e["event"].toString() == name; }, timeoutMs);
    }
    int countOf(const QString &name) const
    {
        int n = 0;
        for (const QJsonObject &e : events)
            n += e["event"].toString() == name ? 1 : 0;
        return n;
    }

    QList<QJsonObject> events;
    int port = 0;
    QString uid;

private:
    void readLines()
    {
        while (m_process.canReadLine())
            events << QJsonDocument::fromJson(m_process.readLine()).object();
    }

    QString m_home;
    QProcess m_process;
};
