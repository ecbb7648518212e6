// The program's command line: without a command the desktop program, with one
// a headless run of that command (devices, send, receive, share, get, tasks,
// resume, config). Owns the single-instance rule and the exit codes.
#pragma once

#include <QString>

class CommandLine {
public:
    // The whole program; answers the process exit code.
    static int run(int argc, char *argv[]);
    // The short usage listing every command.
    static QString usage();
};
