#pragma once
// "I may be destroyed inside this call", for an object its owner holds by
// plain or unique pointer (sessions, checkers, downloaders, records): the
// object keeps a token; before a call that may destroy it (a listener's
// report, a job event) it takes a watch, and after the call it reads the
// watch and touches nothing of itself when it has gone out. Reference-counted
// network objects use vqCKeepAlive instead (docs/ARCHITECTURE.md, "Lifetime
// inside callbacks").
//
// The watch outlives the token: reading it after the holder is gone is safe.

#include <memory>

class vqCLifeToken {
public:
    vqCLifeToken() = default;
    ~vqCLifeToken() { *m_alive = false; }
    vqCLifeToken(const vqCLifeToken&) = delete;
    vqCLifeToken& operator=(const vqCLifeToken&) = delete;

    // True while the holder lives and has not renewed the token since.
    std::shared_ptr<const bool> Watch() const { return m_alive; }
    // Ends every earlier watch without destroying the holder: a reset that
    // drops what a loop above it was walking.
    void Renew()
    {
        *m_alive = false;
        m_alive = std::make_shared<bool>(true);
    }

private:
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
