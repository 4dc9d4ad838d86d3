#pragma once
// "I may be destroyed inside this call", for a reference-counted network
// object (a context, a layer, a downloader): a guard on the stack holds one
// reference for the rest of the call, so a callee that drops the last other
// reference only schedules the end. Objects held by plain or unique pointer
// use vqCLifeToken instead (docs/ARCHITECTURE.md, "Lifetime inside
// callbacks").

template <class T>
class vqCKeepAlive {
public:
    explicit vqCKeepAlive(T* object) : m_object(object) { m_object->AddRef(); }
    ~vqCKeepAlive() { m_object->Release(); }
    vqCKeepAlive(const vqCKeepAlive&) = delete;
    vqCKeepAlive& operator=(const vqCKeepAlive&) = delete;
    T* operator->() const { return m_object; }

private:
    T* m_object;
};
