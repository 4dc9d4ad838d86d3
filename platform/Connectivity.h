#pragma once
// "Is there an Internet connection": the downloaders ask once a second.
//
// The answer is yes when some network interface is up and running, is not a
// loopback interface and carries an IPv4 or IPv6 address. The check is
// replaceable so that tests against 127.0.0.1 can say "connected" (or play a
// lost connection) whatever the machine's interfaces are. Callable from any
// thread; the check must be set while no downloader is running.

typedef bool (*ConnectivityCheckFn)();

bool HasInternetConnection();

// Null restores the interface check.
void SetConnectivityCheckForTesting(ConnectivityCheckFn check);
