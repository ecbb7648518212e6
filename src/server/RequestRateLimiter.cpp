#include "RequestRateLimiter.h"

RequestRateLimiter::RequestRateLimiter(int maxPerWindow, Clock::duration window) : m_max(maxPerWindow), m_window(window)
{
}

bool RequestRateLimiter::allow(const std::string &address, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_requests.begin(); it != m_requests.end();) {
        auto &times = it->second;
        while (!times.empty() && now - times.front() >= m_window)
            times.pop_front();
        it = times.empty() ? m_requests.erase(it) : std::next(it);
    }
    auto &times = m_requests[address];
    if (static_cast<int>(times.size()) >= m_max)
        return false;
    times.push_back(now);
    return true;
}
