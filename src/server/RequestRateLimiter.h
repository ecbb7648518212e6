// At most a number of requests of one kind per address within a window: what
// a peer may make us create (a prompt, a task folder) is paced per address.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

class RequestRateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    RequestRateLimiter(int maxPerWindow, Clock::duration window);

    // True, and counted, when address may make one more request now.
    bool allow(const std::string &address, Clock::time_point now = Clock::now());

private:
    const int m_max;
    const Clock::duration m_window;
    std::mutex m_mutex;
    std::map<std::string, std::deque<Clock::time_point>> m_requests; // only addresses with requests in the window
};
