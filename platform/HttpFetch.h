#pragma once
// A small blocking HTTP(S) GET for pictures shown by the window (the
// banner); the downloads themselves go through the download service.
//
// Contract:
// - Runs on the caller's thread and blocks until the body is in, the server
//   answered with anything but 2xx, more than maxBytes arrived, timeoutMs
//   passed, or *cancel (when not null) became true; redirects are followed
//   (at most 5).
// - True only for a complete 2xx body, which is then in *body.
// - Safe to call from several threads at once.

#include <atomic>
#include <string>

bool HttpFetch(const std::string& url, size_t maxBytes, int timeoutMs, const std::atomic<bool>* cancel,
               std::string* body);
