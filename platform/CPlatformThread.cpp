#include "platform/CPlatformThread.h"

#include "platform/CAutoResetEvent.h"
#include "platform/MessageQueue.h"

CPlatformThread::CPlatformThread() : m_ended(std::make_shared<CAutoResetEvent>()) {}

CPlatformThread::~CPlatformThread()
{
    Abandon();
}

bool CPlatformThread::Start(std::function<void()> body)
{
    if (m_thread.joinable() || !body) return false;
    auto queue = CreateMessageQueueForNewThread(&m_threadId);
    auto ended = m_ended;
    m_thread = std::thread([queue, ended, body = std::move(body)] {
        AdoptMessageQueue(queue);
        body();
        ended->Set();
    });
    return true;
}

bool CPlatformThread::WaitForEnd(DWORD timeoutMs)
{
    if (!m_thread.joinable()) return true;
    if (!m_ended->Wait(timeoutMs)) return false;
    m_thread.join();
    return true;
}

void CPlatformThread::Abandon()
{
    if (m_thread.joinable()) m_thread.detach();
}
