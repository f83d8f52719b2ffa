// The migration chain: one step per source version. Internal to migrate.cpp
// and its tests.
#pragma once

#include "settings/migrate.h"

#include <cstdint>
#include <span>

namespace settings {

struct StepContext {
    FipsQuery fips_mode;
    MigrationLog &log;
    void note(const char *format, ...) __attribute__((format(printf, 2, 3)));
};

struct MigrationStep {
    std::uint8_t from;  // the step leaves the image at from + 1
    void (*run)(std::uint8_t *image, StepContext &ctx);
};

// Ascending by source version.
std::span<const MigrationStep> migration_chain();

} // namespace settings
