// The list of shared files and folders and the sharing switch, kept in the
// "share" database of the data folder through one process-wide connection.
#pragma once

#include "ShareFile.h"
#include "Sqlite3DB.h"

#include <mutex>
#include <string>
#include <vector>

class ShareFilesDb : public Sqlite3DB {
public:
    // listFiles filters.
    enum Filter { All = 0, FilesOnly = 1, FoldersOnly = 2 };

    // The process-wide store. The program opens it at start-up, before any
    // server thread can reach it; operations open it on first use otherwise.
    static ShareFilesDb &instance();

    // A store at filePath; empty means the data folder's "share", resolved at
    // the first open. Only instance() is used by the program.
    explicit ShareFilesDb(std::string filePath = {});
    // Checkpoints the write-ahead log, then closes.
    ~ShareFilesDb() override;

    // Opens (creating with the schema when missing). Safe to call from several
    // threads; failures are written to standard error.
    bool open();
    // Checkpoints and closes the current connection, then opens filePath
    // (empty: the data folder's "share"). For tests that need a fresh file.
    bool reopen(const std::string &filePath);

    bool isEnabled();
    void setEnabled(bool enabled);
    // Replaces an entry of the same uid.
    void addFile(const ShareFile &file);
    // Appends (without clearing) folders first, then files, each by name.
    void listFiles(int filter, std::vector<ShareFile> *files);
    // False (file untouched) when there is no such entry.
    bool getFile(const std::string &uid, ShareFile *file);
    bool hasUid(const std::string &uid);
    bool hasUri(const std::string &uri);
    void removeFile(const std::string &uid);

    static const char *schema();

private:
    bool openLocked();
    void closeLocked();

    std::mutex m_openMutex;
    std::string m_filePath;
};
