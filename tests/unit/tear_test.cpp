// A power cut inside a device write leaves the first k bytes new and the rest
// old. For every k, the next load must use the old or the new bytes whole:
// the record of the write finishes it. A device that another writer wrote
// since is used as it is, and the record dropped.
#include "bootenv/uboot_env.h"
#include "e2e/sim_module.h"
#include "settings/factory.h"
#include "settings/image.h"
#include "settings/migrate.h"
#include "store/record.h"
#include "unit/image_fixture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

using Buffer = std::vector<std::uint8_t>;

Buffer encoded(Buffer image)
{
    Buffer raw(kRawImageSize);
    encode_image(image.data(), raw.data());
    return raw;
}

Buffer patched(const std::string &lines, Buffer image = sample_image())
{
    patch_image(image, lines, "tear case");
    return image;
}

Buffer migrated(Buffer image)
{
    settings::migrate_image(settings::Image(image.data(), image.size()), [] { return 0; });
    return image;
}

struct Write {
    const char *name;
    const RecordedDevice &device;
    Buffer old, next;
};

std::vector<Write> writes()
{
    Buffer padded = patched("pad fill:5a"), stored(kRawImageSize);
    encode_blocks(padded.data(), stored.data());  // the pad as an older writer left it
    stored[7] ^= 0x40;                            // corrected by the load, then written back
    FactoryFacts facts;
    facts.admin_hash = "$1$salt$hash";
    Buffer defaults(kNvramDataSize);
    compose_factory_defaults(defaults.data(), facts);
    Buffer custom = uboot_block({"custom=kept", "bootargs=root=/dev/ram0 console=ttyS0,9600", "baudrate=9600"});
    Buffer faster = custom;
    uboot_env_set_baudrate(faster.data(), 57600);
    Buffer v20 = patched(read_file(CFG_SOURCE_DIR "/tests/golden/migrate-inputs/version-20-layout.txt") + "version 20",
                         Buffer(kNvramDataSize));
    return {
        {"one field", kEnvDevice, encoded(sample_image()), encoded(patched("rackName \"Rack 9\""))},
        {"a hash across codewords 6 and 7", kEnvDevice, encoded(sample_image()),
         encoded(patched("userRecords[10].userPasswordHash \"$1$new$0123456789abcdefghij\""))},
        {"an import of five settings", kEnvDevice, encoded(sample_image()),
         encoded(patched("rackName \"R5\"; enclosureName \"E5\"; ntpServer1 \"192.0.2.5\"; "
                         "userRecords[10].userPasswordHash \"$1$x$y\"; userRecords[20].userName \"u5\""))},
        {"migration 30 to 40", kEnvDevice, encoded(patched("version 30")), encoded(migrated(patched("version 30")))},
        {"migration 20 to 40", kEnvDevice, encoded(v20), encoded(migrated(v20))},
        {"correction over a non-zero pad", kEnvDevice, stored, encoded(padded)},
        {"factory restore over an erased device", kEnvDevice, Buffer(kRawImageSize, 0xFF), encoded(defaults)},
        {"boot loader baud rate", kUbootDevice, custom, faster},
    };
}

// The bytes the next load of `device` uses.
Buffer load(const RecordedDevice &device)
{
    if (&device == &kUbootDevice) {
        Buffer block(kUbootEnvSize);
        read_uboot_env(block.data());
        return block;
    }
    nvram_read(nullptr);
    return Buffer(raw_nvram_image, raw_nvram_image + kRawImageSize);
}

} // namespace

