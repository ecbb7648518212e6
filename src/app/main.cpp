// Entry point: one instance per data folder, the device identity made or
// loaded, then the event loop until the user or the system ends it.
#include "SingleInstanceGuard.h"
#include "UnixSignalWatcher.h"

#include "core/DataFolder.h"
#include "core/ServerInfo.h"
#include "store/ShareFilesDb.h"
#include "ui/Catalogue.h"

#include <QCoreApplication>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The data folder must exist and be writable: every piece of state lives there.
bool usableDataFolder(const std::string &folder)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "lanferry: cannot create the data folder %s\n", folder.c_str());
        return false;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        std::fprintf(stderr, "lanferry: the data folder %s is not writable\n", folder.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("com.tovantic"));

    const std::string folder = dataFolder();
    if (!usableDataFolder(folder))
        return 1;

    SingleInstanceGuard guard(folder + "/instance.lock");
    switch (guard.tryAcquire()) {
    case SingleInstanceGuard::Result::HeldByOther:
        return 0;
    case SingleInstanceGuard::Result::Error:
        std::fprintf(stderr, "lanferry: %s\n", guard.lastError().c_str());
        return 1;
    case SingleInstanceGuard::Result::Acquired:
        break;
    }

    std::string error;
    if (loadServerInfo(&error).uid.empty()) {
        std::fprintf(stderr, "lanferry: %s\n", error.c_str());
        return 1;
    }

    // Opened once here, before any server thread can reach the one shared connection.
    // A failure is reported on standard error; transfers work without sharing.
    ShareFilesDb::instance().open();

    int exitCode;
    {
        QCoreApplication app(argc, argv);
        // A missing catalogue leaves the built-in English texts in place.
        installCatalogue(&app);

        UnixSignalWatcher watcher;
        QObject::connect(&watcher, &UnixSignalWatcher::terminationRequested, &app, [] { QCoreApplication::quit(); });
        exitCode = app.exec();
    }
    guard.release(); // last, so a new instance starts only after this one has torn down
    return exitCode;
}
