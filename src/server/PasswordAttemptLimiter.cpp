#include "PasswordAttemptLimiter.h"

PasswordAttemptLimiter::PasswordAttemptLimiter(int maxFailures, Clock::duration window, Clock::duration blockFor,
                                               int maxFailuresInAll)
    : m_maxFailures(maxFailures), m_maxFailuresInAll(maxFailuresInAll), m_window(window), m_blockFor(blockFor)
{
}

void PasswordAttemptLimiter::prune(Clock::time_point now)
{
    while (!m_allFailures.empty() && now - m_allFailures.front() >= m_window)
        m_allFailures.pop_front();
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        auto &f = it->second.failures;
        while (!f.empty() && now - f.front() >= m_window)
            f.pop_front();
        if (f.empty() && it->second.blockedUntil <= now)
            it = m_entries.erase(it);
        else
            ++it;
    }
}

bool PasswordAttemptLimiter::isBlocked(const std::string &address, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    prune(now);
    if (static_cast<int>(m_allFailures.size()) >= m_maxFailuresInAll)
        return true;
    const auto it = m_entries.find(address);
    return it != m_entries.end() && it->second.blockedUntil > now;
}

void PasswordAttemptLimiter::recordFailure(const std::string &address, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    prune(now);
    m_allFailures.push_back(now);
    Entry &e = m_entries[address];
    e.failures.push_back(now);
    if (static_cast<int>(e.failures.size()) >= m_maxFailures) {
        e.blockedUntil = now + m_blockFor;
        e.failures.clear();
    }
}
