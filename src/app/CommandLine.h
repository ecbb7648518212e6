// The program's command line: without a command the desktop program, with one
// a headless run of that command (devices, send, receive, share, get, tasks,
// resume, config). Owns the single-instance rule and the exit codes.
#pragma once

#include <QString>

class CommandLine {
public:
    // The desktop program, started once the data folder is held.
    using DesktopEntry = int (*)(int argc, char *argv[]);

    // The whole program; answers the process exit code. Without desktop, a
    // start without a command prints the usage.
    static int run(int argc, char *argv[], DesktopEntry desktop = nullptr);
    // Whether these arguments start the desktop program: no command, no --help.
    static bool isDesktopStart(int argc, char *argv[]);
    // The short usage listing every command.
    static QString usage();
};
