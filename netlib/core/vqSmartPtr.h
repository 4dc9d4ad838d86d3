#pragma once
// An owning interface pointer: holds one reference on its object.
//
// Contract: construction from a raw pointer and copying take a reference;
// destruction releases it. Assign of the pointer already held does nothing.
// CreateInstance is the library's only factory: it empties the pointer, makes
// the object of the class id and takes the object's first reference; an
// unknown id answers false and leaves the pointer empty.

#include "netlib/core/vqIUnknown.h"

#include <cstdint>

class vqSmartPtr {
public:
    vqSmartPtr() = default;
    vqSmartPtr(vqIUnknown* raw); // NOLINT: implicit by design, like the raw pointer it wraps
    vqSmartPtr(const vqSmartPtr& other);
    vqSmartPtr& operator=(const vqSmartPtr& other);
    virtual ~vqSmartPtr();

    void Assign(vqIUnknown* raw);
    void Assign(const vqSmartPtr& other) { Assign(other.m_pointer); }
    vqIUnknown* Get() const { return m_pointer; }
    template <class T>
    T* As() const
    {
        return static_cast<T*>(m_pointer);
    }
    bool QueryInterface(uint32_t interfaceId, void** out) const;
    bool CreateInstance(uint32_t classId);

private:
    vqIUnknown* m_pointer = nullptr;
};

// Makes an object of a class id with no reference taken; null for an unknown
// id. The table lives at the top of the network library (ClassTable.cpp),
// which knows every class.
vqIUnknown* vqCreateObject(uint32_t classId);
// Lets a test make objects of a class of its own (one at a time; null maker
// removes it).
void vqRegisterClassForTesting(uint32_t classId, vqIUnknown* (*maker)());
