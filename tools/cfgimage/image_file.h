// Raw NVRAM images as files: reading one, decoding every codeword for a
// report, and replacing one whole.
#pragma once

#include "settings/layout.h"
#include "store/nvram.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cfgimage {

using RawImage = std::array<std::uint8_t, RAW_IMAGE_SIZE>;
using SettingsImage = std::array<std::uint8_t, settings::IMAGE_SIZE>;

// Every codeword decoded, not only those up to the first failure.
struct Decoded {
    SettingsImage image{};                       // uncorrectable blocks as stored
    std::array<int, NVRAM_BLOCKS> corrected{};   // bytes per codeword; -1 uncorrectable
    int corrected_total = 0;
    std::vector<int> uncorrectable;
};
Decoded decode_all(const RawImage &raw);

// What `check` tells, from the worst: see the README's exit statuses.
enum class Health { Clean = 0, Corrected = 1, Uncorrectable = 2, Unformatted = 3, OtherVersion = 4 };
Health health(const Decoded &d);
std::string health_summary(const Decoded &d);

// Reads exactly one raw image; the error is one line naming the file.
std::optional<std::string> read_raw(const std::string &path, RawImage &raw);

// Encodes the image (its pad zeroed) and replaces the file whole: a regular
// file (or a new one) through a temporary file and a rename, a device in
// one write.
std::optional<std::string> write_image(const std::string &path, SettingsImage &image);

} // namespace cfgimage
