#pragma once
// Hooks for the service's own tests; front ends never include this.

class cpCMutex;

// The running service's network lock, or null when the service is not running.
cpCMutex* DlNetworkLockForTesting();
