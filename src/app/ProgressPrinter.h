// What a transfer looks like on the command line: on a terminal, a line per
// running file (bytes, rate, time left) redrawn in place under the finished
// ones; otherwise one plain line per event, for logs and scripts. Names and
// errors come from other devices: every line goes out through TerminalText.
#pragma once

#include "engine/TaskEngine.h"

#include <QString>

#include <cstdio>
#include <map>
#include <string>
#include <utility>

class ProgressPrinter {
public:
    // live: redraw the running files in place (a terminal).
    ProgressPrinter(FILE *out, bool live);

    static bool isTerminal(FILE *stream);
    bool live() const { return m_live; }

    // One event line, above the running files.
    void line(const QString &text);
    // A task's files as they stand: a file that became final gives its line,
    // running ones are shown (live) or announced once (plain). nowMs is a
    // steady clock reading, for the rates.
    void update(const TaskKey &key, const TaskEntry &entry, qint64 nowMs);
    // Forgets the running lines (before the program prints its last words).
    void clearLive();

    // "0 B", "512 B", "1.5 KiB", "300.0 MiB".
    static QString bytesText(int64_t n);
    // "0:05", "1:02:03".
    static QString durationText(int64_t seconds);

private:
    struct FileState {
        int32_t status = 0;
        int64_t offset = 0;
        bool announced = false;
        qint64 sampleMs = -1;
        int64_t sampleOffset = 0;
        double rate = 0; // bytes per second, smoothed
    };
    using FileKey = std::pair<std::string, std::string>; // task id + file id

    void redraw();
    QString liveText(const TransferFile &file, const FileState &state) const;

    FILE *m_out;
    bool m_live;
    std::map<FileKey, FileState> m_files;
    std::map<FileKey, QString> m_running; // what the live block shows, in key order
    int m_shownLines = 0;
};
