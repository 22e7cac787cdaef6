#pragma once

#include <cstdio>
#include <cstdlib>

// A failed property ends the run with a message; libFuzzer then keeps the input that broke it.
// Unlike assert, it stays on in optimised builds.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)
