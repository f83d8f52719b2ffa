// A raw /dev/env of any length and content through what a load does with it:
// codeword correction, the magic test, the migration from whatever version
// the image claims (FIPS mode off and on), then every file composer on the
// result. Nothing may crash, read outside the image or the buffers, or hit
// undefined behaviour.
//
// Past the first uncorrectable codeword the load would restore factory
// defaults; here the data bytes of the remaining codewords are taken as
// they stand instead, so that arbitrary settings reach the migration and
// the composers (random codewords are almost never correctable).
#include "fuzz_check.h"

#include "settings/layout.h"
#include "settings/migrate.h"
#include "settings/image.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace {

using Image = std::array<std::uint8_t, settings::kImageSize>;

int fips_off() { return 0; }
int fips_on() { return 1; }

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_sim_root();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static std::uint8_t raw[kRawImageSize], before[kRawImageSize];
    std::memset(raw, 0, sizeof raw);
    std::memcpy(raw, data, std::min(size, sizeof raw));
    std::memcpy(before, raw, sizeof raw);

    Image image{};
    DecodeResult decoded = decode_raw_image(raw, image.data());
    FUZZ_CHECK(decoded.corrected >= 0);
    if (decoded.failed_block >= 0) {
        std::size_t first = static_cast<std::size_t>(decoded.failed_block);
        FUZZ_CHECK(first < kNvramBlocks);
        FUZZ_CHECK(std::memcmp(raw + first * kRsN, before + first * kRsN, sizeof raw - first * kRsN) == 0);
        for (std::size_t i = first; i < kNvramBlocks; ++i)
            std::memcpy(image.data() + i * kRsK, raw + i * kRsN, kRsK);
    } else {
        FUZZ_CHECK(decoded.corrected <= static_cast<int>(kNvramBlocks * kRsParity / 2));
    }
    (void)magic_accepted(image.data());

    unsigned version = settings::get_u(image.data(), settings::F("version"));
    for (bool fips : {false, true}) {
        Image migrated = image;
        settings::MigrationLog log = settings::migrate_image(migrated, fips ? fips_on : fips_off);
        if (version >= 18 && version < settings::kCurrentVersion)
            FUZZ_CHECK(settings::get_u(migrated.data(), settings::F("version")) == settings::kCurrentVersion);
        else
            FUZZ_CHECK(migrated == image);
        LogEntries entries;
        const settings::UserLayout &users = *choose_user_layout(migrated.data(), fips, true).layout;
        compose_all(migrated.data(), users, entries);
        pin_admin_record(migrated.data(), users);
    }
    return 0;
}
