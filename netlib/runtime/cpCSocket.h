#pragma once
// A reference-counted object over one socket record (class id 0x1005). Each
// operation forwards to the socket function of the same name
// (cpSocketFunctions.h) and answers its result code.
//
// Ownership: the object owns its record from Create (or Accept into it) until
// Close or destruction, both of which close the socket and free the record.

#include "netlib/core/vqCRefCounted.h"
#include "netlib/runtime/cpSocketFunctions.h"

class cpCSocket : public vqCRefCounted<vqIUnknown> {
public:
    cpCSocket() = default;
    ~cpCSocket() override;

    virtual vqRESULT Create(uint32_t type);
    virtual vqRESULT Connect(const cpADDRESS& address);
    virtual vqRESULT Close();
    virtual vqRESULT Send(const void* bytes, uint32_t length, int32_t* sent);
    virtual vqRESULT Receive(void* buffer, uint32_t size, int32_t* received);
    virtual vqRESULT Shutdown(); // does nothing
    virtual vqRESULT Bind(const cpADDRESS& address);
    virtual vqRESULT Listen();
    // The accepted socket's record goes to *record (made when null); the
    // caller owns it.
    virtual vqRESULT Accept(cpSocketRecord** record, cpADDRESS* peer);
    virtual vqRESULT SendTo(const void* bytes, uint32_t length, const cpADDRESS& address, int32_t* sent);
    virtual vqRESULT SetOption(int option);
    virtual vqRESULT ReceiveFrom(void* buffer, uint32_t size, cpADDRESS* from, int32_t* received);

    cpSocketRecord* Record() const { return m_record; }

private:
    cpSocketRecord* m_record = nullptr;
};
