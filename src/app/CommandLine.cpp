#include "CommandLine.h"

#include "ConfigVerb.h"
#include "DevicesVerb.h"
#include "GetVerb.h"
#include "RaiseListener.h"
#include "ReceiveVerb.h"
#include "ResumeVerb.h"
#include "SendVerb.h"
#include "ShareVerb.h"
#include "SingleInstanceGuard.h"
#include "TasksVerb.h"
#include "TerminalText.h"
#include "Verb.h"

#include "core/DataFolder.h"
#include "core/ServerInfo.h"
#include "store/ShareFilesDb.h"
#include "ui/Catalogue.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

#include <cstdio>
#include <iostream>
#include <malloc.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

namespace {

void printError(const QString &text)
{
    std::fprintf(stderr, "lanferry: %s\n", TerminalText::utf8(text).constData());
}

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

std::unique_ptr<Verb> makeVerb(const QString &name)
{
    if (name == QLatin1String("devices"))
        return std::make_unique<DevicesVerb>();
    if (name == QLatin1String("send"))
        return std::make_unique<SendVerb>();
    if (name == QLatin1String("receive"))
        return std::make_unique<ReceiveVerb>();
    if (name == QLatin1String("share"))
        return std::make_unique<ShareVerb>();
    if (name == QLatin1String("get"))
        return std::make_unique<GetVerb>();
    if (name == QLatin1String("tasks"))
        return std::make_unique<TasksVerb>();
    if (name == QLatin1String("resume"))
        return std::make_unique<ResumeVerb>();
    if (name == QLatin1String("config"))
        return std::make_unique<ConfigVerb>();
    return nullptr;
}

const char *const kVerbs[] = {"devices", "send", "receive", "share", "get", "tasks", "resume", "config"};

// Holds the data folder for this run: the lock, then the identity and the
// share store, opened before any server thread can reach them.
int prepare(std::optional<SingleInstanceGuard> &guard, bool exclusive, bool quietWhenHeld)
{
    const std::string folder = dataFolder();
    if (!usableDataFolder(folder))
        return ExitFailed;
    if (exclusive) {
        guard.emplace(folder + "/instance.lock");
        switch (guard->tryAcquire()) {
        case SingleInstanceGuard::Result::HeldByOther:
            if (quietWhenHeld) {
                // A running desktop program shows its window instead; a
                // headless holder does not listen, and nothing else happens.
                RaiseListener::ask(RaiseListener::socketPath(folder));
                return ExitOk;
            }
            printError(QStringLiteral("another instance is running with the data folder %1")
                           .arg(QString::fromStdString(folder)));
            return ExitRunning;
        case SingleInstanceGuard::Result::Error:
            printError(QString::fromStdString(guard->lastError()));
            return ExitFailed;
        case SingleInstanceGuard::Result::Acquired:
            break;
        }
    }
    std::string error;
    if (loadServerInfo(&error).uid.empty()) {
        printError(QString::fromStdString(error));
        return ExitFailed;
    }
    // A failure is reported on standard error; everything but sharing works without it.
    ShareFilesDb::instance().open();
    return -1;
}

int dispatch(const QStringList &args, std::optional<SingleInstanceGuard> &guard)
{
    int verbAt = -1;
    for (int i = 1; i < args.size(); ++i) {
        if (!args[i].startsWith('-')) {
            verbAt = i;
            break;
        }
    }
    if (verbAt < 0) {
        if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
            std::fputs(CommandLine::usage().toUtf8().constData(), stdout);
            return ExitOk;
        }
        // The desktop program is started by run() before any application
        // object exists; a program built without it tells how to use the
        // command line instead.
        const int code = prepare(guard, true, true);
        if (code >= 0)
            return code;
        std::fputs(CommandLine::usage().toUtf8().constData(), stderr);
        return ExitUsage;
    }
    const QString name = args[verbAt];
    std::unique_ptr<Verb> verb = makeVerb(name);
    if (!verb) {
        printError(QStringLiteral("unknown command \"%1\"; see lanferry --help").arg(name));
        return ExitUsage;
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(verb->description());
    parser.addHelpOption();
    verb->describe(parser);
    QStringList verbArgs = args.mid(verbAt + 1);
    verbArgs.prepend(QStringLiteral("lanferry ") + name);
    if (!parser.parse(verbArgs)) {
        printError(parser.errorText());
        return ExitUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        QString help = parser.helpText();
        help.replace(QRegularExpression(QStringLiteral("^Usage: [^\\n]*")),
                     QStringLiteral("Usage: lanferry %1 %2").arg(name, verb->synopsis()).trimmed());
        std::fputs(help.toUtf8().constData(), stdout);
        return ExitOk;
    }
    QString error;
    if (!verb->take(parser, &error)) {
        printError(error);
        return ExitUsage;
    }
    const int code = prepare(guard, verb->startsServices(), false);
    if (code >= 0)
        return code;
    return verb->run();
}

// A headless run keeps a handful of threads busy, and glibc would give each
// its own malloc arena (up to eight per processor), every one keeping the
// pages it has touched. Two arenas serve them without contention that shows
// in a transfer.
constexpr int kHeadlessMallocArenas = 2;

// The end of a headless run, without the shared libraries' own clean-up: by
// then every object of ours is gone, and their destructors would only page in
// a little of each of the sixty-odd libraries, about a MiB touched just to be
// handed back. Registered before anything of ours exists, so it runs after
// every destructor of ours.
void endWithoutLibraryTeardown(int status, void *)
{
    std::cout.flush();
    std::fflush(nullptr);
#ifdef __SANITIZE_ADDRESS__
    __lsan_do_leak_check(); // the sanitizer's own check at exit comes later and is skipped
#endif
    ::_exit(status);
}

} // namespace

QString CommandLine::usage()
{
    QString text = QStringLiteral("Usage: lanferry [COMMAND] [OPTIONS]\n"
                                  "Without a command, the desktop program. Commands (each has --help):\n");
    for (const char *name : kVerbs) {
        const std::unique_ptr<Verb> verb = makeVerb(QLatin1String(name));
        const QString synopsis = verb->synopsis().isEmpty() ? QString() : QStringLiteral(" ") + verb->synopsis();
        text += QStringLiteral("  lanferry %1%2\n      %3\n").arg(QLatin1String(name), synopsis, verb->description());
    }
    return text;
}

bool CommandLine::isDesktopStart(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (!arg.startsWith('-') || arg == "--help" || arg == "-h")
            return false;
    }
    return true;
}

int CommandLine::run(int argc, char *argv[], DesktopEntry desktop)
{
    QCoreApplication::setOrganizationName(QStringLiteral("com.tovantic"));
    std::optional<SingleInstanceGuard> guard;
    int code;
    if (desktop && isDesktopStart(argc, argv)) {
        // The guard comes first: a second start ends quietly before it makes
        // an application object or touches the display.
        code = prepare(guard, true, true);
        if (code < 0)
            code = desktop(argc, argv);
    } else {
        ::mallopt(M_ARENA_MAX, kHeadlessMallocArenas);
        ::on_exit(&endWithoutLibraryTeardown, nullptr);
        QCoreApplication app(argc, argv);
        // A missing catalogue leaves the built-in English texts in place.
        installCatalogue(&app);
        code = dispatch(QCoreApplication::arguments(), guard);
    }
    if (guard)
        guard->release(); // last, so a new instance starts only after this one has torn down
    return code;
}
