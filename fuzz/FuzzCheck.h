#pragma once
// A promise of the code under test, checked on every fuzz input: a broken
// one names itself and aborts, which libFuzzer reports as a finding.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(promise)                                                                    \
    do {                                                                                       \
        if (!(promise)) {                                                                      \
            fprintf(stderr, "%s:%d: promise broken: %s\n", __FILE__, __LINE__, #promise);      \
            abort();                                                                           \
        }                                                                                      \
    } while (0)
