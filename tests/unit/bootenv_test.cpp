// Boot loader environment blocks: the CRC, the default environment and the
// baud-rate and USB edits.
#include "bootenv/uboot_env.h"
#include "sim_root.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Block = std::vector<unsigned char>;
using Entries = std::vector<std::string>;

const Entries &kDefault = default_uboot_entries();

// The default environment ends with one more NUL after its end mark.
Block default_block(unsigned char pad)
{
    Block b = uboot_block(kDefault, pad);
    b[4 + 202] = 0;
    uboot_env_store_crc(b.data());
    return b;
}

std::string debug_log() { return sim_root().read("/ramdisk/ubootmsg.log"); }

class BootEnv : public ::testing::Test {
protected:
    void SetUp() override { clear_sim_logs(); }
};

} // namespace

TEST_F(BootEnv, EditsGiveTheExpectedBlockOrLeaveItAlone)
{
    Entries rate115 = kDefault, usb3 = kDefault;
    rate115[2] = "baudrate=115200";
    rate115[10] = "bootargs=root=/dev/ram0 console=ttyS0,115200";
    usb3[10] += " usbd=3";
    // Longer than the 63 characters an entry once was cut to.
    std::string many = "bootargs=root=/dev/ram0 console=ttyS0,9600 usbd=1";
    for (int k = 0; k < 12; ++k)
        many += " param" + std::to_string(k) + "=value";
    std::string many38400 = many;
    many38400.replace(many.find("9600"), 4, "38400");
    // One byte free (a growth of two cannot fit, one can), and none for " usbd=1".
    const std::string full_z = "z=" + std::string(1020 - 1 - 14 - 1 - 1 - 2, 'x');
    const std::string full_a = "a=" + std::string(1020 - 2 - 2 - 1 - 1 - 10, 'x');

    enum Op { Baud, Usb };
    struct Row {
        const char *what;
        Entries before;
        Op op;
        int value;
        int rc;
        Entries after;  // empty: the block stays as it was
        const char *log = "";
        unsigned char pad = 0xFF;
        std::string board = "ZELMARBOARDTYPE=0\n";
        std::size_t size = UBOOT_ENV_SIZE;
        std::string stale = "";  // written past the end mark
    };
    const Row rows[] = {
        {"rate on the default", kDefault, Baud, 115200, 0, rate115},
        {"rate back: freed bytes padded", rate115, Baud, 9600, 0, kDefault},
        {"long bootargs, other order", {many, "silent=1", "baudrate=9600"}, Baud, 38400, 0,
         {many38400, "silent=1", "baudrate=38400"}, "", 0x00},
        {"bootargs without console", {"bootargs=root=/dev/ram0", "baudrate=9600"}, Baud, 57600, 0,
         {"bootargs=root=/dev/ram0", "baudrate=57600"}},
        {"rate outgrowing the block", {"baudrate=9600", full_z}, Baud, 115200, -1, {}},
        {"rate filling the block", {"baudrate=9600", full_z}, Baud, 19200, 0, {"baudrate=19200", full_z}},
        {"bad size", kDefault, Baud, 115200, -1, {},
         "update_uboot_baudrate_setting: Invalid buffer size and/or address parameters found.", 0xFF,
         "ZELMARBOARDTYPE=0\n", 1023},
        {"bad rate", kDefault, Baud, 12345, -1, {}, "update_uboot_baudrate_setting: Invalid baudrate value found."},
        {"usb on the default", kDefault, Usb, 3, 0, usb3},
        {"usb moves bootargs last", {"bootargs=root=/dev/ram0", "baudrate=9600", "silent=1"}, Usb, 0, 0,
         {"baudrate=9600", "silent=1", "bootargs=root=/dev/ram0 usbd=0"}},
        {"usb replaces the digit", {"bootargs=root=/dev/ram0 usbd=1 quiet", "baudrate=9600"}, Usb, 5, 0,
         {"bootargs=root=/dev/ram0 usbd=5 quiet", "baudrate=9600"}},
        {"usb fills a bare usbd=", {"bootargs=a usbd=", "x=1"}, Usb, 2, 0, {"bootargs=a usbd=2", "x=1"}},
        {"usb out of range", kDefault, Usb, 10, -1, {}, "update_usb_setting: USB value of 10 is out of range."},
        {"usb without bootargs", {"baudrate=9600"}, Usb, 1, -1, {},
         "Unable to locate bootargs entry in UBOOT environment."},
        {"usb with bootargs only past the end mark", {"baudrate=9600"}, Usb, 1, -1, {}, "", 0x00,
         "ZELMARBOARDTYPE=0\n", UBOOT_ENV_SIZE, "bootargs=old"},
        {"usb outgrowing the block", {full_a, "bootargs="}, Usb, 1, -1, {}},
        {"usb on a board type without it", kDefault, Usb, 10, 0, {}, "", 0xFF, "ZELMARBOARDTYPE=2\n"},
        {"usb without a board type", kDefault, Usb, 1, -1, {}, "Failed to read the ZELMAR board type.", 0xFF,
         "nothing here\n"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        clear_sim_logs();
        sim_root().write("/etc/gpio_states", "GPIO_A=1\n" + r.board);
        Block b = uboot_block(r.before, r.pad);
        if (!r.stale.empty()) {
            std::copy(r.stale.begin(), r.stale.end(), b.begin() + 600);
            uboot_env_store_crc(b.data());
        }
        const Block before = b;
        int rc = r.op == Baud ? update_uboot_baudrate_setting(r.value, b.data(), r.size)
                              : update_usb_setting(static_cast<std::uint32_t>(r.value), b.data());
        EXPECT_EQ(rc, r.rc);
        EXPECT_EQ(b, r.after.empty() ? before : uboot_block(r.after, r.pad));
        EXPECT_NE(debug_log().find(r.log), std::string::npos) << debug_log();
    }
    EXPECT_EQ(update_uboot_baudrate_setting(115200, nullptr, UBOOT_ENV_SIZE), -1);
}

TEST_F(BootEnv, DeviceReadChecksTheCrcAndWriteStoresTheBlockAsItIs)
{
    // A bad CRC, erased or big-endian read the other way round or covering a
    // changed byte past the end mark, gives the default environment.
    Block good = uboot_block(kDefault), swapped = good, tail = good;
    std::swap(swapped[0], swapped[3]);
    std::swap(swapped[1], swapped[2]);
    tail[1023] ^= 1;
    const std::pair<Block, bool> stored[] = {{good, false}, {swapped, true}, {tail, true}};
    for (const auto &[block, fallback] : stored) {
        clear_sim_logs();
        sim_root().write_bytes("/dev/uboot", block);
        Block b(UBOOT_ENV_SIZE, 0);
        ASSERT_EQ(read_uboot_env(b.data()), 0);
        EXPECT_EQ(debug_log().find("Bad UBOOT environment CRC value found") != std::string::npos, fallback);
        if (!fallback) {
            EXPECT_EQ(b, good);
        }
    }
    sim_root().write_bytes("/dev/uboot", Block(UBOOT_ENV_SIZE, 0xFF));
    Block b(UBOOT_ENV_SIZE, 0);
    ASSERT_EQ(read_uboot_env(b.data()), 0);
    EXPECT_EQ(b, default_block(0xFF));  // the erased tail stays
    EXPECT_NE(debug_log().find("Bad UBOOT environment CRC value found [207EAF8D], using default environment"),
              std::string::npos);
    EXPECT_EQ(read_uboot_env(nullptr), -1);

    Block stale = uboot_block({"a=1"});
    stale[10] = 'b';  // edited without a new CRC: written as it is
    EXPECT_EQ(write_uboot_env(stale.data()), 0);
    EXPECT_EQ(sim_root().read_bytes("/dev/uboot"), stale);
}