TEST(Tear, EveryCutOfADeviceWriteLoadsTheOldOrTheNewBytesWhole)
{
    // On tmpfs where there is one: the load syncs the device it finishes.
    if (std::filesystem::is_directory("/dev/shm"))
        ::setenv("TMPDIR", "/dev/shm", 1);
    SimModule m;
    ::setenv("CFGPULL_SIM_ROOT", m.root().c_str(), 1);
    m.make_blank();
    // Slower builds take every 25th (sanitized) or 17th (emulated) cut, and
    // every codeword boundary.
    const std::size_t stride = *CFG_EMULATOR != '\0' ? 17 : kSanitized ? 25 : 1;
    for (const Write &w : writes()) {
        SCOPED_TRACE(w.name);
        ASSERT_NE(w.old, w.next);
        // A write that fails before the device changed drops its record.
        m.write_bytes(w.device.path, w.old);
        int read_only = ::open(m.at(w.device.path).c_str(), O_RDONLY);
        DeviceWrite failed = write_recorded(w.device, read_only, w.next);
        ::close(read_only);
        EXPECT_TRUE(failed.error != 0 && !failed.pending && !m.exists(w.device.record()));
        // The record a write makes before it touches the device.
        const Buffer record = encode_record(w.old, w.next);
        m.write_bytes(w.device.record(), record);
        if (&w.device == &kEnvDevice) {  // a read never writes, but tells what the next load will use
            RunResult r = m.run("cfgimage", {"check"});
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_NE(r.err.find(": a write was cut; the next load finishes it from "), std::string::npos) << r.err;
            EXPECT_EQ(m.read_bytes(w.device.path), w.old);
            EXPECT_EQ(m.read_bytes(w.device.record()), record);
        }
        // The rest old, or erased where a flash device was cut between its
        // erase and its programming (at codeword boundaries).
        auto loads_whole = [&](std::size_t k, bool erased) {
            Buffer torn = w.next;
            for (std::size_t i = k; i < torn.size(); ++i)
                torn[i] = erased ? 0xFF : w.old[i];
            m.write_bytes(w.device.path, torn);
            m.write_bytes(w.device.record(), record);
            return load(w.device) == w.next && m.read_bytes(w.device.path) == w.next && !m.exists(w.device.record());
        };
        std::size_t cuts = 0;
        for (std::size_t k = 0; k <= w.old.size(); ++k) {
            bool boundary = k % kRsN == 0 || k == w.old.size();
            if (k % stride != 0 && !boundary)
                continue;
            if (!loads_whole(k, false) || (boundary && !loads_whole(k, true))) {  // one report a write
                ADD_FAILURE() << "cut at " << k << " not loaded whole";
                break;
            }
            ++cuts;
        }
        EXPECT_GT(cuts, w.old.size() / stride);
        // Another writer since: its bytes stand, the record goes. So does a
        // record that is cut, damaged, or that others may write.
        Buffer other = w.old, cut(record.begin(), record.end() - 1), damaged = record;
        std::transform(other.begin(), other.end(), w.next.begin(), other.begin(), [](auto a, auto b) { return a ^ b ^ 1; });
        damaged[20] ^= 1;
        const std::pair<const Buffer &, const Buffer &> dropped[] = {
            {other, record}, {w.old, cut}, {w.old, damaged}, {w.old, record}};
        for (const auto &[device, file] : dropped) {
            m.write_bytes(w.device.path, device);
            m.write_bytes(w.device.record(), file);
            if (&device == &w.old && &file == &record)
                std::filesystem::permissions(m.at(w.device.record()), std::filesystem::perms::others_write,
                                             std::filesystem::perm_options::add);
            load(w.device);
            EXPECT_EQ(m.read_bytes(w.device.path), device);
            EXPECT_FALSE(m.exists(w.device.record()));
        }
    }
    std::string log = m.read("/sim/syslog");
    EXPECT_NE(log.find("cfgtools: Unfinished write of /dev/env finished from /etc/.env.pending."), std::string::npos);
    for (const char *line : {"Write record /etc/.uboot.pending dropped: /dev/uboot has been written since.",
                             "Write record /etc/.env.pending dropped: incomplete or damaged.",
                             "Write record /etc/.env.pending dropped: not root's own, or others may write it."})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}
