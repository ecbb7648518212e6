// Slows down password guessing: after too many wrong passwords from one
// address within a minute, that address is refused for a minute.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

class PasswordAttemptLimiter {
public:
    using Clock = std::chrono::steady_clock;

    explicit PasswordAttemptLimiter(int maxFailures = 20, Clock::duration window = std::chrono::minutes(1),
                                    Clock::duration blockFor = std::chrono::minutes(1));

    // True while the address must wait, whatever password it brings.
    bool isBlocked(const std::string &address, Clock::time_point now = Clock::now());
    void recordFailure(const std::string &address, Clock::time_point now = Clock::now());

private:
    struct Entry {
        std::deque<Clock::time_point> failures;
        Clock::time_point blockedUntil{};
    };
    void prune(Clock::time_point now);

    const int m_maxFailures;
    const Clock::duration m_window;
    const Clock::duration m_blockFor;
    std::mutex m_mutex;
    std::map<std::string, Entry> m_entries;
};
