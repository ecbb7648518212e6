#include "DataFolder.h"

#include "AtomicFile.h"
#include "Json.h"

#include <QDir>
#include <QThreadPool>

#include <climits>
#include <mutex>

namespace {
std::mutex folderMutex;
constexpr const char *kFolderName = "tovantic_lanferry_win";
} // namespace

std::string dataFolder()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    // XDG says a relative XDG_DATA_HOME is to be ignored.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    const QString path = QDir::cleanPath(base + QLatin1Char('/') + QLatin1String(kFolderName));
    {
        std::lock_guard<std::mutex> lock(folderMutex);
        if (!QFileInfo::exists(path))
            QDir().mkpath(path);
    }
    return path.toStdString();
}

std::string dataFile(const std::string &name)
{
    return dataFolder() + "/" + name;
}

std::string homeFolderName()
{
    return QDir(QDir::homePath()).dirName().toStdString();
}

int readMaxThreads()
{
    const int fallback = std::max(1, QThreadPool::globalInstance()->maxThreadCount() / 2);
    std::string text;
    if (!readWholeFile(dataFile("maxthreads"), &text))
        return fallback;
    const auto n = parseLeadingInt(text);
    if (!n || *n <= 0 || *n > INT_MAX)
        return fallback;
    return static_cast<int>(*n);
}
