// Factory defaults and the factory restore of an unusable settings image.
#pragma once

#include <cstdint>
#include <string>

// Replaces the settings image: in process for -a, through cfgpush otherwise.
// Returns with a usable image, or never (the module reboots).
void factory_restore(int option, int *env_lock_fd);

// Overwrites the whole settings image with factory defaults; does not store.
void build_factory_defaults(void);

// What the hardware told us, for the defaults that depend on it.
struct FactoryFacts {
    bool fips = false;
    bool identity_read = false;       // identity EEPROM read and checked
    std::uint8_t unique_id[6] = {};   // zero when nothing could be read
    bool fru_read = false;            // FRU chassis strings decoded
    std::string chassis_serial;       // at most 20 characters
    std::string chassis_part;         // at most 15 characters
    std::string admin_hash = "x";     // "x": no password can match
};

// The defaults that need nothing but the facts (every field not set by the
// boot loader step). `image` is zeroed first.
void compose_factory_defaults(std::uint8_t *image, const FactoryFacts &facts);

// The defaults set only once the boot loader environment has been updated.
// `lcd_pin` is used in FIPS mode only.
void compose_boot_dependent_defaults(std::uint8_t *image, bool fips, const char *lcd_pin);

// The console baud rate the defaults give the image and the boot loader.
inline constexpr int kFactoryBaudRate = 9600;

// crypt(3) of a password with a salt of the module's kind; "x" when the
// library cannot hash it.
std::string factory_admin_hash(const char *password, bool fips);

// The eight fixed traditional hashes kept in presetHashes.
extern const char *const kPresetHashes[8];
