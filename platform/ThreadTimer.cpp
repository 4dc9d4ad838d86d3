#include "platform/ThreadTimer.h"

#include "platform/CThreadTimer.h"
#include "platform/MessageLoop.h"

#include <map>
#include <mutex>

namespace {

std::mutex g_timersMutex;
UINT_PTR g_nextTimerId = 1;

std::map<UINT_PTR, std::shared_ptr<CThreadTimer>>& Timers()
{
    static auto* timers = new std::map<UINT_PTR, std::shared_ptr<CThreadTimer>>();
    return *timers;
}

} // namespace

std::shared_ptr<CThreadTimer> FindThreadTimer(UINT_PTR id)
{
    std::lock_guard<std::mutex> guard(g_timersMutex);
    auto it = Timers().find(id);
    return it == Timers().end() ? nullptr : it->second;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC procedure)
{
    if (window || !procedure) return 0;
    if (auto existing = FindThreadTimer(id); existing && existing->OwnedByCurrentThread())
        return existing->Start(elapseMs, procedure) ? id : 0;

    UINT_PTR newId;
    {
        std::lock_guard<std::mutex> guard(g_timersMutex);
        newId = g_nextTimerId++;
    }
    auto timer = std::make_shared<CThreadTimer>(newId, CurrentMessageQueue());
    if (!timer->Start(elapseMs, procedure)) return 0;
    std::lock_guard<std::mutex> guard(g_timersMutex);
    Timers()[newId] = std::move(timer);
    return newId;
}

bool KillTimer(HWND window, UINT_PTR id)
{
    if (window) return false;
    std::shared_ptr<CThreadTimer> timer;
    {
        std::lock_guard<std::mutex> guard(g_timersMutex);
        auto it = Timers().find(id);
        if (it == Timers().end()) return false;
        timer = std::move(it->second);
        Timers().erase(it);
    }
    // Outside the registry lock: leaving the poll set may wait for the
    // owner's poll source call to end.
    timer->Detach();
    return true;
}
