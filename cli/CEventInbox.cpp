#include "cli/CEventInbox.h"

#include "platform/MessageLoop.h"
#include "service/DlApi.h"

#include <atomic>
#include <chrono>

namespace {
// A signal handler may only touch a lock-free atomic; waits look at it in
// short slices instead of being woken.
std::atomic<int> g_signal{0};
constexpr int kSliceMs = 100;
} // namespace

CEventInbox::CEventInbox() : m_window(CreateForeignWindow(&CEventInbox::Deliver, this)) {}

CEventInbox::~CEventInbox()
{
    DestroyMessageWindow(m_window);
}

void CEventInbox::Deliver(void* owner, const MSG& msg)
{
    if (msg.message != WM_DL_EVENT) return;
    auto* inbox = static_cast<CEventInbox*>(owner);
    {
        std::lock_guard<std::mutex> guard(inbox->m_mutex);
        inbox->m_events.push_back(DlEvent{static_cast<int>(msg.wParam), static_cast<int>(msg.lParam)});
    }
    inbox->m_arrived.notify_one();
}

bool CEventInbox::Wait(DlEvent* event, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_events.empty()) {
        if (g_signal.load() != 0) return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        m_arrived.wait_for(lock, std::min<std::chrono::steady_clock::duration>(deadline - now,
                                                                                std::chrono::milliseconds(kSliceMs)));
    }
    if (g_signal.load() != 0) return false;
    *event = m_events.front();
    m_events.pop_front();
    return true;
}

void CEventInbox::Interrupt(int signal)
{
    g_signal.store(signal);
}

bool CEventInbox::Interrupted()
{
    return g_signal.load() != 0;
}

int CEventInbox::InterruptSignal()
{
    return g_signal.load();
}
