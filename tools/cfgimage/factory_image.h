// A factory-default image made by the factory-defaults code, with the
// facts the hardware would give taken from the command line.
#pragma once

#include "tools/cfgimage/image_file.h"

#include <optional>
#include <string>

namespace cfgimage {

struct NewImageOptions {
    bool fips = false;
    std::optional<std::string> serial, part, unique_id, password, lcd_pin;
};

// Fills `image`, or returns a one-line error naming the option at fault.
std::optional<std::string> factory_image(const NewImageOptions &options, SettingsImage &image);

} // namespace cfgimage
