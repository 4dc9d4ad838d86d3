#include "platform/MessageLoop.h"

#include "platform/CThreadTimer.h"
#include "platform/MessageQueue.h"

#include <time.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

DWORD CurrentThreadIdImpl();

namespace {

struct WindowRecord {
    WNDPROC procedure = nullptr;
    void* userData = nullptr;
    ForeignDeliverFn deliver = nullptr;
    void* owner = nullptr;
    std::weak_ptr<CMessageQueue> queue;
};

std::atomic<uintptr_t> g_nextWindow{0x100};
std::mutex g_windowMutex;
std::map<HWND, std::shared_ptr<WindowRecord>>& Windows()
{
    static auto* windows = new std::map<HWND, std::shared_ptr<WindowRecord>>();
    return *windows;
}

HWND RegisterWindow(std::shared_ptr<WindowRecord> record)
{
    HWND handle = reinterpret_cast<HWND>(g_nextWindow.fetch_add(1));
    std::lock_guard<std::mutex> guard(g_windowMutex);
    Windows()[handle] = std::move(record);
    return handle;
}

std::shared_ptr<WindowRecord> FindWindow(HWND window)
{
    std::lock_guard<std::mutex> guard(g_windowMutex);
    auto it = Windows().find(window);
    return it == Windows().end() ? nullptr : it->second;
}

} // namespace

std::shared_ptr<CMessageQueue> FindWindowMessageQueue(HWND window)
{
    auto record = FindWindow(window);
    return record && record->procedure ? record->queue.lock() : nullptr;
}

DWORD GetCurrentThreadId()
{
    return CurrentThreadIdImpl();
}

HWND CreateMessageWindow(WNDPROC procedure, void* userData)
{
    if (!procedure) return nullptr;
    auto record = std::make_shared<WindowRecord>();
    record->procedure = procedure;
    record->userData = userData;
    record->queue = CurrentMessageQueue();
    return RegisterWindow(std::move(record));
}

HWND CreateForeignWindow(ForeignDeliverFn deliver, void* owner)
{
    if (!deliver) return nullptr;
    auto record = std::make_shared<WindowRecord>();
    record->deliver = deliver;
    record->owner = owner;
    return RegisterWindow(std::move(record));
}

bool DestroyMessageWindow(HWND window)
{
    std::lock_guard<std::mutex> guard(g_windowMutex);
    return Windows().erase(window) == 1;
}

bool IsMessageWindow(HWND window)
{
    return FindWindow(window) != nullptr;
}

void* GetMessageWindowUserData(HWND window)
{
    auto record = FindWindow(window);
    return record ? (record->deliver ? record->owner : record->userData) : nullptr;
}

bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto record = FindWindow(window);
    if (!record) return false;
    MSG msg{window, message, wParam, lParam};
    if (record->deliver) {
        record->deliver(record->owner, msg);
        return true;
    }
    auto queue = record->queue.lock();
    return queue && queue->Post(msg);
}

bool PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto queue = FindMessageQueue(threadId);
    return queue && queue->Post(MSG{nullptr, message, wParam, lParam});
}

void PostQuitMessage(int exitCode)
{
    CurrentMessageQueue()->Post(MSG{nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0});
}

int GetMessage(MSG* msg)
{
    if (!msg) return -1;
    if (!CurrentMessageQueue()->Take(msg, INFINITE_WAIT)) return -1;
    return msg->message == WM_QUIT ? 0 : 1;
}

bool GetMessageTimeout(MSG* msg, DWORD timeoutMs)
{
    return msg && CurrentMessageQueue()->Take(msg, timeoutMs);
}

bool PeekMessage(MSG* msg, bool remove)
{
    return msg && CurrentMessageQueue()->TryTake(msg, remove);
}

bool TranslateMessage(const MSG*)
{
    return false;
}

LRESULT DispatchMessage(const MSG* msg)
{
    if (!msg) return 0;
    if (!msg->hwnd) {
        if (msg->message == WM_TIMER && msg->lParam != 0) {
            if (auto timer = FindThreadTimer(msg->wParam)) timer->OnDispatched();
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const DWORD tickMs = static_cast<DWORD>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
            auto procedure = reinterpret_cast<TIMERPROC>(msg->lParam);
            procedure(nullptr, WM_TIMER, msg->wParam, tickMs);
        }
        return 0;
    }
    auto record = FindWindow(msg->hwnd);
    if (!record || !record->procedure) return 0;
    return record->procedure(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}
