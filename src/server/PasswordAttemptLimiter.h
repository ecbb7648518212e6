// Slows down password guessing: after too many wrong passwords from one
// address within a minute, that address is refused for a minute; and while
// too many wrong passwords came from all addresses together within the last
// minute, every address is refused, so that many addresses cannot multiply
// the guesses.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

class PasswordAttemptLimiter {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int kMaxFailuresPerAddress = 20;
    static constexpr int kMaxFailuresInAll = 100;

    explicit PasswordAttemptLimiter(int maxFailures = kMaxFailuresPerAddress,
                                    Clock::duration window = std::chrono::minutes(1),
                                    Clock::duration blockFor = std::chrono::minutes(1),
                                    int maxFailuresInAll = kMaxFailuresInAll);

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
    const int m_maxFailuresInAll;
    const Clock::duration m_window;
    const Clock::duration m_blockFor;
    std::mutex m_mutex;
    std::map<std::string, Entry> m_entries;
    std::deque<Clock::time_point> m_allFailures; // within the window, from every address
};
