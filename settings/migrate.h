// Settings version migration: older layouts brought to the current one.
#pragma once

#include "settings/layout.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace settings {

using Image = std::span<std::uint8_t, kImageSize>;

// Asked only when the user table may change layout: non-zero in FIPS mode.
using FipsQuery = int (*)();

// The messages one migration produces, in order, for the caller to log.
using MigrationLog = std::vector<std::string>;

// Runs the one step from the image's version to the next. Returns false,
// changing nothing, when no step starts at that version.
bool migrate_one_step(Image image, FipsQuery fips_mode, MigrationLog &log);

// Brings the image up one version at a time as far as the steps reach.
// Touches nothing but the image.
MigrationLog migrate_image(Image image, FipsQuery fips_mode);

} // namespace settings

// Migrates the settings image in memory one version at a time; stores it when
// it reached the current version.
void nvram_migrate(int *env_lock_fd);
