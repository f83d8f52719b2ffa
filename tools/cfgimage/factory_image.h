// A factory-default image made by the factory-defaults code, with the
// facts the hardware would give taken from the command line.
#pragma once

#include "settings/factory.h"
#include "tools/cfgimage/image_file.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace cfgimage {

struct NewImageOptions {
    bool fips = false;
    std::optional<std::string> serial, part, unique_id, password, lcd_pin;
};

// Twelve hexadecimal digits.
std::optional<std::array<std::uint8_t, 6>> parse_unique_id(std::string_view hex);

// The facts the options stand for (the password is hashed separately), or
// a one-line error naming the option.
std::optional<std::string> factory_facts(const NewImageOptions &options, FactoryFacts &facts);

// Fills `image`, or returns a one-line error naming the option at fault.
std::optional<std::string> factory_image(const NewImageOptions &options, SettingsImage &image);

} // namespace cfgimage
