#include "platform/CAutoResetEvent.h"

#include <chrono>

void CAutoResetEvent::Set()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_set = true;
    }
    m_changed.notify_one();
}

bool CAutoResetEvent::Wait(DWORD timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (timeoutMs == INFINITE_WAIT) {
        m_changed.wait(lock, [this] { return m_set; });
    } else if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_set; })) {
        return false;
    }
    m_set = false;
    return true;
}
