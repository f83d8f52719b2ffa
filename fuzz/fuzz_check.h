// A property that must hold for every input: a failure aborts, so that
// libFuzzer keeps the input and the replay test fails on it.
#pragma once

#include "settings/layout.h"
#include "writers/user_table.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

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

// Every file a run composes from `image`, the six key=value files first, the
// account files read in `users` (passwd keeping "$1$kept" for mlnuser_).
struct ComposedFile {
    const char *name;
    std::string text;
};
std::vector<ComposedFile> compose_all(const std::uint8_t *image, const settings::UserLayout &users, LogEntries &log);
