// One command of the command line: its options, how it reads them, and its run.
#pragma once

#include <QCommandLineParser>
#include <QString>

// The exit codes of every command.
enum ExitCode {
    ExitOk = 0,
    ExitFailed = 1,  // declined, a file failed, or the command could not do its work
    ExitUsage = 2,   // bad arguments, or the device could not be reached
    ExitRunning = 3, // another instance holds the data folder
};

class Verb {
public:
    virtual ~Verb() = default;

    // Whether the command runs the services, and so needs the data folder to itself.
    virtual bool startsServices() const = 0;
    // "HOST[:PORT] PATH..." and a sentence for --help.
    virtual QString synopsis() const = 0;
    virtual QString description() const = 0;
    // Declares the options and positional arguments.
    virtual void describe(QCommandLineParser &parser) = 0;
    // Takes the parsed values; false with *error on a usage error.
    virtual bool take(const QCommandLineParser &parser, QString *error) = 0;
    // Runs with the application object made, the catalogue installed and,
    // for a service command, the data folder held. Answers the exit code.
    virtual int run() = 0;
};
