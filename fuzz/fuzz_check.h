// A property that must hold for every input: a failure aborts, so that
// libFuzzer keeps the input and the replay test fails on it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <utility>

#define FUZZ_CHECK(cond)                                                              \
    do {                                                                              \
        if (!(cond)) {                                                                \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                             \
        }                                                                             \
    } while (0)

// Points the simulated platform at an empty scratch root, so that a platform
// call reached from the core finds nothing instead of ending the process.
// `files` are module paths created there with their contents.
void fuzz_sim_root(std::initializer_list<std::pair<const char *, const char *>> files = {});
