#include "settings/load.h"

#include "bootenv/uboot_env.h"
#include "settings/factory.h"
#include "settings/migrate.h"
#include "store/log.h"
#include "settings/image.h"

#include <cstdio>
#include <cstring>

int preserve_format = 0;

namespace {

constexpr settings::Field kMagic = settings::F("magic");
constexpr settings::Field kVersion = settings::F("version");

} // namespace

void nvram_load(int option, int *slot)
{
    settle_uboot_env();
    nvram_read(slot);

    DecodeResult decoded = decode_raw_image(raw_nvram_image, settings_image);
    if (decoded.failed_block >= 0) {
        log_event(LOG_NOTICE, "NVRAM block %d failed check\n", decoded.failed_block);
        factory_restore(option, slot);
        return;
    }
    if (decoded.corrected > 0) {
        std::printf("Correctable errors: %d, no uncorrectable errors found.\n", decoded.corrected);
        nvram_store(slot);
        std::puts("NVRAM cleaned.");
    }

    if (!magic_accepted(settings_image)) {
        const unsigned char *m = settings_image + kMagic.offset;
        log_event(LOG_NOTICE, "NVRAM is unformatted or corrupted (%02X%02X%02X).\n", m[0], m[1], m[2]);
        factory_restore(option, slot);
    }

    unsigned version = settings::get_u(settings_image, kVersion);
    if (version > settings::kCurrentVersion && std::memcmp(settings_image + kMagic.offset, "002", 3) == 0) {
        settings::set_u(settings_image, kVersion, settings::kCurrentVersion);
        zero_pad(settings_image);
        nvram_store(slot);
        log_event(LOG_NOTICE, "NVRAM downgraded to version %d", settings::kCurrentVersion);
    } else if (version < settings::kCurrentVersion && preserve_format) {
        nvram_migrate(slot);
    }

    if (settings::get_u(settings_image, kVersion) == settings::kCurrentVersion || !preserve_format)
        return;
    log_event(LOG_NOTICE, "NVRAM format could not be preserved.\n");
    factory_restore(option, slot);
}
