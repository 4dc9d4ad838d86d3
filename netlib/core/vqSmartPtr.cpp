#include "netlib/core/vqSmartPtr.h"

vqSmartPtr::vqSmartPtr(vqIUnknown* raw) : m_pointer(raw)
{
    if (m_pointer) m_pointer->AddRef();
}

vqSmartPtr::vqSmartPtr(const vqSmartPtr& other) : vqSmartPtr(other.m_pointer) {}

vqSmartPtr& vqSmartPtr::operator=(const vqSmartPtr& other)
{
    Assign(other.m_pointer);
    return *this;
}

vqSmartPtr::~vqSmartPtr()
{
    if (m_pointer) m_pointer->Release();
}

void vqSmartPtr::Assign(vqIUnknown* raw)
{
    if (raw == m_pointer) return;
    // Take the new reference first: releasing the old object may destroy
    // the last holder of the new one.
    if (raw) raw->AddRef();
    vqIUnknown* old = m_pointer;
    m_pointer = raw;
    if (old) old->Release();
}

bool vqSmartPtr::QueryInterface(uint32_t interfaceId, void** out) const
{
    if (!m_pointer) return false;
    return !VQ_FAILED(m_pointer->QueryInterface(interfaceId, out));
}

bool vqSmartPtr::CreateInstance(uint32_t classId)
{
    Assign(nullptr);
    vqIUnknown* object = vqCreateObject(classId);
    if (!object) return false;
    Assign(object);
    return true;
}
