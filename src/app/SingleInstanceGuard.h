// One running instance per data folder: an exclusive flock on a lock file in
// the data folder. The kernel drops the lock when the holder exits or dies, so
// a crashed instance never blocks the next start.
#pragma once

#include <string>

class SingleInstanceGuard {
public:
    enum class Result { Acquired, HeldByOther, Error };

    explicit SingleInstanceGuard(std::string lockPath);
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard &) = delete;
    SingleInstanceGuard &operator=(const SingleInstanceGuard &) = delete;

    Result tryAcquire();
    void release();
    // Why tryAcquire answered Error.
    const std::string &lastError() const { return m_lastError; }

private:
    std::string m_path;
    int m_fd = -1;
    std::string m_lastError;
};
