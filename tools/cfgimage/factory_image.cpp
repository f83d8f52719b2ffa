#include "tools/cfgimage/factory_image.h"

#include "platform/platform.h"
#include "settings/factory.h"

#include <algorithm>

namespace cfgimage {

using settings::F;

namespace {

std::optional<std::string> too_long(const char *option, const std::optional<std::string> &value, settings::Field f)
{
    if (value && value->size() >= f.size)
        return std::string(option) + ": at most " + std::to_string(f.size - 1) + " characters";
    return std::nullopt;
}

} // namespace

std::optional<std::array<std::uint8_t, 6>> parse_unique_id(std::string_view hex)
{
    std::array<std::uint8_t, 6> id{};
    if (hex.size() != 2 * id.size())
        return std::nullopt;
    for (std::size_t i = 0; i < hex.size(); ++i) {
        char c = hex[i];
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0)
            return std::nullopt;
        id[i / 2] = static_cast<std::uint8_t>(id[i / 2] * 16 + v);
    }
    return id;
}

std::optional<std::string> factory_facts(const NewImageOptions &o, FactoryFacts &facts)
{
    facts.fips = o.fips;
    if (o.unique_id) {
        auto id = parse_unique_id(*o.unique_id);
        if (!id)
            return std::string("--unique-id: 12 hexadecimal digits");
        std::copy(id->begin(), id->end(), facts.unique_id);
        facts.identity_read = true;
    }
    if (auto error = too_long("--serial", o.serial, F("chassisSerialNumber")))
        return error;
    if (auto error = too_long("--part", o.part, F("chassisPartNumber")))
        return error;
    if (o.serial || o.part) {
        facts.fru_read = true;
        facts.chassis_serial = o.serial.value_or("");
        facts.chassis_part = o.part.value_or("");
    }
    if (o.lcd_pin && !o.fips)
        return std::string("--lcd-pin: used in FIPS mode only");
    if (auto error = too_long("--lcd-pin", o.lcd_pin, F("lcdPin")))
        return error;
    return std::nullopt;
}

std::optional<std::string> factory_image(const NewImageOptions &o, SettingsImage &image)
{
    FactoryFacts facts;
    if (auto error = factory_facts(o, facts))
        return error;
    if (o.password) {
        facts.admin_hash = factory_admin_hash(o.password->c_str(), o.fips);
        if (facts.admin_hash == "x")
            return std::string("--password: cannot be hashed");
    }
    char pin[7] = {};
    if (o.lcd_pin)
        o.lcd_pin->copy(pin, sizeof pin - 1);
    else if (o.fips)
        get_rand_password(pin, sizeof pin);
    compose_factory_defaults(image.data(), facts);
    // The boot loader step sets the baud rate; offline nothing else of it applies.
    settings::set_i(image.data(), F("baudRate"), kFactoryBaudRate);
    compose_boot_dependent_defaults(image.data(), o.fips, pin);
    em_safe_memset(pin, 0, sizeof pin);
    return std::nullopt;
}

} // namespace cfgimage
