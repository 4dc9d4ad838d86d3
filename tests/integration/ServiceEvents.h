#pragma once
// The service's events as a test sees them: the callback given to
// DlInitialize records every (code, param) on the service thread; the test
// thread counts them or waits for them, each wait bounded.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <utility>
#include <vector>

struct ServiceEvents {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<int, int>> seen;

    static void Callback(int code, int param, const void* userData)
    {
        auto* events = static_cast<ServiceEvents*>(const_cast<void*>(userData));
        std::lock_guard<std::mutex> guard(events->mutex);
        events->seen.emplace_back(code, param);
        events->changed.notify_all();
    }
    int Count(int code)
    {
        std::lock_guard<std::mutex> guard(mutex);
        return static_cast<int>(std::count_if(seen.begin(), seen.end(), [code](const auto& e) { return e.first == code; }));
    }
    // False when fewer than count events of the code arrived within the time.
    bool WaitFor(int code, int count = 1, int seconds = 90)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(seconds), [&] {
            return std::count_if(seen.begin(), seen.end(), [code](const auto& e) { return e.first == code; }) >= count;
        });
    }
    // The first of the codes to arrive from now on (0 after 120 s); forgets
    // what was seen.
    int WaitForOneOf(std::initializer_list<int> codes)
    {
        std::unique_lock<std::mutex> lock(mutex);
        int found = 0;
        changed.wait_for(lock, std::chrono::seconds(120), [&] {
            for (const auto& event : seen)
                if (std::find(codes.begin(), codes.end(), event.first) != codes.end()) {
                    found = event.first;
                    return true;
                }
            return false;
        });
        seen.clear();
        return found;
    }
};
