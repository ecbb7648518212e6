// The real program on the hosts of the test bed: its commands run to their end
// or kept running, the hosts' folders as seen from the test, and the file
// helpers the transfer tests compare with.
#pragma once

#include "NetBed.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QtTest>

#include <memory>
#include <random>

namespace bed {

inline QString lanferry()
{
    return QStringLiteral(LANFERRY_PATH);
}

// A host's folder and its home, as the test sees them (the hosts share the file system).
inline QString hostDir(int host)
{
    return qEnvironmentVariable("NETBED_DIR") + QStringLiteral("/h%1").arg(host);
}
inline QString home(int host)
{
    return hostDir(host) + QStringLiteral("/home");
}
inline QString name(int host)
{
    return QStringLiteral("host%1").arg(host);
}
inline QString password(int host)
{
    return QStringLiteral("pw%1").arg(host);
}

inline netbed::Result run(int host, const QStringList &args, int timeoutMs = 20000)
{
    return netbed::run(host, lanferry(), args, timeoutMs);
}

// A command that keeps running; ended with SIGTERM when the test lets it go.
class Command : public netbed::Process {
public:
    Command(int host, const QStringList &args) : Process(host, lanferry(), args) {}
    ~Command()
    {
        if (isRunning()) {
            signal(SIGTERM);
            waitExit(15000);
        }
    }
};

// The command's services answer once its identity is on the network: waits
// until another host's "devices" lists it.
inline bool waitListed(int host, int observer, int timeoutMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        const netbed::Result r = run(observer, {"devices", "--wait", "1.5"});
        for (const QString &line : r.lines) {
            if (line.startsWith(name(host) + QLatin1Char(' ')))
                return true;
        }
    }
    return false;
}

// Random content of exactly size bytes, the same for the same seed.
inline bool writeRandom(const QString &path, qint64 size, quint64 seed)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    std::mt19937_64 gen(seed);
    // No larger than the file (whole words), so that many small files cost little.
    QByteArray block(int((std::min<qint64>(size, 1 << 20) + 7) & ~qint64(7)), Qt::Uninitialized);
    for (qint64 left = size; left > 0;) {
        auto *words = reinterpret_cast<quint64 *>(block.data());
        for (int i = 0; i < block.size() / 8; ++i)
            words[i] = gen();
        const qint64 n = std::min<qint64>(left, block.size());
        if (f.write(block.constData(), n) != n)
            return false;
        left -= n;
    }
    return true;
}

inline QByteArray sha256(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("missing: ") + path.toUtf8();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result().toHex();
}

// Every file and folder under root: relative path -> checksum, or "dir" for a folder.
inline QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(root).relativeFilePath(path);
        entries.insert(rel, it.fileInfo().isDir() ? QByteArray("dir") : sha256(path));
    }
    return entries;
}

inline qint64 fileSize(const QString &path)
{
    return QFileInfo(path).size();
}

// Waits until a file has at least size bytes; false when it did not in time.
inline bool waitSize(const QString &path, qint64 size, int timeoutMs)
{
    return QTest::qWaitFor([&] { return QFileInfo(path).size() >= size; }, timeoutMs);
}

// The partial file that receives name in folder ("name.<tag>.downloading"),
// or "" while there is none.
inline QString partialFile(const QString &folder, const QString &name)
{
    const QStringList found = QDir(folder).entryList({name + ".*.downloading"}, QDir::Files | QDir::Hidden);
    return found.isEmpty() ? QString() : folder + "/" + found.first();
}

// Waits until the partial file of name in folder has at least size bytes;
// answers its path, or "" when it did not in time.
inline QString waitPartial(const QString &folder, const QString &name, qint64 size, int timeoutMs)
{
    QString path;
    const bool reached = QTest::qWaitFor(
        [&] {
            path = partialFile(folder, name);
            return !path.isEmpty() && QFileInfo(path).size() >= size;
        },
        timeoutMs);
    return reached ? path : QString();
}

// Bytes the host has sent on its network interface so far.
inline qint64 sentBytes(int host)
{
    const netbed::Result r = netbed::run(host, QStringLiteral("cat"), {"/sys/class/net/eth0/statistics/tx_bytes"});
    return r.exitCode == 0 && !r.lines.isEmpty() ? r.lines.first().trimmed().toLongLong() : -1;
}

// Names the three hosts and gives each a password.
inline bool configureHosts()
{
    for (int host = 1; host <= 3; ++host) {
        if (run(host, {"config", "--name", name(host), "--password", password(host)}).exitCode != 0)
            return false;
    }
    return true;
}

} // namespace bed
